#include "side_by_side.h"

#include <algorithm>
#include <cstdio>

#include "clocks.h"

namespace zvk::bench {

namespace {

struct Batch {
  double cpu;
  double wall;
};

Batch RunBatch(const std::function<void()>& action, int batch,
               const std::function<void()>& between) {
  const double cpu = ThreadCpuSeconds();
  const double wall = WallSeconds();
  for (int i = 0; i < batch; ++i) action();
  const Batch result{(ThreadCpuSeconds() - cpu) / batch, (WallSeconds() - wall) / batch};
  if (between) between();
  return result;
}

}  // namespace

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double Quantile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double at = fraction * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(at);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

std::string RatioSpread(double median, double low, double high, std::size_t pairs) {
  char text[96];
  std::snprintf(text, sizeof text, "%.2f\u00D7 (quartiles %.2f\u00D7 to %.2f\u00D7 over %zu pairs)",
                median, low, high, pairs);
  return text;
}

Comparison SideBySide(const std::function<void()>& measured, const std::function<void()>& baseline,
                      int batch, int rounds, const std::function<void()>& between) {
  // One untimed batch of each first: caches, connections and allocations settle.
  RunBatch(measured, batch, between);
  RunBatch(baseline, batch, between);
  std::vector<double> m_cpu, b_cpu, m_wall, b_wall, ratios;
  for (int round = 0; round < rounds; ++round) {
    Batch m, b;
    if (round % 2 == 0) {
      m = RunBatch(measured, batch, between);
      b = RunBatch(baseline, batch, between);
    } else {
      b = RunBatch(baseline, batch, between);
      m = RunBatch(measured, batch, between);
    }
    m_cpu.push_back(m.cpu);
    b_cpu.push_back(b.cpu);
    m_wall.push_back(m.wall);
    b_wall.push_back(b.wall);
    if (b.cpu > 0) ratios.push_back(m.cpu / b.cpu);
  }
  return {Median(m_cpu),  Median(b_cpu),          Median(m_wall),        Median(b_wall),
          Median(ratios), Quantile(ratios, 0.25), Quantile(ratios, 0.75)};
}

}  // namespace zvk::bench
