// Texts a person typed, echoed back in error messages: an argument may be any length, a message
// stays one readable line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zvk {

// Texts up to this many bytes are echoed whole.
inline constexpr std::size_t kEchoedTextLimit = 64;

// The text itself when short; else its first 40 bytes (never half a UTF-8 character), "..." and
// its length: "xxxx... (100000 bytes)".
std::string ShortenedForMessage(std::string_view text);

// The first `count` characters of UTF-8 text (whole characters: a message that echoes the start
// of a typed text never shows half of one).
std::string FirstCharacters(std::string_view text, std::size_t count);

// The message with every occurrence of an over-long argument shortened, for messages built by
// code (a parser's) that echoes arguments whole, as they are or, for an option, without its
// dashes and split at its "=".
std::string WithArgumentsShortened(std::string_view message,
                                   const std::vector<std::string>& arguments);

// Whether `text` is an IPv4 address in four dotted decimal parts of 0 to 255 and nothing else.
bool IsDottedIpv4(const std::string& text);

}  // namespace zvk
