// Runs a measured action and its baseline in alternating batches in the same process, so that
// both see the same machine at the same moments, and compares their CPU time.
#pragma once

#include <functional>
#include <vector>

namespace zvk::bench {

struct Comparison {
  double measured_cpu = 0;   // seconds per call, median over the rounds
  double baseline_cpu = 0;   // seconds per call, median over the rounds
  double measured_wall = 0;  // seconds per call, median over the rounds
  double baseline_wall = 0;
  double ratio = 0;  // median over the rounds of measured / baseline CPU time
};

// `rounds` rounds of `batch` calls of each; the order within a round alternates. `between`, when
// given, runs untimed after every batch (to put back what a batch used up).
Comparison SideBySide(const std::function<void()>& measured, const std::function<void()>& baseline,
                      int batch, int rounds, const std::function<void()>& between = {});

double Median(std::vector<double> values);

}  // namespace zvk::bench
