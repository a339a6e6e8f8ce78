#include "monitor/format_fixed.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zvk {

namespace {

// Every finite double has a terminating decimal expansion of at most 767 significant digits, so
// this many digits after the leading one reproduce it exactly (to_chars pads with zeros).
constexpr int kExactDigits = 767;

// Digits the fast path asks for beyond the precision. They tell which side of a rounding tie the
// value lies on; only when they read exactly "50...0" is the answer left to the exact expansion.
constexpr int kGuardDigits = 3;
// Above this many significant digits the exact expansion is as cheap as anything else.
constexpr int kFastDigitsLimit = 40;

// Significant digits of a non-negative value; the place value of digits[0] is 10^exponent.
// digits[0] != '0' unless the value is zero, in which case the exponent is 0.
struct Decimal {
  char digits[kExactDigits + 1];
  int count = 0;
  int exponent = 0;
};

// The first `significant` digits of `magnitude`, correctly rounded from its exact binary value
// (to_chars works from the exact value, whatever the precision).
void ToDecimal(double magnitude, int significant, Decimal& d) {
  char text[kExactDigits + 16];
  const char* end = std::to_chars(text, text + sizeof text, magnitude,
                                  std::chars_format::scientific, significant - 1)
                        .ptr;
  const char* p = text;
  d.count = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') d.digits[d.count++] = *p;
  ++p;  // 'e'
  const bool negative = *p == '-';
  int exponent = 0;
  std::from_chars(p + 1, end, exponent);
  d.exponent = negative ? -exponent : exponent;
}

// Keeps `keep` leading digits and rounds half away from zero; with `keep` 0 the first digit alone
// decides between 0 and one unit of the next higher place, below 0 the result is 0. Digits past
// the end count as zeros. Trailing zeros are dropped from the result.
void RoundAt(Decimal& d, int keep) {
  if (keep < 0) {
    d.count = 1;
    d.digits[0] = '0';
    d.exponent = 0;
    return;
  }
  if (keep < d.count) {
    const bool up = d.digits[keep] >= '5';
    d.count = keep;
    if (up) {
      int i = keep - 1;
      for (; i >= 0 && d.digits[i] == '9'; --i) d.digits[i] = '0';
      if (i >= 0) {
        ++d.digits[i];
      } else {
        // All nines (or nothing kept): one unit of the next higher place.
        d.digits[0] = '1';
        d.count = 1;
        ++d.exponent;
      }
    }
  }
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  if (d.count == 0) d.digits[d.count++] = '0';
  if (d.count == 1 && d.digits[0] == '0') d.exponent = 0;
}

// Last kept place: the precision-th significant digit or the last decimal, whichever is higher.
int KeptDigits(const Decimal& d, int precision, int decimals) {
  return std::min(precision, d.exponent + decimals + 1);
}

// The value rounded from its exact decimal expansion: the definition of the result.
void RoundExact(double magnitude, int precision, int decimals, Decimal& r) {
  ToDecimal(magnitude, kExactDigits + 1, r);
  if (r.digits[0] == '0') {
    RoundAt(r, 0);
    return;
  }
  RoundAt(r, KeptDigits(r, precision, decimals));
}

// The same result from a few digits more than are kept. The digits past the kept ones are
// correctly rounded, so they are off the exact ones by at most half a unit in their last place;
// they decide the rounding the same way unless they read "50...0", which the exact value may
// lie on, just above or just below. A carry into a new leading digit shows as "10...0" with the
// exponent one higher; whether kept to the old or the new place, it gives the same text.
bool RoundFast(double magnitude, int precision, int decimals, Decimal& r) {
  const int significant = precision + kGuardDigits;
  if (significant > kFastDigitsLimit) return false;
  ToDecimal(magnitude, significant, r);
  if (r.digits[0] == '0') {
    RoundAt(r, 0);
    return true;
  }
  const int keep = KeptDigits(r, precision, decimals);
  if (keep >= 0 && r.digits[keep] == '5' &&
      std::all_of(r.digits + keep + 1, r.digits + r.count, [](char c) { return c == '0'; }))
    return false;
  RoundAt(r, keep);
  return true;
}

char DigitAt(const Decimal& d, int place) {
  const int index = d.exponent - place;
  return index < 0 || index >= d.count ? '0' : d.digits[index];
}

std::string Render(bool negative, const Decimal& r, int precision, int decimals) {
  const bool zero = r.count == 1 && r.digits[0] == '0';
  const bool exponent_form = !zero && r.exponent + 1 > precision;
  const int integer_digits = exponent_form || zero ? 1 : std::max(r.exponent, 0) + 1;
  // Sign, integer digits, point and decimals, or the mantissa and up to "E+308".
  std::string out(
      static_cast<std::size_t>(2 + std::max(integer_digits, precision) + 1 + decimals + 6), '\0');
  char* p = out.data();
  if (negative && !zero) *p++ = '-';

  if (exponent_form) {
    *p++ = r.digits[0];
    if (precision > 1) {
      *p++ = '.';
      for (int i = 1; i < precision; ++i) *p++ = DigitAt(r, r.exponent - i);
    }
    *p++ = 'E';
    *p++ = '+';
    if (r.exponent < 10) *p++ = '0';
    p = std::to_chars(p, out.data() + out.size(), r.exponent).ptr;
  } else {
    for (int place = integer_digits - 1; place >= 0; --place) *p++ = DigitAt(r, place);
    if (decimals > 0) {
      *p++ = '.';
      for (int place = -1; place >= -decimals; --place) *p++ = DigitAt(r, place);
    }
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

std::string Format(double value, int precision, int decimals, bool exact_only) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (precision < 1) precision = 1;
  if (decimals < 0) decimals = 0;
  const double magnitude = std::fabs(value);
  Decimal r;
  if (exact_only || !RoundFast(magnitude, precision, decimals, r))
    RoundExact(magnitude, precision, decimals, r);
  return Render(value < 0, r, precision, decimals);
}

}  // namespace

std::string FormatFixed(double value, int precision, int digits) {
  return Format(value, precision, digits, false);
}

std::string FormatFixedExact(double value, int precision, int digits) {
  return Format(value, precision, digits, true);
}

}  // namespace zvk
