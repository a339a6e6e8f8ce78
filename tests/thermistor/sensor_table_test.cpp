#include "thermistor/sensor_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "thermistor/convert.h"

namespace zvk {
namespace {

// u8 literals are UTF-8 whatever the execution character set, so they pin the bytes.
std::string_view Utf8(std::u8string_view text) {
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

const std::string_view kDegC = Utf8(u8"\u00B0C");

// Whole degrees in a text like "-35°C".
int ParseDegrees(std::string_view token) {
  EXPECT_TRUE(token.ends_with(kDegC)) << token;
  token.remove_suffix(kDegC.size());
  return std::stoi(std::string(token));
}

TEST(SensorTable, ItemTextsMatchCodesAndRanges) {
  EXPECT_EQ(kSensorItemTexts[0], Utf8(u8"60:PreCon Type III 10K @25°C -35°C ~ 115°C"));
  EXPECT_EQ(kSensorItemTexts[20], Utf8(u8"77:User-defined7 -50°C ~ 150°C"));

  const SensorTable table = DefaultSensorTable();
  for (int row = 0; row < kSensorRows; ++row) {
    const std::string_view text = kSensorItemTexts[row];
    SCOPED_TRACE(std::string(text));
    ASSERT_EQ(text[2], ':');
    const auto code =
        static_cast<std::uint8_t>(std::stoi(std::string(text.substr(0, 2)), nullptr, 16));
    EXPECT_EQ(SensorRow(code), row);

    const std::size_t tilde = text.find(" ~ ");
    ASSERT_NE(tilde, std::string_view::npos);
    const std::string_view before = text.substr(0, tilde);
    EXPECT_EQ(ParseDegrees(before.substr(before.rfind(' ') + 1)), table[row].MinC);
    EXPECT_EQ(ParseDegrees(text.substr(tilde + 3)), table[row].MaxC);
  }
}

TEST(SensorTable, CodesMapToRowsAndNothingElse) {
  struct Case {
    std::uint8_t code;
    std::optional<int> row;
  };
  const Case cases[] = {
      {0x60, 0},  {0x6C, 12}, {0x70, 13}, {0x73, 16}, {0x77, 20},
      {0x00, {}}, {0x5F, {}}, {0x6D, {}}, {0x6F, {}}, {0x78, {}},
      {0xFF, {}}, {0x01, {}}, {0x7F, {}}, {0xE0, {}}, {0x80, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SensorRow(c.code), c.row) << std::hex << int{c.code};
  }

  int listed = 0;
  for (int code = 0; code <= 0xFF; ++code) {
    if (SensorRow(static_cast<std::uint8_t>(code))) ++listed;
  }
  EXPECT_EQ(listed, kSensorRows);
}

TEST(SensorTable, UserRowsStartAsFirstCurveWithWiderRange) {
  const SensorTable table = DefaultSensorTable();
  for (int row = 13; row < kSensorRows; ++row) {
    EXPECT_EQ(table[row].A, table[0].A);
    EXPECT_EQ(table[row].B, table[0].B);
    EXPECT_EQ(table[row].C, table[0].C);
    EXPECT_EQ(table[row].MinC, -50);
    EXPECT_EQ(table[row].MaxC, 150);
  }
}

// Each built-in curve is named after its resistance at 25 degrees: "10K", "2252", ...
TEST(SensorTable, BuiltInCurvesGive25DegreesAtNominalResistance) {
  const SensorTable table = DefaultSensorTable();
  for (int row = 0; row <= 12; ++row) {
    const std::string_view text = kSensorItemTexts[row];
    SCOPED_TRACE(std::string(text));
    const std::size_t at = text.find(" @25");
    ASSERT_NE(at, std::string_view::npos);
    std::string nominal(text.substr(text.rfind(' ', at - 1) + 1, at - text.rfind(' ', at - 1) - 1));
    double ohms = 0;
    if (nominal.back() == 'K') {
      nominal.pop_back();
      ohms = std::stod(nominal) * 1000.0;
    } else {
      ohms = std::stod(nominal);
    }

    const SensorCurve& c = table[row];
    const double l = std::log(ohms);
    const double celsius = 1.0 / (c.A + c.B * l + c.C * l * l * l) - 273.15;
    EXPECT_NEAR(celsius, 25.0, 0.005);

    // The same resistance through the conversion: 50000 counts across it.
    const double volts_per_count = ohms * kExcitationCurrent / 50000.0;
    const std::int32_t tenths =
        ConvertThermistor(50000, static_cast<std::uint8_t>(0x60 + row), volts_per_count, table);
    EXPECT_TRUE(tenths == 249 || tenths == 250) << tenths;
  }
}

}  // namespace
}  // namespace zvk
