// Typed texts echoed in error messages: short ones whole, long ones cut to one readable line.
#include "util/message_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zvk {
namespace {

TEST(utilMessageText, LongTextsAreCutAtACharacterAndSayTheirLength) {
  struct Case {
    std::string text;
    std::string shown;
  };
  std::string accented = "x";
  for (int i = 0; i < 40; ++i) accented += "\u00E9";  // two bytes each: byte 40 is inside one
  const Case cases[] = {
      {"", ""},
      {std::string(64, 'a'), std::string(64, 'a')},
      {std::string(65, 'a'), std::string(40, 'a') + "... (65 bytes)"},
      {std::string(100000, 'a'), std::string(40, 'a') + "... (100000 bytes)"},
      {accented, accented.substr(0, 39) + "... (81 bytes)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortenedForMessage(c.text), c.shown);
}

TEST(utilMessageText, MessagesShortenEveryFormOfALongArgument) {
  const std::string y(70, 'y');
  const std::string shown = ShortenedForMessage(y);
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;
    std::string expected;
  };
  const Case cases[] = {
      {"short arguments stay", {"read", "--count", "x"}, "bad count 'x'", "bad count 'x'"},
      {"every occurrence",
       {"info", y},
       "'" + y + "' is not " + y,
       "'" + shown + "' is not " + shown},
      {"option without its dashes",
       {"--" + y},
       "Unknown option '" + y + "'.",
       "Unknown option '" + shown + "'."},
      {"value after '='",
       {"--port=" + y},
       "--port: not '" + y + "'",
       "--port: not '" + shown + "'"},
      {"a longer argument holding a shorter one",
       {y, y + "z"},
       y + "z",
       ShortenedForMessage(y + "z")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WithArgumentsShortened(c.message, c.arguments), c.expected);
  }
}

}  // namespace
}  // namespace zvk
