#include "cli/terminal_text.h"

#include "util/text_codec.h"

namespace zvk::cli {

std::string ModuleTextForTerminal(std::string_view module_bytes) {
  return ControlCharactersEscaped(ModuleTextToUtf8(module_bytes));
}

}  // namespace zvk::cli
