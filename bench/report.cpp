#include "report.h"

#include <cstdio>
#include <utility>

namespace zvk::bench {

namespace {

std::string Fixed(double value, int decimals, const char* unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
  return text;
}

}  // namespace

namespace {

Row WithGoal(Row row, double ratio, double limit, const char* sign, bool met) {
  row.ratio = ratio;
  char goal[32];
  std::snprintf(goal, sizeof goal, "%s %.1f\u00D7", sign, limit);
  row.goal = goal;
  row.met = met;
  return row;
}

}  // namespace

Row WithCeiling(Row row, double ratio, double limit) {
  return WithGoal(std::move(row), ratio, limit, "\u2264", ratio <= limit);
}

Row WithFloor(Row row, double ratio, double limit) {
  return WithGoal(std::move(row), ratio, limit, "\u2265", ratio >= limit);
}

std::string Micros(double seconds) {
  return Fixed(seconds * 1e6, 1, "\u00B5s");
}
std::string Millis(double seconds) {
  return Fixed(seconds * 1e3, 1, "ms");
}
std::string Nanos(double seconds) {
  return Fixed(seconds * 1e9, 0, "ns");
}
std::string Mebibytes(long kib) {
  return Fixed(static_cast<double>(kib) / 1024.0, 1, "MiB");
}

void PrintTable(std::ostream& out, const std::vector<Row>& rows) {
  out << "| Measurement | zVK-Analog | Baseline | Ratio | Goal |\n";
  out << "|---|---:|---:|---:|---|\n";
  for (const Row& r : rows) {
    char ratio[32] = "";
    if (r.ratio) std::snprintf(ratio, sizeof ratio, "%.2f\u00D7", *r.ratio);
    std::string goal = r.goal;
    if (r.met) goal += *r.met ? " met" : " **missed**";
    out << "| " << r.what << " | " << r.measured << " | " << r.baseline << " | " << ratio << " | "
        << goal << " |\n";
  }
}

}  // namespace zvk::bench
