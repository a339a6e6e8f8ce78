// Measurement block decoding and the texts of the value labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/dispatcher.h"
#include "link/wire.h"
#include "monitor/measurement.h"
#include "support/rig.h"
#include "thermistor/convert.h"
#include "thermistor/sensor_table.h"
#include "util/byte_order.h"
#include "util/format_fixed.h"

namespace zvk {
namespace {

using test::Rig;
namespace dd = wire::data;

struct ThermistorText {
  std::int32_t value;
  std::uint8_t fahrenheit;
  std::int8_t offset;
  const char* shown;
  std::optional<double> number;  // what the reading carries
  ReadingState state = ReadingState::Ok;
};

void PrintTo(const ThermistorText& c, std::ostream* os) {
  *os << c.value << (c.fahrenheit ? "F" : "C") << int{c.offset};
}

class ThermistorTextTest : public ::testing::TestWithParam<ThermistorText> {};

TEST_P(ThermistorTextTest, FormatsCelsiusFahrenheitAndCodes) {
  const ThermistorText& c = GetParam();
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  app.meas.ThermistorResult[3] = c.value;
  app.meas.Fahrenheit[3] = c.fahrenheit;
  app.meas.TempOffset[3] = c.offset;
  EXPECT_EQ(FormatThermistorValue(app, 3), c.shown);
  const Reading r = ThermistorReading(app, 3);
  EXPECT_EQ(r.channel, "TH3");
  EXPECT_EQ(r.text, c.shown);
  EXPECT_EQ(r.value, c.number);
  EXPECT_EQ(r.state, c.state);
  EXPECT_EQ(r.unit, c.fahrenheit ? ReadingUnit::Fahrenheit : ReadingUnit::Celsius);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ThermistorTextTest,
    ::testing::Values(
        ThermistorText{253, 0, 0, "25.3\u2103", 25.3}, ThermistorText{5, 0, 0, "0.5\u2103", 0.5},
        ThermistorText{0, 0, 0, "0.0\u2103", 0.0}, ThermistorText{-15, 0, 0, "-1.5\u2103", -1.5},
        ThermistorText{5, 0, -10, "-0.5\u2103", -0.5},
        ThermistorText{249, 0, 3, "25.2\u2103", 25.2},
        ThermistorText{-1234, 0, 0, "-123.4\u2103", -123.4},
        ThermistorText{249, 1, 3, "77.1\u2109", 77.1},
        ThermistorText{253, 1, 0, "77.5\u2109", 77.5},
        ThermistorText{1000, 1, 5, "212.5\u2109", 212.5},
        ThermistorText{RESULT_DISABLED, 1, 5, "Disable", std::nullopt, ReadingState::Disable},
        ThermistorText{RESULT_OVER, 0, 0, "Over Range", std::nullopt, ReadingState::OverRange},
        ThermistorText{RESULT_UNDER, 0, 0, "Under Range", std::nullopt, ReadingState::UnderRange}));

// The number a reading carries, written in the shortest way that reads back as it, is the
// number its text shows: no digit more (a longer binary fraction) and none other.
std::string Shortest(double value) {
  char text[64];
  return std::string(text,
                     std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr);
}
std::string WithoutTrailingZeros(std::string number) {
  if (number.find('.') == std::string::npos) return number;
  while (number.back() == '0') number.pop_back();
  if (number.back() == '.') number.pop_back();
  return number == "-0" ? "0" : number;
}

// Checks one reading against the window's rule for its unit: a number, rounded to the shown
// digits, is the shown text, and lies within half a shown unit of what was measured.
void ExpectShownNumber(const Reading& r, double measured, int precision, int digits) {
  SCOPED_TRACE(r.text);
  ASSERT_TRUE(r.value);
  EXPECT_EQ(r.state, ReadingState::Ok);
  EXPECT_EQ(FormatFixed(*r.value, precision, digits) + UnitSign(r.unit), r.text);
  const std::string number = r.text.substr(0, r.text.size() - std::string(UnitSign(r.unit)).size());
  if (number.find('E') == std::string::npos) {
    EXPECT_EQ(Shortest(*r.value), WithoutTrailingZeros(number));
    // Half a unit of the last digit shown: a decimal, or a higher place where the significant
    // digits run out first.
    const int leading =
        measured == 0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(measured))));
    const double unit = std::pow(10.0, std::max(-digits, leading - precision + 1));
    EXPECT_LE(std::fabs(*r.value - measured), 0.5 * unit * (1 + 1e-9));
  }
}

TEST(Readings, EveryThermistorNumberIsItsShownText) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  MeasurementState& m = app.meas;
  // Every sensor code a module can report (the table's rows, the user curves, the unlisted ones)
  // over counts from one end to the other, both units, offsets at their limits.
  std::vector<std::uint16_t> counts = {0, 1, 2, 65534, 65535};
  for (int raw = 3; raw < 65534; raw += 509) counts.push_back(static_cast<std::uint16_t>(raw));
  int numbers = 0;
  for (int code = 0; code <= 0xFF; ++code) {
    for (const std::uint16_t raw : counts) {
      const std::int32_t result =
          ConvertThermistor(raw, static_cast<std::uint8_t>(code), app.VoltsPerCount, app.sensors);
      for (const std::uint8_t fahrenheit : {0, 1}) {
        for (const std::int8_t offset : {std::int8_t{-128}, std::int8_t{0}, std::int8_t{127}}) {
          m.ThermistorResult[2] = result;
          m.Fahrenheit[2] = fahrenheit;
          m.TempOffset[2] = offset;
          const Reading r = ThermistorReading(app, 2);
          EXPECT_EQ(r.unit, fahrenheit ? ReadingUnit::Fahrenheit : ReadingUnit::Celsius);
          if (result == RESULT_DISABLED || result == RESULT_OVER || result == RESULT_UNDER) {
            EXPECT_FALSE(r.value);
            EXPECT_EQ(StateName(r), r.text);
            continue;
          }
          ++numbers;
          if (fahrenheit)
            ExpectShownNumber(r, result / 10.0 * 1.8 + 32 + offset * 0.1, 4, 1);
          else
            ExpectShownNumber(r, (result + offset) / 10.0, 15, 1);
        }
      }
    }
  }
  EXPECT_GT(numbers, 0);
}

TEST(Readings, EveryVoltageNumberIsItsShownText) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  MeasurementState& m = app.meas;
  const std::int16_t counts[] = {-32768, -32767, -20000, -1, 0, 1, 3948, 20000, 32766, 32767};
  // The default scale, one a module's reference file may hold, and scales that push the text
  // into exponent form or give no number at all.
  const double scales[] = {3.911556659e-05, 3.9e-05, 1e-09, 7.5, 0.5, NAN, INFINITY};
  for (const double scale : scales) {
    for (int ch = 0; ch < 5; ++ch) m.RangeTable[ch][3] = scale;
    DeriveRanges(m);
    for (int code = 0; code <= 4; ++code) {
      for (const std::int16_t count : counts) {
        m.RangeCode[1] = static_cast<std::uint8_t>(code);
        m.RawReading[1] = static_cast<std::uint16_t>(count);
        const Reading r = AnalogReading(app, 1);
        EXPECT_EQ(r.channel, "AI1");
        EXPECT_EQ(r.unit, ReadingUnit::Volt);
        if (code > 3) {
          EXPECT_EQ(r.text, "Range?");
          EXPECT_EQ(r.state, ReadingState::Unreadable);
          EXPECT_FALSE(r.value);
          continue;
        }
        const double measured = count * m.RangeTable[1][code];
        if (!std::isfinite(measured)) {
          EXPECT_EQ(r.state, ReadingState::Unreadable) << r.text;
          EXPECT_FALSE(r.value);
          EXPECT_EQ(r.text, FormatFixed(measured, 5, 4) + "V");
          continue;
        }
        ExpectShownNumber(r, measured, 5, 4);
      }
    }
  }
}

TEST(Readings, TheWindowShowsTheReadingsTexts) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  app.device.ModelCode = wire::kModelKm3;
  app.meas.RawReading[0] = 1234;
  app.meas.RangeCode[4] = 9;
  RefreshReadings(app, rig.form());
  for (int ch = 0; ch < 5; ++ch) {
    EXPECT_EQ(app.meas.AnalogReading[ch].text, rig.form().analog_value[ch].caption);
    EXPECT_EQ(app.meas.AnalogReading[ch].channel, rig.form().analog_caption[ch].caption);
  }
  EXPECT_EQ(app.meas.AnalogReading[4].text, "Range?");
  app.device.ModelCode = wire::kModelQn6;
  app.meas.ThermistorResult[6] = RESULT_OVER;
  RefreshReadings(app, rig.form());
  for (int ch = 0; ch < 8; ++ch) {
    EXPECT_EQ(app.meas.ThermistorReading[ch].text, rig.form().thermistor_value[ch].caption);
    EXPECT_EQ(app.meas.ThermistorReading[ch].channel, rig.form().thermistor_caption[ch].caption);
  }
  EXPECT_EQ(app.meas.ThermistorReading[6].state, ReadingState::OverRange);
}

TEST(RefreshReadings, LogsTheFirstTwoReadingsAsSignedAndHex) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  // Pairs of AD0 and AD1: hex sign-extended to 32 bits, upper case, at least four digits.
  const struct {
    std::int16_t ad0, ad1;
    std::vector<std::string> lines;
  } kCases[] = {
      {4660, -2, {"AD0 => 4660 : 1234", "AD1 => -2 : FFFFFFFE"}},
      {0, 10, {"AD0 => 0 : 0000", "AD1 => 10 : 000A"}},
      {32767, -32768, {"AD0 => 32767 : 7FFF", "AD1 => -32768 : FFFF8000"}},
  };
  for (const auto& c : kCases) {
    app.log_lines.clear();
    app.meas.RawReading[0] = static_cast<std::uint16_t>(c.ad0);
    app.meas.RawReading[1] = static_cast<std::uint16_t>(c.ad1);
    RefreshReadings(app, rig.form());
    EXPECT_EQ(app.log_lines, c.lines);
  }
}

// A measurement block of the voltage module: status ACK, default references.
std::vector<std::uint8_t> VoltageBlock() {
  std::vector<std::uint8_t> r(dd::kKm3BlockSize, 0);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), r.begin());
  r[4] = wire::CMD_READ_DATA;
  r[5] = wire::ACK;
  for (int ch = 0; ch < 5; ++ch)
    PutLeDouble(&r[dd::kKm3AnalogRef + wire::kActiveRefOffset + 8 * ch], 3.911556659e-05);
  return r;
}

void Deliver(App& app, std::uint8_t pending, const std::vector<std::uint8_t>& reply) {
  std::copy(reply.begin(), reply.end(), app.link.ReplyBuffer.begin());
  app.link.PendingCommand = pending;
  // Replies are decoded inside Transact, with the link busy.
  app.link.LinkBusy = true;
  DispatchReply(app.link, static_cast<std::uint32_t>(reply.size()));
  app.link.LinkBusy = false;
}

TEST(DecodeDataReply, VoltageBlockShowsVoltsPerRange) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  app.device.ModelCode = wire::kModelKm3;
  auto r = VoltageBlock();
  PutBe16(&r[dd::kRssi], 0x0001);
  PutBe16(&r[dd::kRawReadings + 0], 0x8000);  // -32768 at range 0
  PutBe16(&r[dd::kRawReadings + 2], 3948);    // at range 3
  PutBe16(&r[dd::kRawReadings + 4], static_cast<std::uint16_t>(-51));
  r[dd::kKm3RangeCodes + 1] = 3;
  r[dd::kKm3RangeCodes + 2] = 0;
  r[dd::kKm3RangeCodes + 3] = 7;  // no such range
  PutBe16(&r[dd::kKm3VrefCount], 0x7FF0);
  rig.form().range[3].SetItemIndex(1);
  Deliver(app, wire::CMD_READ_DATA, r);
  const MainForm& f = rig.form();
  EXPECT_EQ(f.analog_value[0].caption, "-10.2540V");
  EXPECT_EQ(f.analog_value[1].caption, "0.1544V");
  EXPECT_EQ(f.analog_value[2].caption, "-0.0160V");
  EXPECT_EQ(f.analog_value[3].caption, "Range?");
  EXPECT_EQ(f.range[3].text(), "1:-/+5V");  // kept: the reported code has no item
  EXPECT_EQ(f.range[1].text(), "3:-/+1.25V");
  EXPECT_EQ(f.rssi.caption, "RSSI: -65535dBm");
  EXPECT_EQ(app.meas.VrefCount, 0x7FF0);
  EXPECT_EQ(app.link.PendingCommand, 0);
}

TEST(DecodeDataReply, RefusedBlockChangesNothing) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  app.device.ModelCode = wire::kModelKm3;
  auto r = VoltageBlock();
  r[5] = wire::NAK;
  PutBe16(&r[dd::kRawReadings], 1000);
  PutBe16(&r[dd::kRssi], 0xFFC3);
  Deliver(app, wire::CMD_READ_DATA, r);
  EXPECT_EQ(app.meas.RawReading[0], 0);
  EXPECT_EQ(rig.form().rssi.caption, "RSSI:");
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_READ_DATA);
  EXPECT_TRUE(app.log_lines.empty());
}

TEST(DecodeDataReply, WithoutAModelStoresTheThermistorLayoutAndShowsNothing) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  std::vector<std::uint8_t> r(dd::kQn6BlockSize, 0);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), r.begin());
  r[5] = wire::ACK;
  r[dd::kQn6SensorTypes + 4] = 0x6A;
  r[dd::kQn6Offsets + 4] = 0x81;
  PutBe16(&r[dd::kQn6RefCount], 50000);
  Deliver(app, wire::CMD_READ_DATA, r);
  EXPECT_EQ(app.meas.SensorType[4], 0x6A);
  EXPECT_EQ(app.meas.TempOffset[4], -127);
  EXPECT_DOUBLE_EQ(app.VoltsPerCount, 2.5 / 50000);
  EXPECT_EQ(rig.form().thermistor_value[4].caption, "0");
  EXPECT_EQ(rig.form().sensor_type[4].text(), "00:Disable");
}

TEST(DecodeStatusOnlyReply, RedrawsOnlyForAnAcknowledgedPoll) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  rig.window->FormCreate();
  app.device.ModelCode = wire::kModelKm3;
  app.meas.RawReading[0] = 1000;
  std::vector<std::uint8_t> r = {0x5A, 0x35, 0x77, 0xA5, 0x21, wire::ACK, 9, 9};
  Deliver(app, 0, r);
  EXPECT_EQ(rig.form().analog_value[0].caption, "0");
  r[4] = wire::CMD_READ_DATA;
  Deliver(app, 0, r);
  EXPECT_EQ(rig.form().analog_value[0].caption, "0.3129V");
  EXPECT_EQ(app.link.PendingCommand, 0);
}

TEST(DataPoll, LiveReadingsFromTheSimulator) {
  Rig rig({.model = sim::Model::Km3});
  rig.Start();
  ASSERT_TRUE(rig.TickUntilIdentified());
  rig.sim->SetAnalogVolts(0, 1.2346);
  rig.app->discovery.SupervisionTicks = 30;
  rig.Timer3();
  EXPECT_EQ(rig.LastFrame(), (std::vector<std::uint8_t>{0x5A, 0x35, 0x77, 0xA5, 0xD8}));
  const std::string shown = rig.form().analog_value[0].caption;
  ASSERT_EQ(shown.back(), 'V');
  EXPECT_NEAR(std::stod(shown), 1.2346, 0.0005);
}

}  // namespace
}  // namespace zvk
