// The module's texts (location, SSIDs, keys) are 8-bit characters of Windows-1252 on the wire,
// while everything shown to a person or typed by one is UTF-8. This is the one conversion
// between the two, used in both directions by every front end.
//
// The five bytes Windows-1252 leaves undefined (81, 8D, 8F, 90, 9D) stand for the C1 control
// characters of the same number (U+0081, U+008D, U+008F, U+0090, U+009D), both ways, so every
// byte a module sends survives a round trip through a person's edit unchanged. The other C1
// code points (U+0080, U+0082 ...) are refused: their bytes already stand for other characters.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace zvk {

// A text that cannot be sent to the module; the message names the offending character or byte.
class TextCodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Module bytes to UTF-8. Every byte has a character, so this never fails.
std::string ModuleTextToUtf8(std::string_view module_bytes);

// UTF-8 to module bytes, one byte a character. Throws TextCodecError for input that is not
// well-formed UTF-8 and for a character Windows-1252 cannot hold; nothing is ever replaced.
std::string Utf8ToModuleText(std::string_view utf8);

// UTF-8 text as a terminal, a table or a one-line cell shows it: control characters (C0, DEL,
// C1) and bytes that are not UTF-8 as \xNN, so a text from a module or a file can neither break
// a line nor reach a terminal as an escape sequence. Everything else is kept.
std::string ControlCharactersEscaped(std::string_view utf8);

}  // namespace zvk
