// Fixed-point number text for readings, calibration values and log lines.
#pragma once

#include <string>

namespace zvk {

// `value` with at most `precision` significant digits and exactly `digits` decimals, rounded half
// away from zero at whichever of the two limits comes first; '.' separator, no grouping. A value
// whose integer part needs more than `precision` digits is written in exponent form
// ("1.2346E+05"). Non-finite values give "NAN", "INF" or "-INF".
std::string FormatFixed(double value, int precision, int digits);

}  // namespace zvk
