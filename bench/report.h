// One row of the performance table, and the table as Markdown.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zvk::bench {

struct Row {
  std::string what;
  std::string measured;
  std::string baseline;
  std::optional<double> ratio;
  std::string goal;         // "≤ 1.2×", "≥ 0.8×" or empty
  std::optional<bool> met;  // unset where there is no goal
};

// "≤ 1.2×": met when the ratio is at most `limit`.
Row WithCeiling(Row row, double ratio, double limit);
// "≥ 0.8×": met when the ratio is at least `limit`.
Row WithFloor(Row row, double ratio, double limit);

std::string Micros(double seconds);
std::string Millis(double seconds);
std::string Nanos(double seconds);
std::string Mebibytes(long kib);

void PrintTable(std::ostream& out, const std::vector<Row>& rows);

}  // namespace zvk::bench
