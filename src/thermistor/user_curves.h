// The eight user thermistor curves: their three points each, the module's 144-byte record of
// them, and the three-point fit into rows 13 to 20 of the sensor table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "thermistor/sensor_table.h"

namespace zvk {

// Index i is user curve i (type 0x70 + i, table row 13 + i). Hi, Mid and Low are only names of
// the three points; no order between them is implied.
struct UserCurvePoints {
  // Stored on the module: whole degrees Celsius and tenths of an ohm.
  std::array<std::int16_t, 8> TempHi{}, TempMid{}, TempLow{};
  std::array<std::int32_t, 8> ResHi{}, ResMid{}, ResLow{};
  // Working values in ohms: what the window edits and the fit reads.
  std::array<double, 8> OhmsHi{}, OhmsMid{}, OhmsLow{};
};

// Little-endian: TempHi, TempMid, TempLow (8 x 2 bytes each), then ResHi, ResMid, ResLow
// (8 x 4 bytes each). Also the content of the module's user curve file.
inline constexpr std::size_t USER_CURVE_RECORD_SIZE = 144;

// Fills the stored fields from a record; the working ohms are left alone.
void LoadUserCurveRecord(UserCurvePoints& points, const std::uint8_t* record144);

std::array<std::uint8_t, USER_CURVE_RECORD_SIZE> SerializeUserCurves(const UserCurvePoints& points);

// Working ohms from the stored tenths of an ohm.
void RefreshUserCurveOhms(UserCurvePoints& points);

// Fits all eight curves from the temperatures and the working ohms into rows 13 to 20. A curve
// whose points admit no finite fit keeps its row unchanged; the indices of those curves are
// returned in ascending order.
std::vector<int> FitUserCurves(const UserCurvePoints& points, SensorTable& table);

// The log line for a curve that FitUserCurves kept.
std::string KeptCurvesLogLine(int curve);

}  // namespace zvk
