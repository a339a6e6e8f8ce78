#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "thermistor/convert.h"
#include "thermistor/user_curves.h"

namespace {

// One data poll's worth: eight channels over built-in and user curves, readings across the range.
void BM_ConvertThermistor(benchmark::State& state) {
  const zvk::SensorTable table = zvk::DefaultSensorTable();
  constexpr std::array<std::uint8_t, 8> kTypes = {0x60, 0x61, 0x63, 0x66, 0x6A, 0x6C, 0x70, 0x77};
  std::uint16_t reading = 1;
  for (auto _ : state) {
    for (std::uint8_t type : kTypes) {
      benchmark::DoNotOptimize(
          zvk::ConvertThermistor(reading, type, zvk::kDefaultVoltsPerCount, table));
    }
    reading = static_cast<std::uint16_t>(reading + 257);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kTypes.size()));
}
BENCHMARK(BM_ConvertThermistor);

// All eight curves, as at identification and on "Save".
void BM_FitUserCurves(benchmark::State& state) {
  zvk::UserCurvePoints points;
  for (std::size_t i = 0; i < 8; ++i) {
    const double k = 1.0 + 0.25 * static_cast<double>(i);
    points.TempHi[i] = 100;
    points.TempMid[i] = 25;
    points.TempLow[i] = 0;
    points.OhmsHi[i] = 680.0 * k;
    points.OhmsMid[i] = 10000.0 * k;
    points.OhmsLow[i] = 32650.0 * k;
  }
  zvk::SensorTable table = zvk::DefaultSensorTable();
  for (auto _ : state) {
    benchmark::DoNotOptimize(zvk::FitUserCurves(points, table));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_FitUserCurves);

}  // namespace
