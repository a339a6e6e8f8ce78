#include "thermistor/user_curves.h"

#include <cmath>
#include <optional>

#include "thermistor/fp_round.h"
#include "util/byte_order.h"

namespace zvk {

namespace {

using detail::RoundToDouble;

constexpr std::size_t kTempHiOffset = 0;
constexpr std::size_t kTempMidOffset = 16;
constexpr std::size_t kTempLowOffset = 32;
constexpr std::size_t kResHiOffset = 48;
constexpr std::size_t kResMidOffset = 80;
constexpr std::size_t kResLowOffset = 112;

struct Coefficients {
  double A, B, C;
};

// Steinhart-Hart through three points with point 3 as the pivot. The grouping of the operations
// is deliberate: it fixes the rounding, and so the coefficients the module's curves get.
std::optional<Coefficients> FitThreePoints(double t1, double r1, double t2, double r2, double t3,
                                           double r3) {
  // Also rejects NaN resistances.
  if (!(r1 > 0.0 && r2 > 0.0 && r3 > 0.0)) return std::nullopt;
  if (r1 == r2 || r1 == r3 || r2 == r3) return std::nullopt;

  const double k1 = RoundToDouble(t1 + 273.15);
  const double k2 = RoundToDouble(t2 + 273.15);
  const double k3 = RoundToDouble(t3 + 273.15);
  const double l1 = RoundToDouble(std::log(r1));
  const double l2 = RoundToDouble(std::log(r2));
  const double l3 = RoundToDouble(std::log(r3));
  const double d32 = RoundToDouble(l3 - l2);
  const double d31 = RoundToDouble(l3 - l1);
  const double y32 = RoundToDouble(1.0 / k3 - 1.0 / k2);
  const double y31 = RoundToDouble(1.0 / k3 - 1.0 / k1);
  // pow keeps the sign of a negative logarithm (resistances below one ohm).
  const double l1_cubed = std::pow(l1, 3.0);
  const double l2_cubed = std::pow(l2, 3.0);
  const double l3_cubed = std::pow(l3, 3.0);
  const double c32 = l3_cubed - l2_cubed;
  const double c31 = l3_cubed - l1_cubed;

  // Distinct resistances can still share a logarithm when they are a rounding step apart.
  if (d32 == 0.0 || d31 == 0.0) return std::nullopt;
  const double denominator = c32 - (c31 * d32) / d31;
  if (denominator == 0.0) return std::nullopt;

  const double c = RoundToDouble((y32 - (d32 * y31) / d31) / denominator);
  const double b = RoundToDouble((y32 - c * c32) / d32);
  const double a = RoundToDouble((1.0 / k3 - c * l3_cubed) - b * l3);
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c)) return std::nullopt;
  return Coefficients{a, b, c};
}

}  // namespace

void LoadUserCurveRecord(UserCurvePoints& points, const std::uint8_t* record144) {
  for (std::size_t i = 0; i < 8; ++i) {
    points.TempHi[i] = static_cast<std::int16_t>(GetLe16(record144 + kTempHiOffset + 2 * i));
    points.TempMid[i] = static_cast<std::int16_t>(GetLe16(record144 + kTempMidOffset + 2 * i));
    points.TempLow[i] = static_cast<std::int16_t>(GetLe16(record144 + kTempLowOffset + 2 * i));
    points.ResHi[i] = static_cast<std::int32_t>(GetLe32(record144 + kResHiOffset + 4 * i));
    points.ResMid[i] = static_cast<std::int32_t>(GetLe32(record144 + kResMidOffset + 4 * i));
    points.ResLow[i] = static_cast<std::int32_t>(GetLe32(record144 + kResLowOffset + 4 * i));
  }
}

std::array<std::uint8_t, USER_CURVE_RECORD_SIZE> SerializeUserCurves(
    const UserCurvePoints& points) {
  std::array<std::uint8_t, USER_CURVE_RECORD_SIZE> record{};
  std::uint8_t* out = record.data();
  for (std::size_t i = 0; i < 8; ++i) {
    PutLe16(out + kTempHiOffset + 2 * i, static_cast<std::uint16_t>(points.TempHi[i]));
    PutLe16(out + kTempMidOffset + 2 * i, static_cast<std::uint16_t>(points.TempMid[i]));
    PutLe16(out + kTempLowOffset + 2 * i, static_cast<std::uint16_t>(points.TempLow[i]));
    PutLe32(out + kResHiOffset + 4 * i, static_cast<std::uint32_t>(points.ResHi[i]));
    PutLe32(out + kResMidOffset + 4 * i, static_cast<std::uint32_t>(points.ResMid[i]));
    PutLe32(out + kResLowOffset + 4 * i, static_cast<std::uint32_t>(points.ResLow[i]));
  }
  return record;
}

void RefreshUserCurveOhms(UserCurvePoints& points) {
  for (std::size_t i = 0; i < 8; ++i) {
    points.OhmsHi[i] = points.ResHi[i] / 10.0;
    points.OhmsMid[i] = points.ResMid[i] / 10.0;
    points.OhmsLow[i] = points.ResLow[i] / 10.0;
  }
}

std::vector<int> FitUserCurves(const UserCurvePoints& points, SensorTable& table) {
  std::vector<int> kept;
  for (std::size_t i = 0; i < 8; ++i) {
    const std::optional<Coefficients> fit =
        FitThreePoints(points.TempHi[i], points.OhmsHi[i], points.TempMid[i], points.OhmsMid[i],
                       points.TempLow[i], points.OhmsLow[i]);
    if (!fit) {
      kept.push_back(static_cast<int>(i));
      continue;
    }
    SensorCurve& row = table[kFirstUserRow + i];
    row.A = fit->A;
    row.B = fit->B;
    row.C = fit->C;
  }
  return kept;
}

std::string KeptCurvesLogLine(int curve) {
  return "User curve " + std::to_string(curve) + " not fitted, coefficients kept";
}

}  // namespace zvk
