#include "util/text_codec.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace zvk {

namespace {

// Characters of the bytes 80 to 9F; the undefined five keep their own number (see the header).
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t CharacterOf(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

std::optional<unsigned char> ByteOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
  for (std::size_t i = 0; i < kHighControls.size(); ++i)
    if (kHighControls[i] == c) return static_cast<unsigned char>(0x80 + i);
  return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {  // no character of the code page lies above U+FFFF
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One character of well-formed UTF-8 starting at `at` (the ranges of the Unicode standard: no
// overlong forms, no surrogates, nothing above U+10FFFF); advances `at` past it.
std::optional<char32_t> NextCharacter(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(at + i);
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return std::nullopt;
    c = (c << 6) | (b & 0x3F);
  }
  at += length;
  return c;
}

// Characters that would not show, or would disturb the text around them, in an error message.
bool ShowsAsItself(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  constexpr Range kHidden[] = {
      {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD},   {0x0300, 0x036F},
      {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F},   {0xFE00, 0xFE0F},
      {0xFEFF, 0xFEFF}, {0xFFF0, 0xFFFF}, {0xE0000, 0xE0FFF},
  };
  for (const Range& r : kHidden)
    if (c >= r.first && c <= r.last) return false;
  return true;
}

std::string CodePointName(char32_t c) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
  return name;
}

}  // namespace

std::string ModuleTextToUtf8(std::string_view module_bytes) {
  std::string out;
  out.reserve(module_bytes.size());
  for (const char b : module_bytes) AppendUtf8(out, CharacterOf(static_cast<unsigned char>(b)));
  return out;
}

std::string Utf8ToModuleText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    const std::size_t start = at;
    const std::optional<char32_t> c = NextCharacter(utf8, at);
    if (!c) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(utf8[start]));
      throw TextCodecError("the text is not valid UTF-8 (byte " + std::string(byte) +
                           " at offset " + std::to_string(start) + ")");
    }
    const std::optional<unsigned char> b = ByteOf(*c);
    if (!b) {
      // Built by appending: GCC 12 at -O3 misreads "literal" + temporary string (-Wrestrict).
      std::string name;
      if (ShowsAsItself(*c)) {
        name += '"';
        name.append(utf8.substr(start, at - start));
        name += "\" (";
        name += CodePointName(*c);
        name += ')';
      } else {
        name = CodePointName(*c);
      }
      throw TextCodecError("the character " + name +
                           " is not in the module's code page (Windows-1252)");
    }
    out += static_cast<char>(*b);
  }
  return out;
}

// Control characters and bytes that are not UTF-8 as \xNN: a terminal acts on them (C1 ones too,
// in some terminals, even encoded), and a line break would split a line or a cell.
std::string ControlCharactersEscaped(std::string_view utf8) {
  std::string shown;
  shown.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    const std::size_t start = at;
    const std::optional<char32_t> c = NextCharacter(utf8, at);
    const bool control = c && (*c < 0x20 || (*c >= 0x7F && *c <= 0x9F));
    if (c && !control) {
      shown.append(utf8.substr(start, at - start));
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X",
                  c ? static_cast<unsigned>(*c) : static_cast<unsigned char>(utf8[start]));
    shown += escaped;
    if (!c) ++at;
  }
  return shown;
}

}  // namespace zvk
