#include "thermistor/convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

namespace zvk {
namespace {

constexpr std::uint16_t kReading = 40000;

// The conversion's arithmetic up to the temperature, without the range tests: the reference the
// searches below use to find readings that land exactly on a boundary.
double ReferenceCelsius(const SensorCurve& curve, std::uint16_t reading, double volts_per_count) {
  volatile double volts = reading * volts_per_count;
  volatile double ohms = volts / kExcitationCurrent;
  volatile double l = std::log(ohms);
  volatile double cube = std::pow(l, 3);
  volatile double d = curve.A + curve.B * l + curve.C * cube;
  volatile double t = 1.0 / d - 273.15;
  return t;
}

struct Bracket {
  double holds;  // last volts-per-count for which the predicate holds
  double fails;  // the next double up, for which it no longer does
};

// Bisects over the bit patterns of positive doubles: the predicate holds for small
// volts-per-count (high temperatures) and fails for large ones.
Bracket Bisect(const std::function<bool(double)>& holds) {
  auto lo = std::bit_cast<std::uint64_t>(1e-9);
  auto hi = std::bit_cast<std::uint64_t>(1e-2);
  EXPECT_TRUE(holds(1e-9));
  EXPECT_FALSE(holds(1e-2));
  while (hi - lo > 1) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    (holds(std::bit_cast<double>(mid)) ? lo : hi) = mid;
  }
  return {std::bit_cast<double>(lo), std::bit_cast<double>(hi)};
}

TEST(ConvertThermistor, TenKilohmOnFirstCurveTruncatesTo249) {
  const SensorTable table = DefaultSensorTable();
  // 10000 counts at 1e-5 V each across 10 uA: 10 kOhm, 24.997 degrees.
  EXPECT_EQ(ConvertThermistor(10000, 0x60, 1e-05, table), 249);
}

TEST(ConvertThermistor, ZeroReadingConvertsLikeOne) {
  const SensorTable table = DefaultSensorTable();
  // One count is 10 kOhm here, so a reading of 1 is in range on every curve family.
  EXPECT_EQ(ConvertThermistor(0, 0x60, 0.1, table), 249);
  EXPECT_EQ(ConvertThermistor(1, 0x60, 0.1, table), 249);
  for (std::uint8_t type : {0x61, 0x6C, 0x70}) {
    for (double volts_per_count : {kDefaultVoltsPerCount, 0.01, 0.1}) {
      EXPECT_EQ(ConvertThermistor(0, type, volts_per_count, table),
                ConvertThermistor(1, type, volts_per_count, table))
          << int{type} << " " << volts_per_count;
    }
  }
}

TEST(ConvertThermistor, UnlistedCodesAreDisabled) {
  const SensorTable table = DefaultSensorTable();
  for (std::uint8_t type : {0x00, 0x01, 0x5F, 0x6D, 0x6F, 0x78, 0x7F, 0x80, 0xFF}) {
    // 10 kOhm would read 24.9 degrees on any listed curve.
    EXPECT_EQ(ConvertThermistor(10000, type, 1e-05, table), RESULT_DISABLED) << int{type};
  }
}

TEST(ConvertThermistor, RangeLimitsAreInclusive) {
  const SensorTable table = DefaultSensorTable();
  const SensorCurve& curve = table[0];

  // -35.0 exactly is valid, the next reachable temperature below it is not.
  const Bracket low =
      Bisect([&](double v) { return ReferenceCelsius(curve, kReading, v) >= -35.0; });
  ASSERT_EQ(ReferenceCelsius(curve, kReading, low.holds), -35.0);
  EXPECT_EQ(ConvertThermistor(kReading, 0x60, low.holds, table), -350);
  EXPECT_EQ(ConvertThermistor(kReading, 0x60, low.fails, table), RESULT_UNDER);

  // 115.0 exactly is valid, the next reachable temperature above it is not.
  const Bracket high =
      Bisect([&](double v) { return ReferenceCelsius(curve, kReading, v) > 115.0; });
  ASSERT_EQ(ReferenceCelsius(curve, kReading, high.fails), 115.0);
  EXPECT_EQ(ConvertThermistor(kReading, 0x60, high.fails, table), 1150);
  EXPECT_EQ(ConvertThermistor(kReading, 0x60, high.holds, table), RESULT_OVER);
}

TEST(ConvertThermistor, UserRowsUseTheirOwnRange) {
  const SensorTable table = DefaultSensorTable();
  struct Case {
    double celsius;
    std::int32_t builtin;  // code 0x60, range -35 to 115
    std::int32_t user;     // code 0x70 before any fit, same curve, range -50 to 150
  };
  for (const Case& c : {Case{-40.05, RESULT_UNDER, -400}, Case{-50.5, RESULT_UNDER, RESULT_UNDER},
                        Case{120.05, RESULT_OVER, 1200}, Case{150.5, RESULT_OVER, RESULT_OVER}}) {
    const double v = Bisect([&](double x) {
                       return ReferenceCelsius(table[0], kReading, x) >= c.celsius;
                     }).holds;
    EXPECT_EQ(ConvertThermistor(kReading, 0x60, v, table), c.builtin) << c.celsius;
    EXPECT_EQ(ConvertThermistor(kReading, 0x70, v, table), c.user) << c.celsius;
    EXPECT_EQ(ConvertThermistor(kReading, 0x77, v, table), c.user) << c.celsius;
  }
}

TEST(ConvertThermistor, TenthsTruncateTowardZero) {
  const SensorTable table = DefaultSensorTable();
  struct Case {
    double celsius;
    std::int32_t tenths;
  };
  for (const Case& c : {Case{-0.05, 0}, Case{-0.15, -1}, Case{-12.34, -123}, Case{-34.99, -349},
                        Case{25.37, 253}, Case{99.99, 999}}) {
    // Lands on the first reachable temperature at or just above the target.
    const double v = Bisect([&](double x) {
                       return ReferenceCelsius(table[0], kReading, x) >= c.celsius;
                     }).holds;
    ASSERT_NEAR(ReferenceCelsius(table[0], kReading, v), c.celsius, 1e-9);
    EXPECT_EQ(ConvertThermistor(kReading, 0x60, v, table), c.tenths) << c.celsius;
  }
}

TEST(ConvertThermistor, NotANumberGivesZero) {
  SensorTable table = DefaultSensorTable();
  table[13].A = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ConvertThermistor(10000, 0x70, 1e-05, table), 0);
}

}  // namespace
}  // namespace zvk
