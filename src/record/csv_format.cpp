#include "record/csv_format.h"

#include <cstdio>
#include <ctime>

namespace zvk {

// ISO-8601 local time with milliseconds and the UTC offset: 2024-03-01T14:05:09.120+01:00.
std::string LocalTimestamp(std::chrono::system_clock::time_point now) {
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
  localtime_r(&t, &local);
  char date[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms.count()), zone,
                zone + 3);
  return text;
}

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

}  // namespace zvk
