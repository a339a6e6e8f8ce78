#include "cli/arguments.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "cli/cli_error.h"

namespace zvk::cli {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

[[noreturn]] void NotA(const std::string& kind, const std::string& text, const std::string& what) {
  throw UsageError(what + " must be " + kind + ", not '" + text + "'");
}

}  // namespace

std::int64_t ParseWholeNumber(const std::string& text, const std::string& what) {
  const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
  const std::string digits = text.substr(sign ? 1 : 0);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit))
    NotA("a whole number", text, what);
  const bool negative = text[0] == '-';
  // from_chars takes no '+', but a '-' belongs to the value.
  const std::string number = negative ? text : digits;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range)
    throw UsageError(what + " is out of range: '" + text + "'");
  if (error != std::errc() || end != number.data() + number.size())
    NotA("a whole number", text, what);
  return value;
}

double ParseDecimal(const std::string& text, const std::string& what) {
  const std::size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
  // Only digits, a point, signs and an exponent: from_chars would also take "inf" and "nan".
  const auto plain_char = [](char c) {
    return IsDigit(c) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
  };
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  if (first == last || !std::all_of(first, last, plain_char)) NotA("a number", text, what);
  double value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (end != last) NotA("a number", text, what);
  if (error == std::errc::result_out_of_range || !std::isfinite(value))
    throw UsageError(what + " is out of range: '" + text + "'");
  if (error != std::errc()) NotA("a number", text, what);
  return value;
}

}  // namespace zvk::cli
