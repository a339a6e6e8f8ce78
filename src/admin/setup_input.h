// Checks of what is typed into the setup window: dotted-quad addresses and whole numbers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zvk {

// What the setup window writes, counted in bytes of the module's 8-bit code. A profile that is
// restored is held to the same limits before anything is sent.
inline constexpr std::size_t kMaxSsidBytes = 31;
inline constexpr std::size_t kMinKeyBytes = 8;
inline constexpr std::size_t kMaxKeyBytes = 16;
inline constexpr std::size_t kMaxLocationBytes = 31;
inline constexpr std::int32_t kMaxIdleTimeout = 65000;
inline constexpr std::int32_t kWebServerPort = 80;

// A control character (C0 or DEL) in a module text: a name, key or location holding one is
// refused, since the module would keep it and show it back garbled.
bool HasControlCharacter(std::string_view module_bytes);

// Exactly three dots, and four parts of one or more decimal digits (leading zeros allowed),
// each at most 255. "010.0.0.1" passes; "192..1.1", "1.2.3.4." and " 1.2.3.4" do not.
bool IsDottedQuad(const std::string& text);
// The four numbers in written order; nullopt unless IsDottedQuad.
std::optional<std::array<std::uint8_t, 4>> DottedQuadBytes(const std::string& text);

// A whole number as the toolkit's conversion reads it: an optional sign and decimal digits,
// within 32 bits. Otherwise nullopt, and *error says why in the conversion's words:
// "'abc' is not a valid integer value".
std::optional<std::int32_t> StrToInt(const std::string& text, std::string* error);

}  // namespace zvk
