#include "thermistor/sensor_table.h"

namespace zvk {

namespace {

constexpr SensorCurve kUserDefault{0.0010285935, 0.0002392842, 1.556e-07, -50, 150};

}  // namespace

SensorTable DefaultSensorTable() {
  return {{
      {0.0010285935, 0.0002392842, 1.556e-07, -35, 115},
      {0.0014957976, 0.0002385183, 1.031e-07, -50, 150},
      {0.0014961642, 0.0002384013, 1.043e-07, 0, 150},
      {0.0017719884, 0.0003401548, 1.593e-07, -80, 100},
      {0.0015684673, 0.0003090632, 1.224e-07, -80, 100},
      {0.0013202558, 0.0002887114, 1.196e-07, -70, 100},
      {0.0014691005, 0.0002381082, 1.018e-07, -50, 150},
      {0.0014031929, 0.0002373281, 9.88e-08, -40, 150},
      {0.0012846091, 0.0002362347, 9.28e-08, -40, 150},
      {0.0012410604, 0.0002360397, 9.04e-08, -30, 150},
      {0.0011235706, 0.0002349095, 8.56e-08, -30, 150},
      {0.001032409, 0.0002386532, 1.581e-07, -30, 150},
      {0.0009375792, 0.0002208453, 1.276e-07, -10, 200},
      // User curves start out with the first built-in curve's coefficients.
      kUserDefault,
      kUserDefault,
      kUserDefault,
      kUserDefault,
      kUserDefault,
      kUserDefault,
      kUserDefault,
      kUserDefault,
  }};
}

// The source is UTF-8; the degree sign is U+00B0.
const std::array<std::string_view, kSensorRows> kSensorItemTexts = {
    "60:PreCon Type III 10K @25°C -35°C ~ 115°C",
    "61:Fenwell Type U 2K @25°C -50°C ~ 150°C",
    "62:Fenwell Type U 2K @25°C 0°C ~ 150°C",
    "63:YSI L Mix 100 @25°C -80°C ~ 100°C",
    "64:YSI L Mix 300 @25°C -80°C ~ 100°C",
    "65:YSI L Mix 1000 @25°C -70°C ~ 100°C",
    "66:YSI B Mix 2252 @25°C -50°C ~ 150°C",
    "67:YSI B Mix 3000 @25°C -40°C ~ 150°C",
    "68:YSI B Mix 5000 @25°C -40°C ~ 150°C",
    "69:YSI B Mix 6000 @25°C -30°C ~ 150°C",
    "6A:YSI B Mix 10000 @25°C -30°C ~ 150°C",
    "6B:YSI H Mix 10000 @25°C -30°C ~ 150°C",
    "6C:YSI H Mix 30000 @25°C -10°C ~ 200°C",
    "70:User-defined0 -50°C ~ 150°C",
    "71:User-defined1 -50°C ~ 150°C",
    "72:User-defined2 -50°C ~ 150°C",
    "73:User-defined3 -50°C ~ 150°C",
    "74:User-defined4 -50°C ~ 150°C",
    "75:User-defined5 -50°C ~ 150°C",
    "76:User-defined6 -50°C ~ 150°C",
    "77:User-defined7 -50°C ~ 150°C",
};

std::optional<int> SensorRow(std::uint8_t type) {
  if (type >= 0x60 && type <= 0x6C) return type - 0x60;
  if (type >= 0x70 && type <= 0x77) return type - 0x70 + kFirstUserRow;
  return std::nullopt;
}

}  // namespace zvk
