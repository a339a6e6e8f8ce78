// Fixed-point number text for readings, calibration values and log lines.
#pragma once

#include <string>

namespace zvk {

// `value` with at most `precision` significant digits and exactly `digits` decimals, rounded half
// away from zero at whichever of the two limits comes first; '.' separator, no grouping. A value
// whose integer part needs more than `precision` digits is written in exponent form
// ("1.2346E+05"). Non-finite values give "NAN", "INF" or "-INF".
std::string FormatFixed(double value, int precision, int digits);
// The same text appended to `out`, for lines that hold a value among other text.
void AppendFormatFixed(std::string& out, double value, int precision, int digits);
// The same text appended to `out`; returns the number that text states, as the nearest double
// (what a reader of the text gets, worked out from the rounded digits, never from the text).
// Non-finite values are returned as they are.
double AppendFormatFixedValue(std::string& out, double value, int precision, int digits);

// The same text, always worked out from the value's full decimal expansion. FormatFixed takes a
// shorter road wherever it leads to the same text; this is the reference it is checked against.
std::string FormatFixedExact(double value, int precision, int digits);

}  // namespace zvk
