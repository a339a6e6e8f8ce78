// Decoding the module's self-description into labels, status panels and the stored
// configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/dispatcher.h"
#include "link/wire.h"
#include "support/rig.h"
#include "util/byte_order.h"

namespace zvk {
namespace {

using test::Logged;
using test::Rig;
namespace d = wire::devinfo;

// An identity record as a thermistor or voltage module sends it, addressed as 192.168.77.1.
std::vector<std::uint8_t> Record(std::uint8_t model) {
  std::vector<std::uint8_t> r(model == wire::kModelKm3 ? 390 : 389, 0);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), r.begin());
  r[4] = wire::CMD_GET_DEVICE;
  r[5] = wire::ACK;
  r[d::kModel] = model;
  const std::uint8_t addr[4] = {0x01, 0x4D, 0xA8, 0xC0};
  std::copy(addr, addr + 4, r.begin() + d::kAddress);
  const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xEF};
  std::copy(mac, mac + 6, r.begin() + d::kMac);
  r[d::kFwMajor] = 0x01;
  r[d::kFwMinor] = 0x12;
  const std::string location = "Boiler room";
  std::copy(location.begin(), location.end(), r.begin() + d::kLocation);
  const std::string ssid = "zVK-AP";
  std::copy(ssid.begin(), ssid.end(), r.begin() + d::kApSsid);
  r[d::kWifiMode] = 1;
  PutBe16(&r[d::kModbusPort], 1502);
  r[d::kStaticIpEnabled] = 7;
  const std::uint8_t ip[12] = {192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1};
  std::copy(ip, ip + 12, r.begin() + d::kStaticIp);
  PutBe16(&r[d::kRssi], 0xFFC3);
  PutBe16(&r[d::kIdleTimeout], 300);
  return r;
}

void Deliver(App& app, const std::vector<std::uint8_t>& reply) {
  std::copy(reply.begin(), reply.end(), app.link.ReplyBuffer.begin());
  app.link.PendingCommand = wire::CMD_GET_DEVICE;
  // Replies are decoded inside Transact, with the link busy.
  app.link.LinkBusy = true;
  DispatchReply(app.link, static_cast<std::uint32_t>(reply.size()));
  app.link.LinkBusy = false;
}

struct Decoded : ::testing::Test {
  Decoded() : rig({.model = std::nullopt}), app(*rig.app) { app.link.DeviceHost = "192.168.77.1"; }
  Rig rig;
  App& app;
};

TEST_F(Decoded, ThermistorRecordFillsLabelsPanelsAndConfiguration) {
  auto r = Record(wire::kModelQn6);
  r[d::kQn6SensorTypes] = 0x60;
  r[d::kQn6Fahrenheit + 1] = 1;
  r[d::kQn6Offsets + 2] = 0xFB;  // -5
  PutBe16(&r[d::kRawReadings], 1984);
  PutBe16(&r[d::kQn6RefCount], 0);
  Deliver(app, r);

  const MainForm& f = rig.form();
  EXPECT_EQ(f.module_state.caption, "zVK-QN6 Thermistor Input Module");
  EXPECT_EQ(f.module_state.color, kNavy);
  EXPECT_EQ(f.link_bar.panels[0], "Dev MAC: 00:1A:2B:3C:4D:EF");
  EXPECT_EQ(f.location_text.caption, "Locate: Boiler room");
  EXPECT_EQ(f.location_text.color, (Rgb{64, 132, 118}));
  EXPECT_EQ(f.status_bar.panels[1], "FW: V01.12");
  EXPECT_EQ(f.status_bar.panels[0], "Get Device");
  EXPECT_EQ(f.rssi.caption, "RSSI: -61dBm");
  EXPECT_TRUE(f.thermistor_group.visible);

  const DeviceConfig& dev = app.device;
  EXPECT_TRUE(dev.Identified);
  EXPECT_TRUE(dev.DeviceInfoLoaded);
  EXPECT_TRUE(dev.ModelKnown);
  EXPECT_EQ(dev.DevApSsid, "zVK-AP");
  EXPECT_EQ(dev.DevWifiMode, 1);
  EXPECT_EQ(dev.DevModbusPort, 1502u);
  EXPECT_TRUE(dev.DevStaticIpEnabled);
  EXPECT_EQ(dev.DevStaticIp, (std::array<std::uint8_t, 4>{192, 168, 1, 50}));
  EXPECT_EQ(dev.DevSubnetMask, (std::array<std::uint8_t, 4>{255, 255, 255, 0}));
  EXPECT_EQ(dev.DevGateway, (std::array<std::uint8_t, 4>{192, 168, 1, 1}));
  EXPECT_EQ(dev.DevIdleTimeout, 300u);

  EXPECT_EQ(app.meas.ThermistorRefCount, 49599);
  EXPECT_DOUBLE_EQ(app.VoltsPerCount, 2.5 / 49599);
  EXPECT_TRUE(Logged(app, "QN6_Ref_Val=>0xC1BF"));
  EXPECT_EQ(app.meas.TempOffset[2], -5);
  EXPECT_EQ(f.offset[2].value(), -5);
  EXPECT_TRUE(f.fahrenheit[1].checked());
  EXPECT_EQ(f.sensor_type[0].item_index(), 1);
  EXPECT_EQ(f.thermistor_value[0].caption, "24.9\u2103");  // 1984 counts: just over 10 kOhm
  EXPECT_EQ(f.thermistor_value[7].caption, "Disable");
  EXPECT_EQ(app.link.PendingCommand, 0);
}

TEST_F(Decoded, VoltageRecordStoresSettingsAndShowsVolts) {
  auto r = Record(wire::kModelKm3);
  PutBe16(&r[d::kRawReadings], 0x8000);
  r[d::kKm3SamplingMode] = 1;
  r[d::kKm3RangeCodes + 1] = 2;
  PutBe16(&r[d::kKm3VrefCount], 0x1234);
  for (int ch = 0; ch < 5; ++ch)
    PutLeDouble(&r[d::kKm3AnalogRef + wire::kActiveRefOffset + 8 * ch], 3.911556659e-05);
  Deliver(app, r);
  const MainForm& f = rig.form();
  EXPECT_EQ(f.module_state.caption, "zVK-KM3 Analog Input Module");
  EXPECT_TRUE(f.analog_group.visible);
  EXPECT_FALSE(f.thermistor_group.visible);
  EXPECT_EQ(f.analog_value[0].caption, "-10.2540V");
  EXPECT_TRUE(f.sampling_fast.checked());
  EXPECT_EQ(f.range[1].text(), "2:-/+2.5V");
  EXPECT_EQ(app.meas.VrefCount, 0x1234);
  EXPECT_TRUE(Logged(app, "range_div[0] : 0.00003911556659"));
  EXPECT_TRUE(Logged(app, "AD0 => -32768 : FFFF8000"));
}

TEST_F(Decoded, MismatchedAddressStopsAfterTheModel) {
  auto r = Record(wire::kModelQn6);
  const std::uint8_t reversed[4] = {0xC0, 0xA8, 0x4D, 0x01};  // 1.77.168.192
  std::copy(reversed, reversed + 4, r.begin() + d::kAddress);
  Deliver(app, r);
  EXPECT_EQ(rig.form().module_state.caption, "zVK-QN6 Thermistor Input Module");
  EXPECT_TRUE(rig.form().thermistor_group.visible);
  EXPECT_EQ(rig.form().link_bar.panels[0], "Get Device Linked!!");
  EXPECT_EQ(rig.form().location_text.caption, "");
  EXPECT_FALSE(app.device.Identified);
  EXPECT_EQ(app.device.DevApSsid, "");

  app.link.DeviceHost = "192.168.077.1";  // typed with a leading zero: never matches
  Deliver(app, Record(wire::kModelQn6));
  EXPECT_FALSE(app.device.Identified);
}

TEST_F(Decoded, UnknownModelIsNotIdentified) {
  auto r = Record(0x00);
  Deliver(app, r);
  EXPECT_EQ(rig.form().module_state.caption, "Unknow Device??");
  EXPECT_EQ(rig.form().module_state.color, kNavy);
  EXPECT_EQ(rig.form().link_bar.panels[0], "Get Device Linked!!");
  EXPECT_EQ(app.device.ModelCode, 0);
  EXPECT_FALSE(app.device.ModelKnown);
  EXPECT_FALSE(app.device.Identified);
}

TEST_F(Decoded, TextsKeysAndSignalStrengthEdgeCases) {
  app.device.DevApKey = "kept-key";
  rig.form().rssi.caption = "RSSI: -50dBm";
  auto r = Record(wire::kModelQn6);
  std::fill_n(r.begin() + d::kLocation, d::kLocationWidth + 1, 'L');  // no zero in the field
  r[d::kApKeyType] = 0;
  std::fill_n(r.begin() + d::kApKey, 14, 'X');
  r[d::kStaKeyType] = 3;
  std::fill_n(r.begin() + d::kStaKey, 14, 'K');  // a 14-character key runs into byte 175
  r[175] = 'Z';
  PutBe16(&r[d::kRssi], 0);
  Deliver(app, r);
  EXPECT_EQ(app.device.DeviceLocation, std::string(31, 'L'));
  EXPECT_EQ(app.device.DevApKey, "kept-key");
  EXPECT_EQ(app.device.DevStaKey, std::string(14, 'K'));
  EXPECT_EQ(rig.form().rssi.caption, "RSSI: -50dBm");

  r[d::kLocation] = 0;
  PutBe16(&r[d::kRssi], 0x8000);
  Deliver(app, r);
  EXPECT_EQ(rig.form().location_text.caption, "Locate: ");
  EXPECT_EQ(rig.form().rssi.caption, "RSSI: -32768dBm");
}

TEST_F(Decoded, LocationShowsItsEightBitCharactersAndIsKeptAsSent) {
  auto r = Record(wire::kModelQn6);
  const std::string sent =
      "K\xFChlraum \x93"
      "A\x94 \x80";  // Windows-1252
  std::fill_n(r.begin() + 40, 31, 0);
  std::copy(sent.begin(), sent.end(), r.begin() + 40);
  Deliver(app, r);
  EXPECT_EQ(rig.form().location_text.caption, "Locate: K\u00FChlraum \u201CA\u201D \u20AC");
  EXPECT_EQ(app.device.DeviceLocation, sent);
}

TEST_F(Decoded, RefusedIdentityIsQueuedAgainAndChangesNothing) {
  auto r = Record(wire::kModelQn6);
  r[5] = wire::NAK;
  Deliver(app, r);
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_GET_DEVICE);
  EXPECT_EQ(rig.form().module_state.caption, "");
  EXPECT_FALSE(app.device.Identified);
}

TEST_F(Decoded, UserCurvesAreFittedAndUnusableCurvesReported) {
  auto r = Record(wire::kModelQn6);
  std::uint8_t* curves = &r[d::kQn6UserCurves];
  PutLe16(curves + 0, 100);       // TempHi[0]
  PutLe16(curves + 16, 25);       // TempMid[0]
  PutLe16(curves + 32, 0);        // TempLow[0]
  PutLe32(curves + 48, 6800);     // ResHi[0], tenths of an ohm
  PutLe32(curves + 80, 100000);   // ResMid[0]
  PutLe32(curves + 112, 326500);  // ResLow[0]
  Deliver(app, r);
  EXPECT_NEAR(app.sensors[13].A, 1.125294e-03, 1e-9);
  EXPECT_DOUBLE_EQ(app.curves.OhmsMid[0], 10000.0);
  EXPECT_TRUE(Logged(app, "User curve 1 not fitted, coefficients kept"));
  EXPECT_FALSE(Logged(app, "User curve 0 not fitted, coefficients kept"));
}

}  // namespace
}  // namespace zvk
