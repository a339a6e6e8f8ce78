// Raw thermistor reading to tenths of a degree Celsius, or one of the result codes.
#pragma once

#include <cstdint>

#include "thermistor/sensor_table.h"

namespace zvk {

// Gives RESULT_DISABLED for an unlisted type, RESULT_UNDER / RESULT_OVER outside the row's range,
// else the temperature times ten truncated toward zero.
std::int32_t ConvertThermistor(std::uint16_t reading, std::uint8_t sensor_type,
                               double volts_per_count, const SensorTable& table);

}  // namespace zvk
