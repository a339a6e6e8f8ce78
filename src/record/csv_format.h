// The CSV of the readings, as `zvk read --csv` prints it and every recording writes it: a header
// `time,CH0,...` with the channel names, then one row per poll.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "record/timestamp.h"

namespace zvk {

// A value as the window shows it, without its unit sign (V, degrees Celsius or Fahrenheit).
std::string WithoutUnit(const std::string& text);

// The long form of a recording of many modules: one line per channel and poll.
inline constexpr const char* kLongCsvHeader = "time,module,channel,value,unit";

// "24.9℃" to {"24.9", "℃"}; a text without a unit sign ("Disable") has an empty unit.
std::pair<std::string, std::string> ValueAndUnit(const std::string& shown);

// "time,AI0,AI1,..." without the line end.
std::string CsvHeader(const std::vector<std::string>& channels);
// The time, then each value as shown, without its unit sign. `shown` empty: a gap, the time
// alone followed by `columns` empty fields, so every row has as many fields as the header.
std::string CsvRow(std::chrono::system_clock::time_point time,
                   const std::vector<std::string>& shown, std::size_t columns);

}  // namespace zvk
