// Runs a measured action and its baseline in alternating batches in the same process, so that
// both see the same machine at the same moments, and compares their CPU time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zvk::bench {

struct Comparison {
  double measured_cpu = 0;   // seconds per call, median over the rounds
  double baseline_cpu = 0;   // seconds per call, median over the rounds
  double measured_wall = 0;  // seconds per call, median over the rounds
  double baseline_wall = 0;
  double ratio = 0;  // median over the rounds of measured / baseline CPU time
  // The spread of that ratio over the rounds: its lower and upper quartile.
  double ratio_low = 0;
  double ratio_high = 0;
};

// `rounds` rounds of `batch` calls of each; the order within a round alternates. `between`, when
// given, runs untimed after every batch (to put back what a batch used up).
Comparison SideBySide(const std::function<void()>& measured, const std::function<void()>& baseline,
                      int batch, int rounds, const std::function<void()>& between = {});

double Median(std::vector<double> values);
// The value below which `fraction` of the values lie (0.25: the lower quartile), interpolated.
double Quantile(std::vector<double> values, double fraction);
// "1.12× (quartiles 1.05× to 1.20× over N pairs)", for a row's text.
std::string RatioSpread(double median, double low, double high, std::size_t pairs);

}  // namespace zvk::bench
