#include "cli/term/text.h"

#include "util/text_codec.h"

namespace zvk::cli {

std::string ModuleTextForTerminal(std::string_view module_bytes) {
  return ControlCharactersEscaped(ModuleTextToUtf8(module_bytes));
}

std::string TextForTerminal(std::string_view utf8) {
  return ControlCharactersEscaped(utf8);
}

}  // namespace zvk::cli
