#include "util/message_text.h"

#include <algorithm>
#include <string>

namespace zvk {

namespace {

constexpr std::size_t kShownBytes = 40;

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string ShortenedForMessage(std::string_view text) {
  if (text.size() <= kEchoedTextLimit) return std::string(text);
  std::size_t cut = kShownBytes;
  while (cut > 0 && IsContinuationByte(text[cut])) --cut;
  return std::string(text.substr(0, cut)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string FirstCharacters(std::string_view text, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t n = 0; n < count && end < text.size(); ++n) {
    ++end;
    while (end < text.size() && IsContinuationByte(text[end])) ++end;
  }
  return std::string(text.substr(0, end));
}

std::string WithArgumentsShortened(std::string_view message,
                                   const std::vector<std::string>& arguments) {
  // Parsers echo an option without its dashes, or only the value of "--name=value".
  std::vector<std::string_view> long_ones;
  const auto consider = [&long_ones](std::string_view text) {
    if (text.size() > kEchoedTextLimit) long_ones.push_back(text);
  };
  for (const std::string_view a : arguments) {
    consider(a);
    if (a.starts_with('-')) {
      const std::size_t name = a.find_first_not_of('-');
      const std::string_view option = name == std::string_view::npos ? "" : a.substr(name);
      consider(option);
      if (const std::size_t equals = option.find('='); equals != std::string_view::npos) {
        consider(option.substr(0, equals));
        consider(option.substr(equals + 1));
      }
    }
  }
  if (long_ones.empty()) return std::string(message);
  // Longest first, so an argument that contains another is shortened as a whole.
  std::sort(long_ones.begin(), long_ones.end(),
            [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
  std::string out;
  std::size_t at = 0;
  while (at < message.size()) {
    const auto match = std::find_if(long_ones.begin(), long_ones.end(), [&](std::string_view a) {
      return message.substr(at, a.size()) == a;
    });
    if (match != long_ones.end()) {
      out += ShortenedForMessage(*match);
      at += match->size();
    } else {
      out += message[at++];
    }
  }
  return out;
}

bool IsDottedIpv4(const std::string& text) {
  int parts = 0;
  std::size_t at = 0;
  while (parts < 4) {
    std::size_t end = at;
    while (end < text.size() && (text[end] >= '0' && text[end] <= '9')) ++end;
    if (end == at || end - at > 3 || std::stoi(text.substr(at, end - at)) > 255) return false;
    // "010" reads as 8 to some tools and as 10 to others: no leading zeros.
    if (end - at > 1 && text[at] == '0') return false;
    ++parts;
    if (end == text.size()) return parts == 4;
    if (text[end] != '.') return false;
    at = end + 1;
  }
  return false;
}

}  // namespace zvk
