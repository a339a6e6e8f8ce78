#include "cli/terminal_text.h"

#include <cstdio>

#include "util/text_codec.h"

namespace zvk::cli {

namespace {

std::string Escaped(unsigned code) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", code);
  return text;
}

}  // namespace

std::string ModuleTextForTerminal(std::string_view module_bytes) {
  return TextForTerminal(ModuleTextToUtf8(module_bytes));
}

std::string TextForTerminal(std::string_view utf8) {
  std::string shown;
  shown.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
    if (b < 0x20 || b == 0x7F) {
      shown += Escaped(b);
    } else if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F
      shown += Escaped(next);
      ++i;
    } else {
      shown += static_cast<char>(b);
    }
  }
  return shown;
}

}  // namespace zvk::cli
