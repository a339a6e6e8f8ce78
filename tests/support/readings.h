// Readings as the main window makes them, for tests that feed samples to a sink: the number, its
// unit and state, and the text formatted as the window formats it.
#pragma once

#include <string>
#include <vector>

#include "state/reading.h"
#include "util/format_fixed.h"

namespace zvk::test {

inline Reading WithNumber(double value, ReadingUnit unit, int precision, int digits) {
  Reading r;
  r.unit = unit;
  r.state = ReadingState::Ok;
  r.value = AppendFormatFixedValue(r.text, value, precision, digits);
  r.text += UnitSign(unit);
  return r;
}
inline Reading V(double volts) {
  return WithNumber(volts, ReadingUnit::Volt, 5, 4);
}
inline Reading C(double degrees) {
  return WithNumber(degrees, ReadingUnit::Celsius, 15, 1);
}
inline Reading F(double degrees) {
  return WithNumber(degrees, ReadingUnit::Fahrenheit, 4, 1);
}
// A channel without a number ("Disable", "Over Range"), its text as the window shows it.
inline Reading Without(ReadingState state, ReadingUnit unit = ReadingUnit::Celsius) {
  Reading r;
  r.unit = unit;
  r.state = state;
  r.text = StateName(r);
  return r;
}
// A text alone, for sinks that write the texts and nothing else.
inline Reading Shown(std::string text) {
  Reading r;
  r.state = ReadingState::Unreadable;
  r.text = std::move(text);
  return r;
}
// The readings of one sample, each named for its channel in order.
inline std::vector<Reading> Named(const std::vector<std::string>& channels,
                                  std::vector<Reading> readings) {
  for (std::size_t i = 0; i < readings.size() && i < channels.size(); ++i)
    readings[i].channel = channels[i];
  return readings;
}

}  // namespace zvk::test
