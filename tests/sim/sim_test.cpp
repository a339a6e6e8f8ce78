// The simulator as a client sees it: plain sockets on 127.0.0.1, one connection per command.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/module.h"
#include "sim/net.h"
#include "sim/simulator.h"
#include "support/child_process.h"
#include "util/byte_order.h"

namespace zvk::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace d = wire::devinfo;

// Sized once and filled: GCC 12 at -O3 takes an insert after the signature for an overrun
// (-Warray-bounds, a false positive of that release).
Bytes Frame(std::initializer_list<std::uint8_t> code_and_params) {
  Bytes frame(wire::kFrameSignature.size() + code_and_params.size());
  std::copy(code_and_params.begin(), code_and_params.end(),
            std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin()));
  return frame;
}

struct Received {
  Bytes bytes;
  std::vector<std::size_t> chunks;  // size of each read, in order
  bool closed = false;              // orderly close
  bool reset = false;               // connection reset
  Clock::duration first_byte_after{};
};

// A client connection to the simulator; loopback only.
class Client {
 public:
  explicit Client(std::uint16_t port) : socket_(net::ConnectLoopback(port)) {
    if (!socket_.valid()) throw std::runtime_error("connect to the simulator failed");
  }

  void Send(const Bytes& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const long n = net::Send(socket_, bytes.data() + sent, bytes.size() - sent);
      ASSERT_GT(n, 0) << "send failed";
      sent += static_cast<std::size_t>(n);
    }
    sent_at_ = Clock::now();
  }
  bool Readable() {
    std::vector<net::PollItem> now{{socket_.get(), true}};
    return net::Poll(now, 0) && now[0].readable;
  }
  // Sends what the socket takes, whether or not the simulator still listens.
  void SendQuietly(const Bytes& bytes) { net::Send(socket_, bytes.data(), bytes.size()); }

  // Reads until the simulator closes the connection or `window` has passed.
  Received Read(std::chrono::milliseconds window = 2000ms) {
    Received r;
    const auto deadline = Clock::now() + window;
    while (true) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return r;
      std::vector<net::PollItem> wait{{socket_.get(), true}};
      if (!net::Poll(wait, static_cast<int>(left.count())) || !wait[0].readable) return r;
      std::uint8_t buf[8192];
      const long n = net::Receive(socket_, buf, sizeof buf);
      if (n == net::kWouldBlock) continue;
      if (n == 0) {
        r.closed = true;
        return r;
      }
      if (n < 0) {
        r.reset = n == net::kReset;
        return r;
      }
      if (r.bytes.empty()) r.first_byte_after = Clock::now() - sent_at_;
      r.chunks.push_back(static_cast<std::size_t>(n));
      r.bytes.insert(r.bytes.end(), buf, buf + n);
    }
  }

 private:
  net::Socket socket_;
  Clock::time_point sent_at_ = Clock::now();
};

Received Exchange(std::uint16_t port, const Bytes& frame) {
  Client client(port);
  client.Send(frame);
  return client.Read();
}

class Running {
 public:
  explicit Running(Model model) : sim({.model = model}) { port = sim.Start(); }
  Received Ask(const Bytes& frame) { return Exchange(port, frame); }
  Simulator sim;
  std::uint16_t port = 0;
};

using Eight = std::array<std::uint8_t, 8>;

// Sensor types, Fahrenheit flags and offsets, as the 29-byte thermistor config frame carries them.
Bytes ThConfigFrame(const Eight& types, const Eight& fahrenheit, const Eight& offsets) {
  Bytes frame = Frame({wire::CMD_SET_TH_CONFIG});
  for (const Eight* part : {&types, &fahrenheit, &offsets}) {
    frame.insert(frame.end(), part->begin(), part->end());
  }
  return frame;
}

const Bytes kGetDevice = Frame({wire::CMD_GET_DEVICE, 0, 0});
const Bytes kReadData = Frame({wire::CMD_READ_DATA});
const Bytes kLocator = Frame({wire::CMD_SET_LOCATOR, 0, 0});

std::string Text(const Bytes& b, std::size_t offset, std::size_t width) {
  std::string s(b.begin() + offset, b.begin() + offset + width);
  return s.substr(0, s.find('\0'));
}

double ActiveRef(const Bytes& block, std::size_t ref_block_offset, int ch) {
  return GetLeDouble(&block[ref_block_offset + wire::kActiveRefOffset + 8 * ch]);
}

// ---- identity record ----

TEST(SimIdentity, CommonFieldsForBothModels) {
  for (Model model : {Model::Km3, Model::Qn6}) {
    SCOPED_TRACE(model == Model::Km3 ? "km3" : "qn6");
    Running m(model);
    m.sim.SetReportedAddress({192, 168, 77, 1});
    m.sim.SetLocation("Cold room");
    m.sim.SetRssi(0xFFB0);
    const Received r = m.Ask(kGetDevice);
    ASSERT_TRUE(r.closed);
    const Bytes& b = r.bytes;
    ASSERT_EQ(b.size(), model == Model::Km3 ? 390u : 389u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Frame({0x21, wire::ACK})));
    EXPECT_EQ(b[d::kModel], model == Model::Km3 ? 0xB6 : 0xB7);
    EXPECT_EQ(Bytes(b.begin() + 7, b.begin() + 11), (Bytes{1, 77, 168, 192}));  // last octet first
    EXPECT_EQ(b[d::kMac], 0x02);  // locally administered
    EXPECT_EQ(b[d::kFwMajor], 0x01);
    EXPECT_EQ(b[d::kFwMinor], 0x12);
    EXPECT_EQ(Text(b, d::kLocation, d::kLocationWidth), "Cold room");
    EXPECT_EQ(Text(b, d::kApSsid, d::kSsidWidth), "zVK-Analog-0001");
    EXPECT_EQ(b[d::kApKeyType], 0);
    EXPECT_EQ(Text(b, d::kStaSsid, d::kSsidWidth), "");
    EXPECT_EQ(b[d::kWifiMode], 1);
    EXPECT_EQ(GetBe16(&b[d::kModbusPort]), 502);
    EXPECT_EQ(b[d::kStaticIpEnabled], 0);
    EXPECT_EQ(GetBe16(&b[d::kRssi]), 0xFFB0);
    EXPECT_EQ(GetBe16(&b[d::kIdleTimeout]), 120);
  }
}

TEST(SimIdentity, DefaultsAndSettersReachTheRecord) {
  Running m(Model::Qn6);
  Bytes b = m.Ask(kGetDevice).bytes;
  EXPECT_EQ(Bytes(b.begin() + 7, b.begin() + 11), (Bytes{1, 0, 0, 127}));
  EXPECT_EQ(Text(b, d::kLocation, d::kLocationWidth), "Lab bench 1");
  EXPECT_EQ(GetBe16(&b[d::kRssi]), 0xFFC3);

  // A location that fills its field has no terminating zero and never spills into the next one.
  m.sim.SetLocation(std::string(40, 'x'));
  m.sim.SetModelCode(0x00);
  b = m.Ask(kGetDevice).bytes;
  EXPECT_EQ(std::string(b.begin() + 40, b.begin() + 71), std::string(31, 'x'));
  EXPECT_EQ(b[71], 0);
  EXPECT_EQ(b[d::kModel], 0x00);
  EXPECT_EQ(b.size(), 389u);  // the layout stays the thermistor module's
}

TEST(SimIdentity, VoltageModuleTail) {
  Running m(Model::Km3);
  m.sim.SetRangeCode(1, 3);
  const Bytes b = m.Ask(kGetDevice).bytes;
  ASSERT_EQ(b.size(), 390u);
  EXPECT_EQ(b[d::kKm3SamplingMode], 0);
  EXPECT_EQ(Bytes(b.begin() + 217, b.begin() + 222), (Bytes{0, 3, 0, 0, 0}));
  EXPECT_EQ(GetBe16(&b[d::kKm3VrefCount]), 0x1F44);
  for (int ch = 0; ch < 5; ++ch) {
    EXPECT_DOUBLE_EQ(GetLeDouble(&b[d::kKm3AnalogRef + 8 * ch]), 3.911556659e-05);  // DefaultRef
    EXPECT_DOUBLE_EQ(ActiveRef(b, d::kKm3AnalogRef, ch), 3.911556659e-05);
  }
  // AI1 (-0.002 V) at range 3 counts the reference itself; AI0 (1.2346 V) at range 0 eight times
  // it.
  EXPECT_EQ(static_cast<std::int16_t>(GetBe16(&b[200])), 3945);
  EXPECT_EQ(static_cast<std::int16_t>(GetBe16(&b[202])), -51);
}

TEST(SimIdentity, ThermistorModuleTail) {
  Running m(Model::Qn6);
  const Bytes b = m.Ask(kGetDevice).bytes;
  ASSERT_EQ(b.size(), 389u);
  EXPECT_EQ(GetBe16(&b[d::kQn6RefCount]), 49599);
  EXPECT_EQ(Bytes(b.begin() + 218, b.begin() + 226),
            (Bytes{0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x6A, 0x00}));
  EXPECT_EQ(Bytes(b.begin() + 226, b.begin() + 234), (Bytes{0, 0, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 234, b.begin() + 242), Bytes(8, 0));
  // User curve 0: 100/25/0 deg C at 680.0/10000.0/32650.0 ohms, little-endian.
  const std::uint8_t* curves = &b[d::kQn6UserCurves];
  EXPECT_EQ(GetLe16(curves + 0), 100);
  EXPECT_EQ(GetLe16(curves + 16), 25);
  EXPECT_EQ(GetLe16(curves + 32), 0);
  EXPECT_EQ(GetLe32(curves + 48), 6800u);
  EXPECT_EQ(GetLe32(curves + 80), 100000u);
  EXPECT_EQ(GetLe32(curves + 112), 326500u);
  for (int n = 0; n < 8; ++n) {
    SCOPED_TRACE(n);
    EXPECT_GT(GetLe32(curves + 48 + 4 * n), 0u);  // every curve has points that can be fitted
    EXPECT_LT(GetLe32(curves + 48 + 4 * n), GetLe32(curves + 80 + 4 * n));
    EXPECT_LT(GetLe32(curves + 80 + 4 * n), GetLe32(curves + 112 + 4 * n));
  }
  // 10 kOhm at the default reference count: 10000 * 1e-5 / (2.5 / 49599) = 1983.96.
  EXPECT_EQ(GetBe16(&b[200]), 1984);
}

// ---- measurement block and readings ----

TEST(SimData, VoltageReadingsGiveBackTheVolts) {
  Running m(Model::Km3);
  m.sim.SetRangeCode(2, 1);
  m.sim.SetRangeCode(3, 3);
  m.sim.SetAnalogVolts(3, 0.5);
  m.sim.SetAnalogVolts(4, -9.99);
  const Received r = m.Ask(kReadData);
  const Bytes& b = r.bytes;
  ASSERT_EQ(b.size(), 204u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Frame({0xD8, wire::ACK})));
  EXPECT_EQ(GetBe16(&b[wire::data::kRssi]), 0xFFC3);
  const double volts[5] = {1.2346, -0.002, 5.0, 0.5, -9.99};
  const int ranges[5] = {0, 0, 1, 3, 0};
  for (int ch = 0; ch < 5; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(b[wire::data::kKm3RangeCodes + ch], ranges[ch]);
    const double per_count = ActiveRef(b, wire::data::kKm3AnalogRef, ch) * (1 << (3 - ranges[ch]));
    const auto reading = static_cast<std::int16_t>(GetBe16(&b[10 + 2 * ch]));
    EXPECT_NEAR(reading * per_count, volts[ch], per_count / 2);
  }
  EXPECT_EQ(Bytes(b.begin() + 20, b.begin() + 26), Bytes(6, 0));  // no channels 5..7
  EXPECT_EQ(GetBe16(&b[wire::data::kKm3VrefCount]), 0x1F44);
}

TEST(SimData, VoltageReadingsClampAtTheEndsOfTheRange) {
  Running m(Model::Km3);
  for (int ch = 0; ch < 5; ++ch) m.sim.SetRangeCode(ch, 3);  // +/-1.28 V
  m.sim.SetAnalogVolts(0, 5.0);
  m.sim.SetAnalogVolts(1, -5.0);
  const Bytes b = m.Ask(kReadData).bytes;
  EXPECT_EQ(static_cast<std::int16_t>(GetBe16(&b[10])), 32767);
  EXPECT_EQ(static_cast<std::int16_t>(GetBe16(&b[12])), -32768);
}

TEST(SimData, ThermistorReadingsGiveBackTheOhms) {
  Running m(Model::Qn6);
  m.sim.SetThermistorRefCount(50000);
  m.sim.SetThermistorOhms(1, 330.0);
  m.sim.SetThermistorOhms(2, 1e7);  // beyond what the converter can count
  const Bytes b = m.Ask(kReadData).bytes;
  ASSERT_EQ(b.size(), 198u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Frame({0xD8, wire::ACK})));
  const std::uint16_t ref_count = GetBe16(&b[wire::data::kQn6RefCount]);
  EXPECT_EQ(ref_count, 50000);
  const double ohms_per_count = 2.5 / ref_count / 1e-05;
  const double ohms[8] = {10000, 330, 1e7, 10500, 9000, 10000, 10000, 10000};
  for (int ch = 0; ch < 8; ++ch) {
    if (ch == 2) continue;
    SCOPED_TRACE(ch);
    EXPECT_NEAR(GetBe16(&b[10 + 2 * ch]) * ohms_per_count, ohms[ch], ohms_per_count / 2);
  }
  EXPECT_EQ(GetBe16(&b[14]), 65535);
  EXPECT_EQ(b[wire::data::kQn6SensorTypes + 6], 0x6A);
  EXPECT_EQ(b[wire::data::kQn6Fahrenheit + 5], 1);
  EXPECT_EQ(GetLe32(&b[wire::data::kQn6UserCurves + 80]), 100000u);
}

TEST(SimData, IdentityAndDataBlockReportTheSameReadings) {
  Running m(Model::Qn6);
  const Bytes id = m.Ask(kGetDevice).bytes;
  const Bytes data = m.Ask(kReadData).bytes;
  EXPECT_EQ(Bytes(id.begin() + 200, id.begin() + 216), Bytes(data.begin() + 10, data.begin() + 26));
  EXPECT_EQ(Bytes(id.begin() + 245, id.end()), Bytes(data.begin() + 54, data.end()));
}

TEST(SimData, DriftMovesTheInputsOnlyWhenOn) {
  Module module(Model::Km3);
  EXPECT_EQ(module.AnalogReading(0, 0.0), module.AnalogReading(0, 7.5));
  module.drift = true;
  EXPECT_NE(module.AnalogReading(0, 0.0), module.AnalogReading(0, 7.5));
  EXPECT_NEAR(module.AnalogReading(0, 7.5), 3945, 100);  // small: the display only wanders

  Module thermistors(Model::Qn6);
  thermistors.drift = true;
  EXPECT_NE(thermistors.ThermistorReading(3, 0.0), thermistors.ThermistorReading(3, 10.0));
  EXPECT_NEAR(thermistors.ThermistorReading(3, 10.0), 2083, 60);
}

// ---- configuration commands ----

TEST(SimConfig, RangeConfigAppliesToTheNextReport) {
  Running m(Model::Km3);
  const Received r = m.Ask(Frame({wire::CMD_SET_RANGE_CONFIG, 1, 3, 2, 1, 0, 3, 0, 0, 0}));
  EXPECT_EQ(r.bytes, (Frame({0xD6, wire::ACK})));
  EXPECT_EQ(m.sim.Snapshot().range_codes, (std::array<std::uint8_t, 8>{3, 2, 1, 0, 3, 0, 0, 0}));

  const Bytes b = m.Ask(kReadData).bytes;
  EXPECT_EQ(b[wire::data::kKm3SamplingMode], 1);
  EXPECT_EQ(Bytes(b.begin() + 27, b.begin() + 32), (Bytes{3, 2, 1, 0, 3}));
  EXPECT_EQ(static_cast<std::int16_t>(GetBe16(&b[10])), 31563);   // 1.2346 V at range 3
  EXPECT_EQ(static_cast<std::int16_t>(GetBe16(&b[18])), -32768);  // -7.5 V clamps at range 3
  const Bytes id = m.Ask(kGetDevice).bytes;
  EXPECT_EQ(id[d::kKm3SamplingMode], 1);
  EXPECT_EQ(Bytes(id.begin() + 217, id.begin() + 222), (Bytes{3, 2, 1, 0, 3}));
}

TEST(SimConfig, ThermistorConfigIsAnsweredWithTheNewDataBlock) {
  Running m(Model::Qn6);
  const Bytes frame = ThConfigFrame({0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x70, 0x77},
                                    {1, 0, 1, 0, 0, 0, 0, 1}, {0xFB, 5, 0, 0, 0, 0, 0x81, 127});
  ASSERT_EQ(frame.size(), 29u);
  const Bytes b = m.Ask(frame).bytes;
  ASSERT_EQ(b.size(), 198u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Frame({0xD7, wire::ACK})));
  EXPECT_EQ(Bytes(b.begin() + 28, b.begin() + 52), Bytes(frame.begin() + 5, frame.end()));
  EXPECT_EQ(GetBe16(&b[10]), 1984);  // readings come along

  const State s = m.sim.Snapshot();
  EXPECT_EQ(s.offsets[0], -5);
  EXPECT_EQ(s.offsets[6], -127);
  EXPECT_EQ(s.fahrenheit[7], 1);
  const Bytes id = m.Ask(kGetDevice).bytes;
  EXPECT_EQ(Bytes(id.begin() + 218, id.begin() + 242), Bytes(frame.begin() + 5, frame.end()));
}

TEST(SimConfig, CommandsTheModuleCannotTakeAreRefused) {
  struct Case {
    const char* what;
    Model model;
    Bytes frame;
  };
  const Case cases[] = {
      {"range config on the thermistor module", Model::Qn6,
       Frame({wire::CMD_SET_RANGE_CONFIG, 0, 1, 1, 1, 1, 1, 0, 0, 0})},
      {"thermistor config on the voltage module", Model::Km3,
       ThConfigFrame({0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x60}, {}, {})},
      {"short range config", Model::Km3, Frame({wire::CMD_SET_RANGE_CONFIG, 0, 1, 1})},
      {"unknown command", Model::Qn6, Frame({0x99})},
      {"thermistor reference on the voltage module", Model::Km3,
       Frame({wire::CMD_CALIBRATE_TH_REF, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Running m(c.model);
    const State before = m.sim.Snapshot();
    EXPECT_EQ(m.Ask(c.frame).bytes, (Frame({c.frame[4], wire::NAK})));
    EXPECT_EQ(m.sim.Snapshot().range_codes, before.range_codes);
    EXPECT_EQ(m.sim.Snapshot().sensor_types, before.sensor_types);
  }
}

TEST(SimConfig, LocatorIsAcknowledgedAndCounted) {
  Running m(Model::Km3);
  EXPECT_EQ(m.Ask(kLocator).bytes, (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x06}));
  EXPECT_EQ(m.Ask(kLocator).bytes, (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x06}));
  EXPECT_EQ(m.sim.Snapshot().locator_count, 2);
}

TEST(SimConfig, ModuleCommandsKeepWhatTheySet) {
  Running m(Model::Qn6);
  EXPECT_EQ(m.Ask(Frame({wire::CMD_SET_WIFI_MODE, 0})).bytes, (Frame({0x30, wire::ACK})));
  EXPECT_EQ(m.Ask(kGetDevice).bytes[d::kWifiMode], 0);
  EXPECT_EQ(m.Ask(Frame({wire::CMD_SET_WEB_KEY, 3, 'a', 'b', 'c'})).bytes,
            (Frame({0x32, wire::ACK})));
  EXPECT_EQ(m.sim.Snapshot().web_key, "abc");

  // The new reference count comes back in the reply and in the next data block.
  EXPECT_EQ(m.Ask(Frame({wire::CMD_CALIBRATE_TH_REF, 0})).bytes,
            (Frame({0xD5, wire::ACK, kMeasuredThRefCount >> 8, kMeasuredThRefCount & 0xFF})));
  EXPECT_EQ(GetBe16(&m.Ask(kReadData).bytes[wire::data::kQn6RefCount]), kMeasuredThRefCount);
  EXPECT_EQ(m.Ask(Frame({wire::CMD_CALIBRATE_TH_REF, 2})).bytes,
            (Frame({0xD5, wire::ACK, 0xC1, 0xBF})));

  m.sim.SetLocation("Roof");
  EXPECT_EQ(m.Ask(Frame({wire::CMD_RESET_CONFIG, 1})).bytes, (Frame({0x5E, wire::ACK})));
  const Bytes id = m.Ask(kGetDevice).bytes;
  EXPECT_EQ(Text(id, d::kLocation, d::kLocationWidth), "Lab bench 1");
  EXPECT_EQ(id[d::kWifiMode], 1);
}

// ---- frames and connections ----

TEST(SimFrames, RecordsEveryFrameExactlyAsReceived) {
  Running m(Model::Km3);
  const Bytes short_get_device = Frame({wire::CMD_GET_DEVICE});
  EXPECT_EQ(m.Ask(short_get_device).bytes.size(), 390u);  // a 5-byte 33 is answered too

  // A frame arriving in two parts is still one frame.
  const Bytes range = Frame({wire::CMD_SET_RANGE_CONFIG, 0, 1, 1, 1, 1, 1, 0, 0, 0});
  {
    Client client(m.port);
    client.Send(Bytes(range.begin(), range.begin() + 7));
    std::this_thread::sleep_for(5ms);
    client.Send(Bytes(range.begin() + 7, range.end()));
    EXPECT_EQ(client.Read().bytes, (Frame({0xD6, wire::ACK})));
  }
  const Bytes web_key = Frame({wire::CMD_SET_WEB_KEY, 5, '1', '2', '3', '4', '5'});
  m.Ask(web_key);
  const Bytes bad_signature = {0x5A, 0x35, 0x77, 0xA4, 0xD8};
  const Received refused = m.Ask(bad_signature);
  EXPECT_TRUE(refused.bytes.empty());
  EXPECT_TRUE(refused.closed);
  const Received reset = m.Ask(Frame({wire::CMD_RESET_MODULE}));
  EXPECT_TRUE(reset.bytes.empty());
  EXPECT_TRUE(reset.closed);

  EXPECT_EQ(m.sim.Frames(), (std::vector<Bytes>{short_get_device, range, web_key, bad_signature,
                                                Frame({wire::CMD_RESET_MODULE})}));
  m.sim.ClearFrames();
  EXPECT_TRUE(m.sim.Frames().empty());
}

TEST(SimFrames, WaitForFramesWakesOnArrivalAndTimesOut) {
  Running m(Model::Qn6);
  EXPECT_FALSE(m.sim.WaitForFrames(1, 50ms));
  std::thread client([&] { m.Ask(kLocator); });
  EXPECT_TRUE(m.sim.WaitForFrames(1, 2s));
  client.join();
}

TEST(SimFrames, BuildReplyMatchesTheWireAndChangesNothing) {
  Running m(Model::Qn6);
  EXPECT_EQ(m.sim.BuildReply(kGetDevice), m.Ask(kGetDevice).bytes);
  const Bytes config = ThConfigFrame({0x61, 0x61, 0x61, 0x61, 0x61, 0x61, 0x61, 0x61}, {}, {});
  EXPECT_EQ(m.sim.BuildReply(config)[28], 0x61);
  EXPECT_EQ(m.sim.Snapshot().sensor_types[0], 0x60);
  EXPECT_EQ(m.sim.BuildReply(kLocator), (Frame({0x1D, wire::ACK})));
  EXPECT_EQ(m.sim.Snapshot().locator_count, 0);
  EXPECT_TRUE(m.sim.BuildReply(Frame({wire::CMD_RESET_MODULE})).empty());
  EXPECT_EQ(m.sim.Frames().size(), 1u);  // only the exchange on the wire was recorded
}

// ---- faults ----

struct FaultCase {
  const char* name;
  Fault fault;
  int delay_ms;
  std::function<void(const Received&, const Bytes& normal)> check;
};

TEST(SimFaults, EachFaultShapesTheNextReply) {
  const FaultCase cases[] = {
      {"wrong signature", Fault::WrongSignature, 0,
       [](const Received& r, const Bytes& normal) {
         Bytes expected = normal;
         expected[3] = 0xA4;
         EXPECT_EQ(r.bytes, expected);
       }},
      {"refuse", Fault::Refuse, 0,
       [](const Received& r, const Bytes&) {
         EXPECT_EQ(r.bytes, (Frame({0xD8, wire::NAK})));
       }},
      {"truncate", Fault::Truncate, 0,
       [](const Received& r, const Bytes& normal) {
         EXPECT_EQ(r.bytes, Bytes(normal.begin(), normal.begin() + 99));
         EXPECT_TRUE(r.closed);
       }},
      {"oversize", Fault::Oversize, 0,
       [](const Received& r, const Bytes& normal) {
         ASSERT_EQ(r.bytes.size(), 6000u);
         EXPECT_EQ(Bytes(r.bytes.begin(), r.bytes.begin() + 198), normal);
       }},
      {"delay", Fault::Delay, 300,
       [](const Received& r, const Bytes& normal) {
         EXPECT_EQ(r.bytes, normal);
         EXPECT_GE(r.first_byte_after, 290ms);
       }},
      {"split reply", Fault::SplitReply, 0,
       [](const Received& r, const Bytes& normal) {
         EXPECT_EQ(r.bytes, normal);
         EXPECT_EQ(r.chunks.front(), 99u);
         EXPECT_GE(r.chunks.size(), 2u);
       }},
  };
  Running m(Model::Qn6);
  const Bytes normal = m.Ask(kReadData).bytes;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    m.sim.InjectFault(c.fault, 1, 0, c.delay_ms);
    c.check(m.Ask(kReadData), normal);
    EXPECT_EQ(m.Ask(kReadData).bytes, normal) << "the fault outlived its count";
  }
}

TEST(SimFaults, ResetCutsTheReplyShort) {
  Running m(Model::Qn6);
  m.sim.InjectFault(Fault::Reset);
  const Received r = m.Ask(kReadData);
  EXPECT_EQ(r.bytes, (Bytes{0x5A, 0x35, 0x77}));
  EXPECT_TRUE(r.reset);
  EXPECT_EQ(m.Ask(kReadData).bytes.size(), 198u);
}

TEST(SimFaults, NoReplyHoldsTheConnectionUntilTheClientLeaves) {
  Running m(Model::Qn6);
  m.sim.InjectFault(Fault::NoReply);
  {
    Client client(m.port);
    client.Send(kGetDevice);
    const Received r = client.Read(300ms);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_FALSE(r.closed);
    EXPECT_FALSE(r.reset);
  }
  EXPECT_EQ(m.Ask(kGetDevice).bytes.size(), 389u);
}

TEST(SimFaults, CountAndCodeSelectTheCommands) {
  Running m(Model::Qn6);
  m.sim.InjectFault(Fault::Refuse, 2, wire::CMD_READ_DATA);
  EXPECT_EQ(m.Ask(kLocator).bytes, (Frame({0x1D, wire::ACK})));
  EXPECT_EQ(m.Ask(kReadData).bytes, (Frame({0xD8, wire::NAK})));
  EXPECT_EQ(m.Ask(Frame({wire::CMD_RESET_MODULE})).bytes, Bytes{});  // no reply, no fault used
  EXPECT_EQ(m.Ask(kReadData).bytes, (Frame({0xD8, wire::NAK})));
  EXPECT_EQ(m.Ask(kReadData).bytes.size(), 198u);

  m.sim.InjectFault(Fault::Refuse, 5);
  m.sim.ClearFaults();
  EXPECT_EQ(m.Ask(kLocator).bytes, (Frame({0x1D, wire::ACK})));
}

TEST(SimFaults, StopIsPromptWhileAFaultHoldsTheServer) {
  for (Fault fault : {Fault::NoReply, Fault::Delay}) {
    SCOPED_TRACE(FaultName(fault));
    Running m(Model::Km3);
    m.sim.InjectFault(fault, 1, 0, 60000);
    Client client(m.port);
    client.Send(kReadData);
    ASSERT_TRUE(m.sim.WaitForFrames(1, 2s));
    const auto start = Clock::now();
    m.sim.Stop();
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_TRUE(client.Read(1s).bytes.empty());
  }
}

TEST(SimFaults, SpecNamesCountsAndDelays) {
  const std::vector<FaultRequest> got = ParseFaultList("noreply:2,refuse,delay,delay:3:1500");
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].fault, Fault::NoReply);
  EXPECT_EQ(got[0].count, 2);
  EXPECT_EQ(got[1].fault, Fault::Refuse);
  EXPECT_EQ(got[1].count, 1);
  EXPECT_EQ(got[2].delay_ms, kDefaultFaultDelayMs);
  EXPECT_EQ(got[3].count, 3);
  EXPECT_EQ(got[3].delay_ms, 1500);
  EXPECT_TRUE(ParseFaultList("").empty());
  for (Fault f : {Fault::NoReply, Fault::WrongSignature, Fault::Refuse, Fault::Truncate,
                  Fault::Oversize, Fault::Reset, Fault::Delay, Fault::SplitReply, Fault::OtherReply,
                  Fault::NoRead, Fault::ResetAfter, Fault::Chatter, Fault::CloseAfter,
                  Fault::SlowClose, Fault::NoReturn, Fault::OldFirmware}) {
    EXPECT_EQ(ParseFaultList(FaultName(f)).at(0).fault, f);
  }
  // The content connection's faults: bytes read first, or the pause before the close.
  const std::vector<FaultRequest> content =
      ParseFaultList("resetafter:1:1000000,closeafter:2:10,slowclose:1:3000,noread,chatter");
  ASSERT_EQ(content.size(), 5u);
  EXPECT_EQ(content[0].after_bytes, 1000000u);
  EXPECT_EQ(content[1].count, 2);
  EXPECT_EQ(content[1].after_bytes, 10u);
  EXPECT_EQ(content[2].delay_ms, 3000);
  for (const char* bad :
       {"bogus", "refuse:0", "refuse:x", "refuse:1:5", "noreply:", ",", "delay:1:-3", "noread@95",
        "chatter:1:5", "resetafter:1:0", "noreturn@45", "oldfirmware:1:5"}) {
    EXPECT_THROW(ParseFaultList(bad), std::invalid_argument) << bad;
  }
}

// ---- connections ----

// Another client's command is answered at once, whatever the client before it is doing.
TEST(SimConnections, OneClientNeverHoldsUpAnother) {
  struct Case {
    const char* what;
    std::function<void(Running&, Client&)> stall;
  };
  const Case cases[] = {
      {"connected and silent", [](Running&, Client&) {}},
      {"half a header",
       [](Running&, Client& c) {
         c.Send({0x5A, 0x35, 0x77});
       }},
      {"held without a reply",
       [](Running& m, Client& c) {
         m.sim.InjectFault(Fault::NoReply, 1, wire::CMD_GET_DEVICE);
         c.Send(kGetDevice);
       }},
      {"a reply delayed by 2 s",
       [](Running& m, Client& c) {
         m.sim.InjectFault(Fault::Delay, 1, wire::CMD_GET_DEVICE, 2000);
         c.Send(kGetDevice);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Running m(Model::Qn6);
    Client staller(m.port);
    c.stall(m, staller);
    std::this_thread::sleep_for(50ms);  // let the server take the staller first
    const auto start = Clock::now();
    EXPECT_EQ(m.Ask(kReadData).bytes.size(), 198u);
    EXPECT_LT(Clock::now() - start, 500ms);
  }
}

// A client that keeps sending without end holds up no one, and is answered with what it sent by
// the idle timeout at the latest.
TEST(SimConnections, TricklingClientIsCutOffAndHoldsUpNoOne) {
  Simulator sim({.model = Model::Qn6, .idle_timeout_ms = 400});
  const std::uint16_t port = sim.Start();
  Received trickled;
  Clock::duration took{};
  std::thread trickle([&] {
    Client c(port);
    const auto start = Clock::now();
    c.Send(Frame({0x99}));  // a code of no fixed length: read until the line goes quiet
    // A byte a millisecond, well inside the quiet gap, until the reply comes.
    while (!c.Readable() && Clock::now() - start < 3s) {
      c.SendQuietly({0x00});
      std::this_thread::sleep_for(1ms);
    }
    took = Clock::now() - start;
    trickled = c.Read();
  });
  std::this_thread::sleep_for(50ms);
  const auto start = Clock::now();
  EXPECT_EQ(Exchange(port, kReadData).bytes.size(), 198u);
  EXPECT_LT(Clock::now() - start, 300ms);
  trickle.join();
  // Answered well before it would stop by itself (how soon also depends on the client's gaps).
  EXPECT_EQ(trickled.bytes, (Frame({0x99, wire::NAK})));
  EXPECT_LT(took, 1500ms);
}

TEST(SimConnections, CrowdOfSilentClientsCannotLockOthersOut) {
  Running m(Model::Qn6);
  const std::size_t crowd = Options{}.max_connections + 40;
  std::vector<std::unique_ptr<Client>> silent;
  for (std::size_t i = 0; i < crowd; ++i) silent.push_back(std::make_unique<Client>(m.port));
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  EXPECT_EQ(m.Ask(kReadData).bytes.size(), 198u);
  EXPECT_LT(Clock::now() - start, 1000ms);
  // The newest silent clients are still being waited for; the oldest made room.
  EXPECT_FALSE(silent.back()->Read(50ms).closed);
  EXPECT_TRUE(silent.front()->Read(50ms).closed);
}

TEST(SimConnections, SilentOrUnfinishedFrameEndsAtTheIdleTimeout) {
  struct Case {
    const char* what;
    Bytes sent;
  };
  const Case cases[] = {
      {"nothing", {}},
      {"part of a header", {0x5A, 0x35}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Simulator sim({.model = Model::Qn6, .idle_timeout_ms = 200});
    Client client(sim.Start());
    const auto start = Clock::now();
    if (!c.sent.empty()) client.Send(c.sent);
    const Received r = client.Read(3000ms);
    const auto took = Clock::now() - start;
    EXPECT_TRUE(r.closed);
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_TRUE(r.bytes.empty());
    std::vector<Bytes> recorded;
    if (!c.sent.empty()) recorded.push_back(c.sent);
    EXPECT_EQ(sim.Frames(), recorded);
  }
}

TEST(SimConnections, ParallelClientsAreAllServedAgainstOneModuleState) {
  Running m(Model::Km3);
  constexpr int kClients = 8;
  constexpr int kEach = 25;
  std::atomic<int> acknowledged = 0;
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      for (int n = 0; n < kEach; ++n) {
        if (m.Ask(kLocator).bytes == Frame({0x1D, wire::ACK})) ++acknowledged;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(acknowledged, kClients * kEach);
  EXPECT_EQ(m.sim.Snapshot().locator_count, kClients * kEach);
  EXPECT_EQ(m.sim.Frames().size(), static_cast<std::size_t>(kClients * kEach));
}

TEST(SimFrames, RecordKeepsOnlyTheNewestFrames) {
  Simulator sim({.model = Model::Qn6, .frame_record_limit = 3});
  const std::uint16_t port = sim.Start();
  for (std::uint8_t n = 1; n <= 5; ++n) Exchange(port, Frame({wire::CMD_SET_LOCATOR, n, 0}));
  EXPECT_EQ(sim.Frames(), (std::vector<Bytes>{Frame({wire::CMD_SET_LOCATOR, 3, 0}),
                                              Frame({wire::CMD_SET_LOCATOR, 4, 0}),
                                              Frame({wire::CMD_SET_LOCATOR, 5, 0})}));
  EXPECT_TRUE(sim.WaitForFrames(5, 0ms));  // counts every frame, kept or not
  sim.ClearFrames();
  EXPECT_FALSE(sim.WaitForFrames(1, 0ms));
  EXPECT_GT(Options{}.frame_record_limit, 0u);
}

// ---- lifecycle ----

TEST(SimLifecycle, StartIsIdempotentAndStopFreesThePort) {
  Simulator sim({.model = Model::Km3});
  EXPECT_EQ(sim.Port(), 0);
  const std::uint16_t port = sim.Start();
  EXPECT_NE(port, 0);
  EXPECT_EQ(sim.Start(), port);
  EXPECT_EQ(sim.Port(), port);
  sim.Stop();
  sim.Stop();
  EXPECT_THROW(Client{port}, std::runtime_error);

  Simulator again({.model = Model::Km3, .port = port});
  EXPECT_EQ(again.Start(), port);
  EXPECT_EQ(Exchange(port, kLocator).bytes, (Frame({0x1D, wire::ACK})));
}

TEST(SimLifecycle, BadListenAddressOrChannelIsRejected) {
  Simulator sim({.model = Model::Qn6, .listen = "not-an-address"});
  EXPECT_THROW(sim.Start(), std::invalid_argument);
  EXPECT_THROW(sim.SetAnalogVolts(5, 1.0), std::out_of_range);
  EXPECT_THROW(sim.SetThermistorOhms(8, 1.0), std::out_of_range);
  EXPECT_THROW(sim.SetSensorType(-1, 0x60), std::out_of_range);
}

// The program as scripts run it: the port comes from its first line.
class SimProgram : public testing::Test {
 protected:
  void SetUp() override {
    program_ = test::BuiltProgram("zvk-sim");
    if (!program_) GTEST_SKIP() << "zvk-sim is not built";
  }

  // Starts it; the port it announced, or 0 when its first line was not the announcement.
  std::uint16_t Start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--model", "km3", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    child_.emplace(*program_, args);
    const std::string line = child_->ReadLine().value_or("");
    const std::string prefix = "zvk-sim: km3 listening on 127.0.0.1:";
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    if (line.rfind(prefix, 0) != 0) return 0;
    return static_cast<std::uint16_t>(std::stoi(line.substr(prefix.size())));
  }

  std::optional<std::filesystem::path> program_;
  std::optional<test::ChildProcess> child_;
};

TEST_F(SimProgram, AnnouncesItsPortAndServesWithItsFaults) {
  const std::filesystem::path files =
      std::filesystem::temp_directory_path() /
      ("zvk-sim-files-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  const std::uint16_t port = Start({"--files", files.string(), "--faults", "refuse:1"});
  ASSERT_NE(port, 0);
  EXPECT_EQ(Exchange(port, kLocator).bytes, (Frame({0x1D, wire::NAK})));  // --faults applied
  EXPECT_EQ(Exchange(port, kLocator).bytes, (Frame({0x1D, wire::ACK})));
  EXPECT_TRUE(std::filesystem::is_directory(files));
  child_.reset();
  std::filesystem::remove_all(files);
}

// SIGTERM on POSIX; Ctrl+Break, which its console handler takes, on Windows.
TEST_F(SimProgram, StopsCleanlyWhenAsked) {
  const std::uint16_t port = Start();
  ASSERT_NE(port, 0);
  EXPECT_EQ(Exchange(port, kLocator).bytes, (Frame({0x1D, wire::ACK})));
  ASSERT_TRUE(child_->RequestStop());
  EXPECT_EQ(child_->Wait(), 0);
  EXPECT_THROW(Client{port}, std::runtime_error);
}

}  // namespace
}  // namespace zvk::sim
