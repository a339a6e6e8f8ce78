#include "side_by_side.h"

#include <algorithm>

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
  return {Median(m_cpu), Median(b_cpu), Median(m_wall), Median(b_wall), Median(ratios)};
}

}  // namespace zvk::bench
