// Google Benchmark timings in ns of the pure computations of a poll: the thermistor conversion,
// the user-curve fit and the decoding of a whole data reply for each model.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "bench_utility.h"
#include "link/dispatcher.h"
#include "link/wire.h"
#include "sim/simulator.h"
#include "thermistor/convert.h"
#include "thermistor/user_curves.h"

namespace zvk::bench {

namespace {

// One data poll's worth: eight channels over built-in and user curves, readings across the range.
void BM_ConvertThermistor(benchmark::State& state) {
  const SensorTable table = DefaultSensorTable();
  constexpr std::array<std::uint8_t, 8> kTypes = {0x60, 0x61, 0x63, 0x66, 0x6A, 0x6C, 0x70, 0x77};
  std::uint16_t reading = 1;
  for (auto _ : state) {
    for (std::uint8_t type : kTypes) {
      benchmark::DoNotOptimize(ConvertThermistor(reading, type, kDefaultVoltsPerCount, table));
    }
    reading = static_cast<std::uint16_t>(reading + 257);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kTypes.size()));
}
BENCHMARK(BM_ConvertThermistor);

// All eight curves, as at identification and on "Save".
void BM_FitUserCurves(benchmark::State& state) {
  UserCurvePoints points;
  for (std::size_t i = 0; i < 8; ++i) {
    const double k = 1.0 + 0.25 * static_cast<double>(i);
    points.TempHi[i] = 100;
    points.TempMid[i] = 25;
    points.TempLow[i] = 0;
    points.OhmsHi[i] = 680.0 * k;
    points.OhmsMid[i] = 10000.0 * k;
    points.OhmsLow[i] = 32650.0 * k;
  }
  SensorTable table = DefaultSensorTable();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FitUserCurves(points, table));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_FitUserCurves);

// A whole data reply through the dispatcher, as it arrives from the simulated module: every
// field stored, the thermistor readings converted, the value labels and the log lines written.
void BM_DecodeDataReply(benchmark::State& state, sim::Model model) {
  sim::Options options;
  options.model = model;
  sim::Simulator module(options);  // not started: it only builds the replies
  BenchUtility utility;
  utility.IdentifyFrom(module.BuildReply(IdentityRequestFrame()));
  const std::vector<std::uint8_t> reply = module.BuildReply(DataPollFrame());
  App& app = utility.app();
  std::copy(reply.begin(), reply.end(), app.link.ReplyBuffer.begin());
  auto& log = app.log_lines;
  for (auto _ : state) {
    app.link.PendingCommand = wire::CMD_READ_DATA;
    DispatchReply(app.link, static_cast<std::uint32_t>(reply.size()));
    if (log.size() > 4096) log.clear();  // the log is never shown; keep the run's memory flat
  }
  if (app.link.PendingCommand != 0) state.SkipWithError("the data reply was not decoded");
}
BENCHMARK_CAPTURE(BM_DecodeDataReply, km3, sim::Model::Km3);
BENCHMARK_CAPTURE(BM_DecodeDataReply, qn6, sim::Model::Qn6);

}  // namespace

}  // namespace zvk::bench
