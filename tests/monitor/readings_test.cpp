// Measurement block decoding and the texts of the value labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "link/dispatcher.h"
#include "link/wire.h"
#include "monitor/measurement.h"
#include "support/rig.h"
#include "thermistor/sensor_table.h"
#include "util/byte_order.h"

namespace zvk {
namespace {

using test::Rig;
namespace dd = wire::data;

struct ThermistorText {
  std::int32_t value;
  std::uint8_t fahrenheit;
  std::int8_t offset;
  const char* shown;
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
}

INSTANTIATE_TEST_SUITE_P(Values, ThermistorTextTest,
                         ::testing::Values(ThermistorText{253, 0, 0, "25.3\u2103"},
                                           ThermistorText{5, 0, 0, "0.5\u2103"},
                                           ThermistorText{0, 0, 0, "0.0\u2103"},
                                           ThermistorText{-15, 0, 0, "-1.5\u2103"},
                                           ThermistorText{5, 0, -10, "-0.5\u2103"},
                                           ThermistorText{249, 0, 3, "25.2\u2103"},
                                           ThermistorText{-1234, 0, 0, "-123.4\u2103"},
                                           ThermistorText{249, 1, 3, "77.1\u2109"},
                                           ThermistorText{253, 1, 0, "77.5\u2109"},
                                           ThermistorText{1000, 1, 5, "212.5\u2109"},
                                           ThermistorText{RESULT_DISABLED, 1, 5, "Disable"},
                                           ThermistorText{RESULT_OVER, 0, 0, "Over Range"},
                                           ThermistorText{RESULT_UNDER, 0, 0, "Under Range"}));

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
  rig.form().RangeCombo[3].SetItemIndex(1);
  Deliver(app, wire::CMD_READ_DATA, r);
  const MainForm& f = rig.form();
  EXPECT_EQ(f.AnalogValue[0].caption, "-10.2540V");
  EXPECT_EQ(f.AnalogValue[1].caption, "0.1544V");
  EXPECT_EQ(f.AnalogValue[2].caption, "-0.0160V");
  EXPECT_EQ(f.AnalogValue[3].caption, "Range?");
  EXPECT_EQ(f.RangeCombo[3].text(), "1:-/+5V");  // kept: the reported code has no item
  EXPECT_EQ(f.RangeCombo[1].text(), "3:-/+1.25V");
  EXPECT_EQ(f.Label12.caption, "RSSI: -65535dBm");
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
  EXPECT_EQ(rig.form().Label12.caption, "RSSI:");
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
  EXPECT_EQ(rig.form().ThermistorValue[4].caption, "0");
  EXPECT_EQ(rig.form().SensorCombo[4].text(), "00:Disable");
}

TEST(DecodeStatusOnlyReply, RedrawsOnlyForAnAcknowledgedPoll) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  rig.window->FormCreate();
  app.device.ModelCode = wire::kModelKm3;
  app.meas.RawReading[0] = 1000;
  std::vector<std::uint8_t> r = {0x5A, 0x35, 0x77, 0xA5, 0x21, wire::ACK, 9, 9};
  Deliver(app, 0, r);
  EXPECT_EQ(rig.form().AnalogValue[0].caption, "0");
  r[4] = wire::CMD_READ_DATA;
  Deliver(app, 0, r);
  EXPECT_EQ(rig.form().AnalogValue[0].caption, "0.3129V");
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
  const std::string shown = rig.form().AnalogValue[0].caption;
  ASSERT_EQ(shown.back(), 'V');
  EXPECT_NEAR(std::stod(shown), 1.2346, 0.0005);
}

}  // namespace
}  // namespace zvk
