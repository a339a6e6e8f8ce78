// One channel's reading as a value with meaning: what the window shows, and the number, unit and
// state behind it, so that nothing downstream reads the shown text back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zvk {

enum class ReadingUnit : std::uint8_t { Volt, Celsius, Fahrenheit };

enum class ReadingState : std::uint8_t {
  Ok,          // a number
  Disable,     // the channel is switched off
  OverRange,   // above what the sensor's table covers
  UnderRange,  // below it
  NoReading,   // the poll brought no values
  // No number for a reason the window's text tells ("Range?": a range code without a scale of
  // ours; "NANV": a scale that gives no finite number).
  Unreadable,
};

struct Reading {
  std::string channel;  // "AI0", "TH3"
  // The number the text shows, to the text's digits (1.2346 for "1.2346V"); none unless Ok.
  std::optional<double> value;
  ReadingUnit unit = ReadingUnit::Volt;  // the channel's unit, with or without a number
  ReadingState state = ReadingState::NoReading;
  std::string text;  // exactly as the window shows it
};

// "V", "°C", "°F": the unit as consumers of values write it.
const char* UnitName(ReadingUnit unit);
// "V", "℃", "℉": the sign the window writes after a number.
const char* UnitSign(ReadingUnit unit);
// "OK", "Disable", "Over Range", "Under Range", "No Reading"; for Unreadable the window's text.
std::string StateName(const Reading& reading);

}  // namespace zvk
