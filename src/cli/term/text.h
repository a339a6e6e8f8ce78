// Texts of the module on the terminal.
#pragma once

#include <string>
#include <string_view>

namespace zvk::cli {

// A module's text (location, SSID) as the terminal shows it: its characters through the one
// 8-bit codec, and control characters (C0, DEL, C1) as \xNN, so a module's text can neither
// break a line of output nor reach the terminal as an escape sequence.
std::string ModuleTextForTerminal(std::string_view module_bytes);

// The same for a text already in UTF-8 (a profile's, or a line built from a module's texts).
std::string TextForTerminal(std::string_view utf8);

}  // namespace zvk::cli
