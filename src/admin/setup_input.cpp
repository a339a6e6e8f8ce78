#include "admin/setup_input.h"

#include <algorithm>
#include <charconv>

#include "util/message_text.h"

namespace zvk {

namespace {

constexpr int kPartLimit = 255;

// A part's value, or nullopt when it is empty or too large to convert.
std::optional<long long> PartValue(const std::string& digits) {
  long long value = 0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  const auto [end, ec] = std::from_chars(first, last, value);
  if (digits.empty() || ec != std::errc() || end != last || value > INT32_MAX) return std::nullopt;
  return value;
}

}  // namespace

bool HasControlCharacter(std::string_view module_bytes) {
  return std::any_of(module_bytes.begin(), module_bytes.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

std::optional<std::array<std::uint8_t, 4>> DottedQuadBytes(const std::string& text) {
  if (std::count(text.begin(), text.end(), '.') != 3) return std::nullopt;
  std::array<std::uint8_t, 4> bytes{};
  std::size_t parts = 0;
  std::string part;
  // One walk: digits collect, a dot or the end converts, tests and counts the collected part.
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      part += text[i];
      continue;
    }
    if (i < text.size() && text[i] != '.') return std::nullopt;
    const std::optional<long long> value = PartValue(part);
    if (!value || *value > kPartLimit) return std::nullopt;
    bytes[parts++] = static_cast<std::uint8_t>(*value);
    part.clear();
  }
  return bytes;
}

bool IsDottedQuad(const std::string& text) {
  return DottedQuadBytes(text).has_value();
}

std::optional<std::int32_t> StrToInt(const std::string& text, std::string* error) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last || (*first == '-' && text[0] == '+')) {
    if (error) *error = "'" + ShortenedForMessage(text) + "' is not a valid integer value";
    return std::nullopt;
  }
  return value;
}

}  // namespace zvk
