// Numbers typed on the command line. CLI11 takes an empty text as 0 and reads "010" as octal
// and "0x10" as hex; a number that reaches the module must be exactly what the user wrote, so
// numbers are read here, strictly, and anything else is a usage error naming the argument.
#pragma once

#include <cstdint>
#include <string>

#include "util/message_text.h"

namespace zvk::cli {

// A whole decimal number with an optional sign ("-5", "+7", "08"). One beyond the 64-bit range
// is refused, never taken as the nearest value. `what` names the argument in the usage error:
// "set-offset: the offset".
std::int64_t ParseWholeNumber(const std::string& text, const std::string& what);

// A decimal number ("3.1", ".5", "2e-1"); no hex, no "inf" or "nan", nothing beyond a double.
double ParseDecimal(const std::string& text, const std::string& what);

}  // namespace zvk::cli
