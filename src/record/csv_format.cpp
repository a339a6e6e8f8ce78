#include "record/csv_format.h"

#include "record/timestamp.h"

namespace zvk {

std::string WithoutUnit(const std::string& text) {
  for (const char* unit : {"V", "\u2103", "\u2109"}) {
    const std::string u = unit;
    if (text.size() > u.size() && text.compare(text.size() - u.size(), u.size(), u) == 0)
      return text.substr(0, text.size() - u.size());
  }
  return text;
}

std::string CsvHeader(const std::vector<std::string>& channels) {
  std::string line = "time";
  for (const std::string& name : channels) line += "," + name;
  return line;
}

std::string CsvRow(std::chrono::system_clock::time_point time,
                   const std::vector<std::string>& shown, std::size_t columns) {
  std::string line = LocalTimestamp(time);
  if (shown.empty()) {
    line.append(columns, ',');
  } else {
    for (const std::string& text : shown) line += "," + WithoutUnit(text);
  }
  return line;
}

std::pair<std::string, std::string> ValueAndUnit(const std::string& shown) {
  std::string value = WithoutUnit(shown);
  std::string unit = shown.rfind(value, 0) == 0 ? shown.substr(value.size()) : std::string();
  return {std::move(value), std::move(unit)};
}

}  // namespace zvk
