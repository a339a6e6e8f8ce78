// The identity records and data replies of both models, built byte by byte at the offsets the
// module's documentation gives (written out here, never taken from the wire constants that the
// decoders and the simulator share), so that a field moved in those constants cannot pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& r, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), r.begin() + static_cast<long>(at));
}
void PutText(Bytes& r, std::size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), r.begin() + static_cast<long>(at));
}

Bytes Header(std::size_t size, std::uint8_t code) {
  Bytes r(size, 0);
  Put(r, 0, {0x5A, 0x35, 0x77, 0xA5, code, 0x06});
  return r;
}

// Distinct values everywhere, so that a field read one or two bytes off reads something else.
constexpr std::array<std::uint16_t, 8> kReadings{0x1020, 0x1121, 0x1222, 0x1323,
                                                 0x1424, 0x1525, 0x1626, 0x1727};
constexpr std::array<std::uint8_t, 8> kSensorTypes{0x60, 0x61, 0x62, 0x6A, 0x70, 0x77, 0x00, 0x6C};
constexpr std::array<std::uint8_t, 8> kFahrenheit{0, 1, 0, 1, 0, 0, 1, 0};
constexpr std::array<std::int8_t, 8> kOffsets{0, -5, 5, -127, 127, 0, -1, 1};
constexpr std::array<std::uint8_t, 5> kRanges{3, 2, 1, 0, 3};

double ActiveRef(int ch) {
  return (ch + 1) * 1e-5;
}
double DefaultRef(int ch) {
  return (ch + 1) * 2e-5;
}

// The user curve record at `at`: curve n has the points 100+n, 25+n and -(n+1) degrees at
// 680.0+n/10, 10000.0+10n and 32650.0+100n ohms, little-endian.
void PutUserCurves(Bytes& r, std::size_t at) {
  for (int n = 0; n < 8; ++n) {
    PutLe16(&r[at + 2 * n], static_cast<std::uint16_t>(100 + n));
    PutLe16(&r[at + 16 + 2 * n], static_cast<std::uint16_t>(25 + n));
    PutLe16(&r[at + 32 + 2 * n], static_cast<std::uint16_t>(-(n + 1)));
    PutLe32(&r[at + 48 + 4 * n], static_cast<std::uint32_t>(6800 + n));
    PutLe32(&r[at + 80 + 4 * n], static_cast<std::uint32_t>(100000 + 100 * n));
    PutLe32(&r[at + 112 + 4 * n], static_cast<std::uint32_t>(326500 + 1000 * n));
  }
}

void ExpectUserCurves(const UserCurvePoints& c) {
  for (int n = 0; n < 8; ++n) {
    SCOPED_TRACE("user curve " + std::to_string(n));
    EXPECT_EQ(c.TempHi[n], 100 + n);
    EXPECT_EQ(c.TempMid[n], 25 + n);
    EXPECT_EQ(c.TempLow[n], -(n + 1));
    EXPECT_EQ(c.ResHi[n], 6800 + n);
    EXPECT_EQ(c.ResMid[n], 100000 + 100 * n);
    EXPECT_EQ(c.ResLow[n], 326500 + 1000 * n);
    EXPECT_DOUBLE_EQ(c.OhmsMid[n], (100000 + 100 * n) / 10.0);
  }
}

// The reference block at `at`: DefaultRef, 40 bytes passed through, ActiveRef, 40 more.
void PutAnalogRefBlock(Bytes& r, std::size_t at) {
  for (int ch = 0; ch < 5; ++ch) {
    PutLeDouble(&r[at + 8 * ch], DefaultRef(ch));
    PutLeDouble(&r[at + 80 + 8 * ch], ActiveRef(ch));
  }
  for (std::size_t i = 0; i < 40; ++i) {
    r[at + 40 + i] = static_cast<std::uint8_t>(0xA0 + i);
    r[at + 120 + i] = static_cast<std::uint8_t>(0x30 + i);
  }
}

void ExpectAnalogRefBlock(const App& app, const Bytes& r, std::size_t at) {
  EXPECT_TRUE(std::equal(app.meas.AnalogRefBlock.begin(), app.meas.AnalogRefBlock.end(),
                         r.begin() + static_cast<long>(at)));
  for (int ch = 0; ch < 5; ++ch) {
    EXPECT_DOUBLE_EQ(GetLeDouble(&app.meas.AnalogRefBlock[8 * ch]), DefaultRef(ch));
    EXPECT_DOUBLE_EQ(app.meas.RangeTable[ch][3], ActiveRef(ch)) << "AI" << ch;
    EXPECT_DOUBLE_EQ(app.meas.RangeTable[ch][0], 8 * ActiveRef(ch)) << "AI" << ch;
  }
}

// Where the thermistor module's fields lie: the tail of its identity record and its data reply
// carry the same fields at other offsets.
struct ThermistorAt {
  std::size_t readings, ref_count, sensor_types, fahrenheit, offsets, vref_count, user_curves;
};

void PutThermistorFields(Bytes& r, const ThermistorAt& at) {
  for (int ch = 0; ch < 8; ++ch) PutBe16(&r[at.readings + 2 * ch], kReadings[ch]);
  Put(r, at.ref_count, {0xC3, 0x50});
  std::copy(kSensorTypes.begin(), kSensorTypes.end(),
            r.begin() + static_cast<long>(at.sensor_types));
  std::copy(kFahrenheit.begin(), kFahrenheit.end(), r.begin() + static_cast<long>(at.fahrenheit));
  for (int ch = 0; ch < 8; ++ch) r[at.offsets + ch] = static_cast<std::uint8_t>(kOffsets[ch]);
  Put(r, at.vref_count, {0x12, 0x34});
  PutUserCurves(r, at.user_curves);
}

void ExpectThermistorFields(const App& app) {
  const MeasurementState& m = app.meas;
  for (int ch = 0; ch < 8; ++ch) {
    SCOPED_TRACE("TH" + std::to_string(ch));
    EXPECT_EQ(m.RawReading[ch], kReadings[ch]);
    EXPECT_EQ(m.SensorType[ch], kSensorTypes[ch]);
    EXPECT_EQ(m.Fahrenheit[ch], kFahrenheit[ch]);
    EXPECT_EQ(m.TempOffset[ch], kOffsets[ch]);
  }
  EXPECT_EQ(m.ThermistorRefCount, 50000);
  EXPECT_DOUBLE_EQ(app.VoltsPerCount, 2.5 / 50000);
  EXPECT_EQ(m.VrefCount, 0x1234);
  ExpectUserCurves(app.curves);
}

// Where the voltage module's fields lie, in its identity record and in its data reply.
struct VoltageAt {
  std::size_t readings, sampling_mode, range_codes, vref_count, ref_block;
};

void PutVoltageFields(Bytes& r, const VoltageAt& at) {
  Put(r, at.readings, {0x0F, 0x6C, 0xFF, 0xCD, 0x80, 0x00, 0x7F, 0xFF, 0x00, 0x01});
  r[at.sampling_mode] = 1;
  std::copy(kRanges.begin(), kRanges.end(), r.begin() + static_cast<long>(at.range_codes));
  Put(r, at.vref_count, {0x1F, 0x44});
  PutAnalogRefBlock(r, at.ref_block);
}

void ExpectVoltageFields(const App& app, const MainForm& f, const Bytes& r, std::size_t ref_block) {
  const MeasurementState& m = app.meas;
  const std::array<std::int16_t, 8> readings{3948, -51, -32768, 32767, 1, 0, 0, 0};
  for (int ch = 0; ch < 8; ++ch)
    EXPECT_EQ(static_cast<std::int16_t>(m.RawReading[ch]), readings[ch]) << "channel " << ch;
  for (int ch = 0; ch < 5; ++ch) EXPECT_EQ(m.RangeCode[ch], kRanges[ch]) << "AI" << ch;
  EXPECT_EQ(m.SamplingMode, 1);
  EXPECT_TRUE(f.sampling_fast.checked());
  EXPECT_EQ(f.range[1].text(), "2:-/+2.5V");
  EXPECT_EQ(m.VrefCount, 8004);
  ExpectAnalogRefBlock(app, r, ref_block);
  EXPECT_EQ(f.analog_value[0].caption, "0.0395V");  // 3948 counts at 1e-5 V per count
}

Bytes IdentityRecord(std::uint8_t model) {
  Bytes r = Header(model == 0xB6 ? 390 : 389, 0x21);
  r[6] = model;
  Put(r, 7, {1, 0, 0, 127});  // 127.0.0.1, last octet first
  Put(r, 11, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F});
  Put(r, 24, {0x02, 0x34});
  PutText(r, 40, "Shelf 7");
  PutText(r, 80, "ap-net");
  r[112] = 2;
  PutText(r, 113, "apkey123");
  PutText(r, 128, "station-net");
  r[160] = 3;
  PutText(r, 161, "stakey456");
  r[176] = 0;
  Put(r, 179, {0x13, 0x88});
  r[181] = 9;
  Put(r, 182, {10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1});
  Put(r, 194, {0xFF, 0xB5});
  Put(r, 196, {0x01, 0x2C});
  return r;
}

void Deliver(App& app, std::uint8_t pending, const Bytes& reply) {
  std::copy(reply.begin(), reply.end(), app.link.ReplyBuffer.begin());
  app.link.PendingCommand = pending;
  app.link.LinkBusy = true;  // replies are decoded inside Transact
  DispatchReply(app.link, static_cast<std::uint32_t>(reply.size()));
  app.link.LinkBusy = false;
}

struct WireLayout : ::testing::Test {
  WireLayout() : rig({.model = std::nullopt}), app(*rig.app), f(rig.form()) {
    rig.window->FormCreate();
  }
  Rig rig;
  App& app;
  MainForm& f;
};

void ExpectCommonIdentity(const App& app, const MainForm& f) {
  EXPECT_EQ(f.link_bar.panels[0], "Dev MAC: 0A:1B:2C:3D:4E:5F");
  EXPECT_EQ(f.location_text.caption, "Locate: Shelf 7");
  EXPECT_EQ(f.status_bar.panels[1], "FW: V02.34");
  EXPECT_EQ(f.rssi.caption, "RSSI: -75dBm");
  const DeviceConfig& d = app.device;
  EXPECT_EQ(d.DeviceLocation, "Shelf 7");
  EXPECT_EQ(d.DevApSsid, "ap-net");
  EXPECT_EQ(d.DevApKeyType, 2);
  EXPECT_EQ(d.DevApKey, "apkey123");
  EXPECT_EQ(d.DevStaSsid, "station-net");
  EXPECT_EQ(d.DevStaKeyType, 3);
  EXPECT_EQ(d.DevStaKey, "stakey456");
  EXPECT_EQ(d.DevWifiMode, 0);
  EXPECT_EQ(d.DevModbusPort, 5000u);
  EXPECT_TRUE(d.DevStaticIpEnabled);
  EXPECT_EQ(d.DevStaticIp, (std::array<std::uint8_t, 4>{10, 1, 2, 3}));
  EXPECT_EQ(d.DevSubnetMask, (std::array<std::uint8_t, 4>{255, 255, 0, 0}));
  EXPECT_EQ(d.DevGateway, (std::array<std::uint8_t, 4>{10, 1, 0, 1}));
  EXPECT_EQ(d.DevIdleTimeout, 300u);
  EXPECT_TRUE(d.Identified);
}

TEST_F(WireLayout, ThermistorIdentityRecord) {
  Bytes r = IdentityRecord(0xB7);
  PutThermistorFields(r, {.readings = 200,
                          .ref_count = 216,
                          .sensor_types = 218,
                          .fahrenheit = 226,
                          .offsets = 234,
                          .vref_count = 242,
                          .user_curves = 245});
  Deliver(app, 0x21, r);
  EXPECT_EQ(f.module_state.caption, "zVK-QN6 Thermistor Input Module");
  ExpectCommonIdentity(app, f);
  ExpectThermistorFields(app);
  EXPECT_TRUE(Logged(app, "QN6_Ref_Val=>0xC350"));
}

TEST_F(WireLayout, VoltageIdentityRecord) {
  Bytes r = IdentityRecord(0xB6);
  PutVoltageFields(r, {.readings = 200,
                       .sampling_mode = 216,
                       .range_codes = 217,
                       .vref_count = 225,
                       .ref_block = 230});
  Deliver(app, 0x21, r);
  EXPECT_EQ(f.module_state.caption, "zVK-KM3 Analog Input Module");
  ExpectCommonIdentity(app, f);
  ExpectVoltageFields(app, f, r, 230);
}

Bytes ThermistorDataReply() {
  Bytes r = Header(198, 0xD8);
  Put(r, 6, {0xAA, 0x55});  // the digital states: not used
  Put(r, 8, {0xFF, 0xC3});
  PutThermistorFields(r, {.readings = 10,
                          .ref_count = 26,
                          .sensor_types = 28,
                          .fahrenheit = 36,
                          .offsets = 44,
                          .vref_count = 52,
                          .user_curves = 54});
  return r;
}

TEST_F(WireLayout, ThermistorDataReply) {
  app.device.ModelCode = 0xB7;
  const SensorTable table_before = app.sensors;
  Deliver(app, 0xD8, ThermistorDataReply());
  ExpectThermistorFields(app);
  for (int ch = 0; ch < 8; ++ch)
    EXPECT_EQ(f.fahrenheit[ch].checked(), kFahrenheit[ch] != 0) << "TH" << ch;
  EXPECT_EQ(f.rssi.caption, "RSSI: -61dBm");
  // The points are refreshed, not refitted: only the identity reply and the thermistor window
  // fit the curves.
  for (std::size_t row = 13; row < 21; ++row) {
    EXPECT_EQ(app.sensors[row].A, table_before[row].A) << row;
    EXPECT_EQ(app.sensors[row].C, table_before[row].C) << row;
  }
  EXPECT_EQ(app.link.PendingCommand, 0);
}

TEST_F(WireLayout, ThermistorDataReplyWithoutReferenceOrSignalStrength) {
  app.device.ModelCode = 0xB7;
  f.rssi.caption = "RSSI: -50dBm";
  Bytes r = ThermistorDataReply();
  Put(r, 8, {0x00, 0x00});   // signal strength not reported
  Put(r, 26, {0x00, 0x00});  // no reference count: the default one
  Deliver(app, 0xD8, r);
  EXPECT_EQ(app.meas.ThermistorRefCount, 49599);
  EXPECT_DOUBLE_EQ(app.VoltsPerCount, 2.5 / 49599);
  EXPECT_EQ(f.rssi.caption, "RSSI: -50dBm");
}

TEST_F(WireLayout, VoltageDataReply) {
  app.device.ModelCode = 0xB6;
  Bytes r = Header(204, 0xD8);
  Put(r, 6, {0xAA, 0x55});
  Put(r, 8, {0xFF, 0xB0});
  Put(r, 20, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});  // the thermistor channels 5 to 7: not read
  Put(r, 32, {0xEE, 0xEE, 0xEE});
  Put(r, 37, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
  PutVoltageFields(
      r,
      {.readings = 10, .sampling_mode = 26, .range_codes = 27, .vref_count = 35, .ref_block = 44});
  Deliver(app, 0xD8, r);
  ExpectVoltageFields(app, f, r, 44);
  EXPECT_EQ(f.rssi.caption, "RSSI: -80dBm");
  EXPECT_EQ(app.link.PendingCommand, 0);
}

}  // namespace
}  // namespace zvk
