// The 8-bit text codec: module bytes (Windows-1252) to UTF-8 and typed UTF-8 back to bytes.
#include "util/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace zvk {
namespace {

TEST(utilTextCodec, EveryModuleByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string shown = ModuleTextToUtf8(all);
  EXPECT_EQ(Utf8ToModuleText(shown), all);
}

TEST(utilTextCodec, ModuleBytesShowAsTheirCharacters) {
  struct Case {
    std::string bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"Lab bench 1", "Lab bench 1"},
      {"B\xFCro", "B\u00FCro"},
      {"\xC4rger \xDF \xA0\xFF", "\u00C4rger \u00DF \u00A0\u00FF"},
      // The row the code page fills differently from Latin-1, byte by byte; the five bytes it
      // leaves undefined keep their own number.
      {"\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F",
       "\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u008D"
       "\u017D\u008F"},
      {"\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F",
       "\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u009D"
       "\u017E\u0178"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(ModuleTextToUtf8(c.bytes), c.shown);
    EXPECT_EQ(Utf8ToModuleText(c.shown), c.bytes);
  }
}

TEST(utilTextCodec, TypedTextTheCodePageCannotHoldIsRefusedByName) {
  struct Case {
    const char* name;
    std::string typed;
    std::string message;  // the whole error text
  };
  const std::string tail = " is not in the module's code page (Windows-1252)";
  const Case cases[] = {
      {"Greek", "Sensor \u03A9", "the character \"\u03A9\" (U+03A9)" + tail},
      {"beyond the basic plane", "ok \U0001F600", "the character \"\U0001F600\" (U+1F600)" + tail},
      // Its byte 80 stands for the euro sign, so the control character itself has none.
      {"C1 control with a taken byte", "a\u0080", "the character U+0080" + tail},
      {"invisible", "a\u200Bb", "the character U+200B" + tail},
      {"direction override", "\u202Eabc", "the character U+202E" + tail},
      {"stray continuation byte", "ab\x80", "the text is not valid UTF-8 (byte 0x80 at offset 2)"},
      {"cut short", "B\xC3", "the text is not valid UTF-8 (byte 0xC3 at offset 1)"},
      {"cut short before the end",
       "\xE2\x82"
       "x",
       "the text is not valid UTF-8 (byte 0xE2 at offset 0)"},
      {"overlong two bytes", "\xC0\xAF", "the text is not valid UTF-8 (byte 0xC0 at offset 0)"},
      {"overlong three bytes", "\xE0\x80\xAF",
       "the text is not valid UTF-8 (byte 0xE0 at offset 0)"},
      {"overlong four bytes", "\xF0\x82\x82\xAC",
       "the text is not valid UTF-8 (byte 0xF0 at offset 0)"},
      {"surrogate", "\xED\xA0\x80", "the text is not valid UTF-8 (byte 0xED at offset 0)"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "the text is not valid UTF-8 (byte 0xF4 at offset 0)"},
      {"never a lead byte", "x\xFF", "the text is not valid UTF-8 (byte 0xFF at offset 1)"},
      {"Latin-1 bytes typed as they are", "B\xFCro",
       "the text is not valid UTF-8 (byte 0xFC at offset 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const std::string bytes = Utf8ToModuleText(c.typed);
      ADD_FAILURE() << "accepted as " << bytes.size() << " bytes";
    } catch (const TextCodecError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

TEST(utilTextCodec, TypedTextBecomesOneByteACharacter) {
  // The longest well-formed sequences the code page holds: three UTF-8 bytes to one.
  EXPECT_EQ(Utf8ToModuleText("\u201CK\u00FChlraum\u201D \u2013 5 \u20AC\u2122"),
            "\x93K\xFChlraum\x94 \x96 5 \x80\x99");
  EXPECT_EQ(Utf8ToModuleText(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace zvk
