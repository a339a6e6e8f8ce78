// Thermistor curves: the sensor type codes, the 21-row Steinhart-Hart table and the result codes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zvk {

// 1/T = A + B ln R + C (ln R)^3, R in ohms, T in kelvin; valid range in whole degrees Celsius.
struct SensorCurve {
  double A, B, C;
  std::int16_t MinC, MaxC;
};

inline constexpr int kSensorRows = 21;
using SensorTable = std::array<SensorCurve, kSensorRows>;

// Rows 0 to 12 are the built-in curves, rows 13 to 20 the user curves 0 to 7.
inline constexpr int kFirstUserRow = 13;

SensorTable DefaultSensorTable();

// Items of the sensor type combo boxes, one per row; the first two characters are the code in hex.
extern const std::array<std::string_view, kSensorRows> kSensorItemTexts;

// Row for a sensor type code; none for 0x00 and every code outside 0x60-0x6C and 0x70-0x77.
std::optional<int> SensorRow(std::uint8_t type);

// Chosen far outside any storable temperature (-800 to 2000 tenths): compare exactly.
inline constexpr std::int32_t RESULT_DISABLED = 0x0FF00000;
inline constexpr std::int32_t RESULT_UNDER = 0x0EEEEEEE;
inline constexpr std::int32_t RESULT_OVER = 0x0FFFFFFF;

inline constexpr double kExcitationCurrent = 1e-05;  // amperes
// Volts per reading count until the module has reported its reference count.
inline constexpr double kDefaultVoltsPerCount = 5.04e-05;

}  // namespace zvk
