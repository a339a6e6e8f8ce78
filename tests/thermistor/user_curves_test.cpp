#include "thermistor/user_curves.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "thermistor/convert.h"

namespace zvk {
namespace {

struct Point {
  std::int16_t celsius;
  double ohms;
};

void SetCurve(UserCurvePoints& p, int curve, Point hi, Point mid, Point low) {
  p.TempHi[curve] = hi.celsius;
  p.TempMid[curve] = mid.celsius;
  p.TempLow[curve] = low.celsius;
  p.OhmsHi[curve] = hi.ohms;
  p.OhmsMid[curve] = mid.ohms;
  p.OhmsLow[curve] = low.ohms;
}

double CurveCelsius(const SensorCurve& c, double ohms) {
  const double l = std::log(ohms);
  return 1.0 / (c.A + c.B * l + c.C * l * l * l) - 273.15;
}

bool SameRow(const SensorCurve& a, const SensorCurve& b) {
  return a.A == b.A && a.B == b.B && a.C == b.C && a.MinC == b.MinC && a.MaxC == b.MaxC;
}

bool AllFinite(const SensorTable& table) {
  for (const SensorCurve& c : table) {
    if (!std::isfinite(c.A) || !std::isfinite(c.B) || !std::isfinite(c.C)) return false;
  }
  return true;
}

// A table whose user rows are all different, so a row that was wrongly written shows.
SensorTable MarkedTable() {
  SensorTable table = DefaultSensorTable();
  for (int row = 13; row < kSensorRows; ++row) table[row].A += row * 1e-9;
  return table;
}

const Point kHot{100, 680.0};
const Point kRoom{25, 10000.0};
const Point kIce{0, 32650.0};

TEST(FitUserCurves, WorkedExample) {
  UserCurvePoints points;
  for (int i = 0; i < 8; ++i) SetCurve(points, i, kHot, kRoom, kIce);
  SensorTable table = DefaultSensorTable();

  EXPECT_TRUE(FitUserCurves(points, table).empty());

  const SensorCurve& c = table[13];
  EXPECT_NEAR(c.A, 1.125294e-03, 0.5e-9);
  EXPECT_NEAR(c.B, 2.347148e-04, 0.5e-10);
  EXPECT_NEAR(c.C, 8.565019e-08, 0.5e-13);
  EXPECT_NEAR(CurveCelsius(c, 680.0), 100.0, 0.001);
  EXPECT_NEAR(CurveCelsius(c, 10000.0), 25.0, 0.001);
  EXPECT_NEAR(CurveCelsius(c, 32650.0), 0.0, 0.001);
  EXPECT_EQ(c.MinC, -50);
  EXPECT_EQ(c.MaxC, 150);
}

TEST(FitUserCurves, PointOrderDoesNotMatter) {
  const std::array<std::array<Point, 3>, 6> orders = {{
      {kHot, kRoom, kIce},
      {kRoom, kHot, kIce},  // Hi and Mid swapped
      {kHot, kIce, kRoom},
      {kIce, kRoom, kHot},
      {kRoom, kIce, kHot},
      {kIce, kHot, kRoom},
  }};
  UserCurvePoints points;
  for (int i = 0; i < 6; ++i) SetCurve(points, i, orders[i][0], orders[i][1], orders[i][2]);
  SensorTable table = DefaultSensorTable();

  EXPECT_EQ(FitUserCurves(points, table), (std::vector<int>{6, 7}));
  const SensorCurve& first = table[13];
  for (int i = 1; i < 6; ++i) {
    const SensorCurve& c = table[13 + i];
    EXPECT_NEAR(c.A, first.A, 1e-9 * std::abs(first.A)) << i;
    EXPECT_NEAR(c.B, first.B, 1e-9 * std::abs(first.B)) << i;
    EXPECT_NEAR(c.C, first.C, 1e-7 * std::abs(first.C)) << i;
  }
}

TEST(FitUserCurves, AllZeroPointsKeepEveryRow) {
  const UserCurvePoints points;  // as before the module has reported its record
  const SensorTable before = MarkedTable();
  SensorTable table = before;

  EXPECT_EQ(FitUserCurves(points, table), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  for (int row = 0; row < kSensorRows; ++row) EXPECT_TRUE(SameRow(table[row], before[row])) << row;
}

TEST(FitUserCurves, BadCurveIsKeptAndTheOthersAreFitted) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    Point hi, mid, low;
  };
  const Case cases[] = {
      {"zero resistance", {100, 0.0}, kRoom, kIce},
      {"negative resistance", kHot, {25, -10000.0}, kIce},
      {"Hi equals Mid", {100, 10000.0}, kRoom, kIce},
      {"Mid equals Low", kHot, {25, 32650.0}, kIce},
      {"Hi equals Low", {100, 32650.0}, kRoom, kIce},
      {"one rounding step apart", kHot, kRoom, {0, std::nextafter(10000.0, 1e9)}},
      {"product of resistances is one", {100, 0.5}, {25, 1.0}, {0, 2.0}},
      {"not a number", kHot, {25, kNaN}, kIce},
      {"infinite", kHot, kRoom, {0, kInf}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UserCurvePoints points;
    for (int i = 0; i < 8; ++i) {
      // Distinct good curves: scaling every resistance keeps the points valid.
      const double k = 1.0 + 0.25 * i;
      SetCurve(points, i, {100, 680.0 * k}, {25, 10000.0 * k}, {0, 32650.0 * k});
    }
    SetCurve(points, 5, c.hi, c.mid, c.low);
    const SensorTable before = MarkedTable();
    SensorTable table = before;

    EXPECT_EQ(FitUserCurves(points, table), std::vector<int>{5});
    EXPECT_TRUE(SameRow(table[18], before[18]));
    EXPECT_TRUE(AllFinite(table));
    for (int i : {0, 1, 2, 3, 4, 6, 7}) {
      EXPECT_NEAR(CurveCelsius(table[13 + i], 10000.0 * (1.0 + 0.25 * i)), 25.0, 0.001) << i;
    }
  }
}

TEST(FitUserCurves, EqualTemperaturesAreNotRejected) {
  UserCurvePoints points;
  for (int i = 0; i < 8; ++i) SetCurve(points, i, {20, 680.0}, {20, 10000.0}, {20, 32650.0});
  SensorTable table = DefaultSensorTable();

  EXPECT_TRUE(FitUserCurves(points, table).empty());
  // A flat curve: every resistance reads 20 degrees.
  EXPECT_DOUBLE_EQ(table[13].A, 1.0 / 293.15);
  EXPECT_EQ(table[13].B, 0.0);
  EXPECT_EQ(table[13].C, 0.0);
}

TEST(FitUserCurves, FittingCurve3WritesRow16Only) {
  UserCurvePoints points;
  SetCurve(points, 3, kHot, kRoom, kIce);
  const SensorTable before = DefaultSensorTable();
  SensorTable table = before;

  EXPECT_EQ(FitUserCurves(points, table), (std::vector<int>{0, 1, 2, 4, 5, 6, 7}));
  for (int row = 0; row < kSensorRows; ++row) {
    if (row != 16) {
      EXPECT_TRUE(SameRow(table[row], before[row])) << row;
    }
  }
  EXPECT_FALSE(SameRow(table[16], before[16]));
  EXPECT_EQ(table[16].MinC, -50);
  EXPECT_EQ(table[16].MaxC, 150);

  // The conversion picks the new curve for code 0x73 only: 32650 ohms reads 0 degrees on it,
  // but -2.1 degrees on the first curve's coefficients that 0x72 still has.
  const double volts_per_count = 32650.0 * kExcitationCurrent / 50000.0;
  EXPECT_EQ(ConvertThermistor(50000, 0x73, volts_per_count, table), 0);
  EXPECT_EQ(ConvertThermistor(50000, 0x72, volts_per_count, table), -21);
}

// Curve 0 carries the worked example, curve 7 extreme values; the rest is zero.
// clang-format off
constexpr std::array<std::uint8_t, USER_CURVE_RECORD_SIZE> kRecord = {
    // TempHi: 100, 0, ..., 0, -40
    0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD8, 0xFF,
    // TempMid: 25, 0, ..., 0, 4660
    0x19, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x34, 0x12,
    // TempLow: 0, ..., 0, -32768
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,
    // ResHi: 6800, 0, ..., 0, 0x01020304
    0x90, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01,
    // ResMid: 100000, 0, ..., 0, -1
    0xA0, 0x86, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
    // ResLow: 326500, 0, ..., 0, INT32_MIN
    0x64, 0xFB, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,
};
// clang-format on

TEST(UserCurveRecord, RoundTripsThroughTheLittleEndianRecord) {
  UserCurvePoints points;
  points.TempHi[0] = 100;
  points.TempMid[0] = 25;
  points.TempLow[0] = 0;
  points.ResHi[0] = 6800;
  points.ResMid[0] = 100000;
  points.ResLow[0] = 326500;
  points.TempHi[7] = -40;
  points.TempMid[7] = 4660;
  points.TempLow[7] = std::numeric_limits<std::int16_t>::min();
  points.ResHi[7] = 0x01020304;
  points.ResMid[7] = -1;
  points.ResLow[7] = std::numeric_limits<std::int32_t>::min();

  EXPECT_EQ(SerializeUserCurves(points), kRecord);

  UserCurvePoints loaded;
  loaded.OhmsHi.fill(7.0);  // working values are not part of the record
  LoadUserCurveRecord(loaded, kRecord.data());
  EXPECT_EQ(loaded.TempHi, points.TempHi);
  EXPECT_EQ(loaded.TempMid, points.TempMid);
  EXPECT_EQ(loaded.TempLow, points.TempLow);
  EXPECT_EQ(loaded.ResHi, points.ResHi);
  EXPECT_EQ(loaded.ResMid, points.ResMid);
  EXPECT_EQ(loaded.ResLow, points.ResLow);
  EXPECT_EQ(loaded.OhmsHi[0], 7.0);

  RefreshUserCurveOhms(loaded);
  EXPECT_EQ(loaded.OhmsHi[0], 680.0);
  EXPECT_EQ(loaded.OhmsMid[0], 10000.0);
  EXPECT_EQ(loaded.OhmsLow[0], 32650.0);
  EXPECT_EQ(loaded.OhmsHi[7], 1690906.0);
  EXPECT_EQ(loaded.OhmsMid[7], -0.1);
  EXPECT_EQ(loaded.OhmsLow[7], -214748364.8);
  EXPECT_EQ(loaded.OhmsHi[3], 0.0);

  // What identification does with a received record: curve 0 fits, the rest is kept.
  SensorTable table = DefaultSensorTable();
  EXPECT_EQ(FitUserCurves(loaded, table), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_NEAR(table[13].A, 1.125294e-03, 0.5e-9);
}

}  // namespace
}  // namespace zvk
