#include "state/reading.h"

namespace zvk {

const char* UnitName(ReadingUnit unit) {
  switch (unit) {
    case ReadingUnit::Celsius:
      return "\u00B0C";
    case ReadingUnit::Fahrenheit:
      return "\u00B0F";
    case ReadingUnit::Volt:
      break;
  }
  return "V";
}

const char* UnitSign(ReadingUnit unit) {
  switch (unit) {
    case ReadingUnit::Celsius:
      return "\u2103";
    case ReadingUnit::Fahrenheit:
      return "\u2109";
    case ReadingUnit::Volt:
      break;
  }
  return "V";
}

std::string StateName(const Reading& reading) {
  switch (reading.state) {
    case ReadingState::Ok:
      return "OK";
    case ReadingState::Disable:
      return "Disable";
    case ReadingState::OverRange:
      return "Over Range";
    case ReadingState::UnderRange:
      return "Under Range";
    case ReadingState::NoReading:
      return "No Reading";
    case ReadingState::Unreadable:
      break;
  }
  return reading.text;
}

}  // namespace zvk
