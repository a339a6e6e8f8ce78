#include "util/format_fixed.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace zvk {

namespace {

// Every finite double has a terminating decimal expansion of at most 767 significant digits, so
// this many digits after the leading one reproduce it exactly (to_chars pads with zeros).
constexpr int kExactDigits = 767;

struct Decimal {
  std::string digits;  // significant digits, digits[0] != '0' unless the value is zero
  int exponent = 0;    // place value of digits[0] is 10^exponent
};

Decimal ExactDecimal(double magnitude) {
  char buf[kExactDigits + 16];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, kExactDigits);
  (void)ec;  // the buffer always fits the exact expansion
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  std::size_t e = text.find('e');
  Decimal d;
  d.digits.reserve(e);
  for (char c : text.substr(0, e))
    if (c != '.') d.digits.push_back(c);
  d.exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Keeps `keep` leading digits and rounds half away from zero; with `keep` 0 the first digit alone
// decides between 0 and one unit of the next higher place, below 0 the result is 0. The digits
// are the exact value, so a '5' or more at the first dropped position means "at least half":
// exact ties go up, and binary noise below a tie stays below it.
Decimal RoundToDigits(const Decimal& d, int keep) {
  if (keep < 0) return {"0", 0};
  if (static_cast<std::size_t>(keep) >= d.digits.size()) return d;
  Decimal r{d.digits.substr(0, static_cast<std::size_t>(keep)), d.exponent};
  if (d.digits[static_cast<std::size_t>(keep)] >= '5') {
    int i = keep - 1;
    for (; i >= 0 && r.digits[static_cast<std::size_t>(i)] == '9'; --i)
      r.digits[static_cast<std::size_t>(i)] = '0';
    if (i >= 0) {
      ++r.digits[static_cast<std::size_t>(i)];
    } else {
      r.digits.insert(r.digits.begin(), '1');
      ++r.exponent;
    }
  }
  if (r.digits.empty()) r.digits = "0";
  while (r.digits.size() > 1 && r.digits.back() == '0') r.digits.pop_back();
  if (r.digits == "0") r.exponent = 0;
  return r;
}

char DigitAt(const Decimal& d, int place) {
  int index = d.exponent - place;
  if (index < 0 || static_cast<std::size_t>(index) >= d.digits.size()) return '0';
  return d.digits[static_cast<std::size_t>(index)];
}

}  // namespace

std::string FormatFixed(double value, int precision, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (precision < 1) precision = 1;
  if (digits < 0) digits = 0;

  Decimal exact = ExactDecimal(std::fabs(value));
  Decimal r = exact;
  if (exact.digits != "0") {
    // Last kept place: the precision-th significant digit or the last decimal, whichever is
    // higher.
    int keep = std::min(precision, exact.exponent + digits + 1);
    r = RoundToDigits(exact, keep);
  }
  bool zero = r.digits == "0";
  std::string out = (value < 0 && !zero) ? "-" : "";

  if (!zero && r.exponent + 1 > precision) {
    out += r.digits[0];
    if (precision > 1) {
      out += '.';
      for (int i = 1; i < precision; ++i) out += DigitAt(r, r.exponent - i);
    }
    int e = r.exponent;
    char exp_text[8];
    auto end = std::to_chars(exp_text, exp_text + sizeof exp_text, e).ptr;
    out += "E+";
    if (e < 10) out += '0';
    out.append(exp_text, end);
    return out;
  }

  int top = zero ? 0 : std::max(r.exponent, 0);
  for (int place = top; place >= 0; --place) out += DigitAt(r, place);
  if (digits > 0) {
    out += '.';
    for (int place = -1; place >= -digits; --place) out += DigitAt(r, place);
  }
  return out;
}

}  // namespace zvk
