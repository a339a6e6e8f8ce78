#include "thermistor/convert.h"

#include <cmath>

#include "thermistor/fp_round.h"

namespace zvk {

using detail::RoundToDouble;

std::int32_t ConvertThermistor(std::uint16_t reading, std::uint8_t sensor_type,
                               double volts_per_count, const SensorTable& table) {
  const std::optional<int> row = SensorRow(sensor_type);
  if (!row) return RESULT_DISABLED;
  const SensorCurve& curve = table[static_cast<std::size_t>(*row)];

  // ln 0 is undefined; the module never reports a true zero across a thermistor anyway.
  const unsigned counts = reading == 0 ? 1u : reading;
  const double volts = RoundToDouble(counts * volts_per_count);
  const double ohms = RoundToDouble(volts / kExcitationCurrent);
  const double l = RoundToDouble(std::log(ohms));
  const double l_cubed = RoundToDouble(std::pow(l, 3));
  const double d = RoundToDouble(curve.A + curve.B * l + curve.C * l_cubed);
  const double t = RoundToDouble(1.0 / d - 273.15);

  if (t < curve.MinC) return RESULT_UNDER;
  if (t > curve.MaxC) return RESULT_OVER;
  // NaN fails both tests above and must not reach the conversion to an integer.
  if (std::isnan(t)) return 0;
  return static_cast<std::int32_t>(RoundToDouble(t * 10.0));
}

}  // namespace zvk
