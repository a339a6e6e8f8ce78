#include "util/format_fixed.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zvk {

namespace {

// Every finite double has a terminating decimal expansion of at most 767 significant digits, so
// this many digits after the leading one reproduce it exactly (to_chars pads with zeros).
constexpr int kExactDigits = 767;

// The value is rounded by the first of three roads that applies: in 128-bit integers where the
// value times 10^decimals fits (RoundWide, every value the callers format), from a few guard
// digits beyond the precision (RoundFast), and from the full expansion (RoundExact), which
// defines the result and is taken only where the guard digits sit right on a tie.

// Guard digits RoundFast asks for beyond the precision. They tell which side of a rounding tie
// the value lies on unless they read exactly "50...0".
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
  // "d.ddde-05": the leading digit, the point unless it stands alone, the others, the exponent.
  char text[kExactDigits + 16];
  const char* end = std::to_chars(text, text + sizeof text, magnitude,
                                  std::chars_format::scientific, significant - 1)
                        .ptr;
  d.digits[0] = text[0];
  const char* exponent = text + 1;
  if (significant > 1) {
    std::memcpy(d.digits + 1, text + 2, static_cast<std::size_t>(significant - 1));
    exponent = text + 1 + significant;
  }
  d.count = significant;
  int value = 0;
  for (const char* p = exponent + 2; p < end; ++p) value = value * 10 + (*p - '0');
  d.exponent = exponent[1] == '-' ? -value : value;
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

#if defined(__SIZEOF_INT128__)
__extension__ using Wide = unsigned __int128;

constexpr int kWideDecimals = 19;  // 10^19 is the highest power of ten below 2^64

constexpr auto kPowersOfTen = [] {
  std::array<Wide, 39> p{};  // 10^38 is the highest power of ten below 2^128
  p[0] = 1;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// Number of decimal digits of t, 0 for t == 0: estimated from its bit width, then corrected.
int DecimalWidth(Wide t) {
  const auto high = static_cast<std::uint64_t>(t >> 64);
  const int bits =
      high != 0 ? 64 + std::bit_width(high) : std::bit_width(static_cast<std::uint64_t>(t));
  const int estimate = bits * 1233 >> 12;  // 1233 / 4096 is just below log10(2)
  return estimate + (t >= kPowersOfTen[static_cast<std::size_t>(estimate)] ? 1 : 0);
}

// The rounding worked out exactly in integers: magnitude is m * 2^e, so magnitude * 10^decimals
// is the integer m * 10^decimals shifted by e, and what the shift drops is the fraction that
// decides the rounding. Used where that product fits 128 bits, as for every value of the callers.
bool RoundWide(double magnitude, int precision, int decimals, Decimal& r) {
  if (decimals > kWideDecimals) return false;
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>(bits >> 52);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = -1074;  // subnormal
  if (biased != 0) {
    m |= std::uint64_t{1} << 52;
    e = biased - 1075;
  }
  Wide t = Wide{m} * kPowersOfTen[static_cast<std::size_t>(decimals)];  // below 2^117
  bool up = false;  // what is dropped is at least half a unit
  if (e >= 0) {
    if (e >= 117 || (t >> (127 - e)) != 0) return false;
    t <<= e;
  } else if (-e > 117) {
    t = 0;  // below half a unit of the last decimal
  } else {
    const int k = -e;
    up = (t & ((Wide{1} << k) - 1)) >= (Wide{1} << (k - 1));
    t >>= k;
  }
  // t is the value cut at the last decimal: its width is the place of the leading digit plus
  // the decimals plus one, and where that is more than the precision, the precision cuts first.
  int scale = decimals;  // t counts units of 10^-scale
  if (const int width = DecimalWidth(t); width > precision) {
    const Wide unit = kPowersOfTen[static_cast<std::size_t>(width - precision)];
    // An integer remainder below half a unit stays below it whatever fraction follows.
    if (t <= UINT64_MAX) {
      const auto n = static_cast<std::uint64_t>(t), u = static_cast<std::uint64_t>(unit);
      up = n % u >= u / 2;
      t = n / u;
    } else {
      up = t % unit >= unit / 2;
      t /= unit;
    }
    scale -= width - precision;
  }
  if (up) ++t;
  if (t > UINT64_MAX) return false;  // more than 19 digits kept: left to the other roads

  r.count = static_cast<int>(
      std::to_chars(r.digits, r.digits + 24, static_cast<std::uint64_t>(t)).ptr - r.digits);
  r.exponent = r.count - 1 - scale;
  RoundAt(r, r.count);  // drops trailing zeros
  return true;
}
#else
bool RoundWide(double, int, int, Decimal&) {
  return false;
}
#endif

// Writes the digits of the places `from` down to `to`, zeros where the value has none.
char* PutPlaces(char* p, const Decimal& d, int from, int to) {
  while (from >= to) {
    const int index = d.exponent - from;
    const int places = from - to + 1;
    int n;
    if (index < 0) {
      n = std::min(places, -index);
      std::memset(p, '0', static_cast<std::size_t>(n));
    } else if (index < d.count) {
      n = std::min(places, d.count - index);
      std::memcpy(p, d.digits + index, static_cast<std::size_t>(n));
    } else {
      n = places;
      std::memset(p, '0', static_cast<std::size_t>(n));
    }
    p += n;
    from -= n;
  }
  return p;
}

// Writes the text from `p` on; returns its end.
char* RenderInto(char* p, bool negative, const Decimal& r, int precision, int decimals) {
  const bool zero = r.count == 1 && r.digits[0] == '0';
  if (negative && !zero) *p++ = '-';
  if (!zero && r.exponent + 1 > precision) {
    *p++ = r.digits[0];
    if (precision > 1) {
      *p++ = '.';
      p = PutPlaces(p, r, r.exponent - 1, r.exponent - precision + 1);
    }
    *p++ = 'E';
    *p++ = '+';
    if (r.exponent < 10) *p++ = '0';
    return std::to_chars(p, p + 3, r.exponent).ptr;
  }
  p = PutPlaces(p, r, zero ? 0 : std::max(r.exponent, 0), 0);
  if (decimals > 0) {
    *p++ = '.';
    p = PutPlaces(p, r, -1, -decimals);
  }
  return p;
}

void AppendText(std::string& out, bool negative, const Decimal& r, int precision, int decimals) {
  // Sign, at most `precision` integer digits, point and decimals; or sign, mantissa and "E+308".
  const auto size = static_cast<std::size_t>(precision + decimals + 8);
  char text[64];
  if (size <= sizeof text) {
    // Through a buffer of our own: a short text then fits the string without an allocation.
    out.append(text, RenderInto(text, negative, r, precision, decimals));
    return;
  }
  const std::size_t at = out.size();
  out.resize(at + size);
  out.resize(static_cast<std::size_t>(
      RenderInto(out.data() + at, negative, r, precision, decimals) - out.data()));
}

// The rounded digits as the nearest double: one correctly rounded operation on exact operands
// where the digits and the power of ten are exact doubles, else the library's conversion of the
// digits, which rounds correctly too.
double ValueOf(bool negative, const Decimal& r) {
  if (r.count == 1 && r.digits[0] == '0') return 0.0;
  const int power = r.exponent - r.count + 1;
  double v = 0;
  if (r.count <= 15 && power >= -22 && power <= 22) {
    std::uint64_t m = 0;
    for (int i = 0; i < r.count; ++i) m = m * 10 + static_cast<std::uint64_t>(r.digits[i] - '0');
    static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    v = power >= 0 ? static_cast<double>(m) * kTens[power] : static_cast<double>(m) / kTens[-power];
  } else {
    char text[kExactDigits + 16];
    std::memcpy(text, r.digits, static_cast<std::size_t>(r.count));
    char* p = text + r.count;
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text, power).ptr;
    std::from_chars(text, p, v);
  }
  return negative ? -v : v;
}

double Append(std::string& out, double value, int precision, int decimals, bool exact_only) {
  if (std::isnan(value)) {
    out += "NAN";
    return value;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
    return value;
  }
  if (precision < 1) precision = 1;
  if (decimals < 0) decimals = 0;
  const double magnitude = std::fabs(value);
  Decimal r;
  if (exact_only || !(RoundWide(magnitude, precision, decimals, r) ||
                      RoundFast(magnitude, precision, decimals, r)))
    RoundExact(magnitude, precision, decimals, r);
  AppendText(out, value < 0, r, precision, decimals);
  return ValueOf(value < 0, r);
}

}  // namespace

std::string FormatFixed(double value, int precision, int digits) {
  std::string text;
  Append(text, value, precision, digits, false);
  return text;
}

void AppendFormatFixed(std::string& out, double value, int precision, int digits) {
  Append(out, value, precision, digits, false);
}

double AppendFormatFixedValue(std::string& out, double value, int precision, int digits) {
  return Append(out, value, precision, digits, false);
}

std::string FormatFixedExact(double value, int precision, int digits) {
  std::string text;
  Append(text, value, precision, digits, true);
  return text;
}

}  // namespace zvk
