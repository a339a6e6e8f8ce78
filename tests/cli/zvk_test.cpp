// The zvk command run in-process against the simulator on loopback: what each command prints,
// the frames the module receives, and how each kind of failure ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/cli_fixture.h"
#include "cli/command.h"
#include "cli/term/standard_output.h"
#include "cli/zvk_cli.h"
#include "harness/virtual_network.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/scripted_network.h"
#include "support/test_seams.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kGetDevice{0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00};
const Bytes kReadData{0x5A, 0x35, 0x77, 0xA5, 0xD8};
const Bytes kSetLocator{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00};

// The frame the window sends for the module's channel settings in `s`.
Bytes SettingsFrame(sim::Model model, const sim::State& s) {
  Bytes frame{0x5A, 0x35, 0x77, 0xA5};
  if (model == sim::Model::Km3) {
    frame.push_back(0xD6);
    frame.push_back(s.sampling_mode);
    frame.insert(frame.end(), s.range_codes.begin(), s.range_codes.end());
  } else {
    frame.push_back(0xD7);
    frame.insert(frame.end(), s.sensor_types.begin(), s.sensor_types.end());
    frame.insert(frame.end(), s.fahrenheit.begin(), s.fahrenheit.end());
    for (std::int8_t offset : s.offsets) frame.push_back(static_cast<std::uint8_t>(offset));
  }
  return frame;
}

std::string FieldText(const Bytes& record, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(&record[offset]));
}

TEST_F(cliZvk, InfoPrintsTheIdentityRecordAsDecoded) {
  StartModule(sim::Model::Qn6);
  sim->SetLocation("Shelf 4 / rack B");
  sim->SetRssi(0xFFB5);
  const Bytes record = sim->BuildReply(kGetDevice);
  ASSERT_GE(record.size(), 200u);
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", record[11], record[12],
                record[13], record[14], record[15], record[16]);
  char firmware[8];
  std::snprintf(firmware, sizeof firmware, "V%02X.%02X", record[24], record[25]);

  Result r = Run(On({"info"}));

  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Model: zVK-QN6 Thermistor Input Module\n"
            "Address: 127.0.0.1\n"
            "MAC: " +
                std::string(mac) +
                "\n"
                "Firmware: " +
                firmware +
                "\n"
                "Location: Shelf 4 / rack B\n"
                "RSSI: -75dBm\n"
                "AP SSID: " +
                FieldText(record, 80) +
                "\n"
                "AP key type: " +
                std::to_string(record[112]) +
                "\n"
                "Station SSID: " +
                FieldText(record, 128) +
                "\n"
                "Station key type: " +
                std::to_string(record[160]) +
                "\n"
                "Wi-Fi mode: " +
                (record[176] ? "AP" : "Station") +
                "\n"
                "Static IP: off\n"
                "Modbus port: " +
                std::to_string(record[179] * 256 + record[180]) +
                "\n"
                "Modbus idle timeout: " +
                std::to_string(record[196] * 256 + record[197]) + "\n");
  EXPECT_EQ(Frames(), std::vector<Bytes>{kGetDevice});
}

TEST_F(cliZvk, InfoSaysWhenTheModuleReportsNoSignalStrength) {
  StartModule(sim::Model::Km3);
  sim->SetRssi(0);
  Result r = Run(On({"info"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = r.OutLines();
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0], "Model: zVK-KM3 Analog Input Module");
  EXPECT_EQ(lines[5], "RSSI: not reported");
}

// A module that answers every frame with one fixed reply, then closes; no socket is opened.
class CannedModule final : public Network {
 public:
  explicit CannedModule(Bytes reply) : reply_(std::move(reply)) {}
  std::unique_ptr<TcpSocket> NewSocket() override { return std::make_unique<Socket>(reply_); }

 private:
  class Socket final : public TcpSocket {
   public:
    explicit Socket(const Bytes& reply) : reply_(reply) {}
    IoStatus BeginConnect(const std::string& host, std::uint16_t) override {
      EXPECT_TRUE(harness::IsLoopbackHost(host)) << host;
      return IoStatus::Done;
    }
    IoStatus PollConnect(int) override { return IoStatus::Done; }
    bool WriteAll(const std::uint8_t*, std::size_t) override { return true; }
    IoStatus WaitReadable(int) override { return IoStatus::Done; }
    long ReadSome(std::uint8_t* out, std::size_t capacity) override {
      const std::size_t n = std::min(capacity, reply_.size() - sent_);
      std::copy_n(reply_.begin() + static_cast<std::ptrdiff_t>(sent_), n, out);
      sent_ += n;
      return static_cast<long>(n);
    }
    bool ShutdownWrite() override { return true; }
    IoStatus WaitPeerClose(int) override { return IoStatus::Done; }
    void Close() override {}
    std::string LastError() const override { return ""; }

   private:
    const Bytes& reply_;
    std::size_t sent_ = 0;
  };
  Bytes reply_;
};

TEST_F(cliZvk, InfoShowsTheModulesEightBitTextsAndNoControlCharacters) {
  sim::Options options;
  options.model = sim::Model::Qn6;
  Bytes record = sim::Simulator(options).BuildReply(kGetDevice);
  ASSERT_GE(record.size(), 160u);
  // Windows-1252 bytes, with the control characters a misbehaving module might send.
  const auto put = [&record](std::size_t offset, const std::string& text) {
    std::fill_n(record.begin() + static_cast<std::ptrdiff_t>(offset), 31, 0);
    std::copy(text.begin(), text.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
  };
  put(40, "Caf\xE9 \x1B]0;x\x07\r\n");
  put(80,
      "Stra\xDF"
      "e \x93"
      "5\x94");
  put(128, "\x80uro\x9D\x7F");
  CannedModule module(record);
  CliEnv env{module, &hosts, read_answer};
  std::ostringstream out, err;

  const int status = RunZvk(On({"info"}), out, err, env);

  ASSERT_EQ(status, 0) << err.str();
  const std::string shown = out.str();
  EXPECT_NE(shown.find("\nLocation: Caf\u00E9 \\x1B]0;x\\x07\\x0D\\x0A\n"), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("\nAP SSID: Stra\u00DFe \u201C5\u201D\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\nStation SSID: \u20ACuro\\x9D\\x7F\n"), std::string::npos) << shown;
}

TEST_F(cliZvk, ReadPrintsEveryChannelOfTheModelOncePerPoll) {
  StartModule(sim::Model::Km3);
  Result r = Run(On({"read", "--count", "2", "--interval", "0"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = r.OutLines();
  ASSERT_EQ(lines.size(), 11u) << r.out;
  const std::regex value(R"(AI(\d) -?\d+\.\d{4}V)");
  for (int i = 0; i < 5; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, value)) << lines[i];
    EXPECT_EQ(m[1].str(), std::to_string(i));
    EXPECT_EQ(lines[i + 6], lines[i]);  // the inputs hold still
  }
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kGetDevice, kReadData, kReadData}));
}

TEST_F(cliZvk, ReadCsvGivesAHeaderAndOneTimedRowPerPoll) {
  StartModule(sim::Model::Qn6);
  sim->SetSensorType(7, 0x00);
  sim->SetFahrenheit(5, true);
  const auto start = std::chrono::steady_clock::now();
  Result r = Run(On({"read", "--csv", "--count", "3", "--interval", "0.2"}));
  const auto elapsed = std::chrono::steady_clock::now() - start;

  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = r.OutLines();
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0], "time,TH0,TH1,TH2,TH3,TH4,TH5,TH6,TH7");
  const std::regex row(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d(,-?\d+\.\d){7},Disable)");
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kGetDevice, kReadData, kReadData, kReadData}));
  // Two intervals between three polls, each counted from the start of the previous poll.
  EXPECT_GE(elapsed, std::chrono::milliseconds(400));
  EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
}

TEST_F(cliZvk, LocateSendsFindMeAndReportsTheAcknowledgement) {
  StartModule(sim::Model::Qn6);
  Result r = Run(On({"locate"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Set Locator done!\n");
  EXPECT_EQ(Frames(), (std::vector<Bytes>{kGetDevice, kSetLocator}));
  EXPECT_EQ(sim->Snapshot().locator_count, 1);
}

struct SetCase {
  const char* name;
  sim::Model model;
  std::vector<std::string> args;
  std::function<void(sim::State&)> change;  // what the command changes on the module
  const char* shown;                        // stdout, as a pattern
};

TEST_F(cliZvk, SettingsGoOutAsTheWindowSendsThemAndShowTheResult) {
  const SetCase cases[] = {
      {"range",
       sim::Model::Km3,
       {"set-range", "AI2", "3"},
       [](sim::State& s) { s.range_codes[2] = 3; },
       R"(AI2 range 3:-/\+1\.25V\n)"},
      {"sampling",
       sim::Model::Km3,
       {"set-sampling", "FAST"},
       [](sim::State& s) { s.sampling_mode = 1; },
       R"(Sampling Rate: Fast\n)"},
      {"listed sensor",
       sim::Model::Qn6,
       {"set-sensor", "TH3", "6c"},
       [](sim::State& s) { s.sensor_types[3] = 0x6C; },
       "TH3 -?\\d+\\.\\d\u2103\n"},
      {"unlisted sensor",
       sim::Model::Qn6,
       {"set-sensor", "th3", "0x78"},
       [](sim::State& s) { s.sensor_types[3] = 0x78; },
       "TH3 Disable\n"},
      {"unit",
       sim::Model::Qn6,
       {"set-unit", "TH1", "f"},
       [](sim::State& s) { s.fahrenheit[1] = 1; },
       "TH1 \\d+\\.\\d\u2109\n"},
      {"offset",
       sim::Model::Qn6,
       {"set-offset", "TH2", "-127"},
       [](sim::State& s) { s.offsets[2] = -127; },
       "TH2 -?\\d+\\.\\d\u2103\n"},
      // Numbers are decimal as typed: a leading zero is no octal, a plus sign is allowed.
      {"offset with a leading zero",
       sim::Model::Qn6,
       {"set-offset", "TH2", "010"},
       [](sim::State& s) { s.offsets[2] = 10; },
       "TH2 -?\\d+\\.\\d\u2103\n"},
      {"range with a sign",
       sim::Model::Km3,
       {"set-range", "AI1", "+2"},
       [](sim::State& s) { s.range_codes[1] = 2; },
       R"(AI1 range 2:-/\+2\.5V\n)"},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.name);
    StartModule(c.model);
    const sim::State before = sim->Snapshot();
    sim::State expected = before;
    c.change(expected);

    Result r = Run(On(c.args));

    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(c.shown))) << r.out;
    EXPECT_EQ(Frames(), (std::vector<Bytes>{kGetDevice, SettingsFrame(c.model, expected)}));
    const sim::State after = sim->Snapshot();
    EXPECT_EQ(SettingsFrame(c.model, after), SettingsFrame(c.model, expected));
    sim->Stop();
    sim.reset();
  }
}

TEST_F(cliZvk, ThermistorSettingShowsTheChannelFromTheModulesReply) {
  StartModule(sim::Model::Qn6);
  Result before = Run(On({"read", "--csv"}));
  ASSERT_EQ(before.status, 0) << before.err;
  Result r = Run(On({"set-offset", "TH0", "-15"}));
  ASSERT_EQ(r.status, 0) << r.err;

  // TH0 is the second field of the row (after the time); shown in tenths of a degree.
  const std::string row = before.OutLines().at(1);
  const std::size_t from = row.find(',') + 1;
  const double old_value = std::stod(row.substr(from, row.find(',', from) - from));
  char expected[32];
  std::snprintf(expected, sizeof expected, "TH0 %.1f\u2103\n", old_value - 1.5);
  EXPECT_EQ(r.out, expected);
}

TEST_F(cliZvk, SettingThatIsAlreadyInPlaceSendsNothing) {
  struct Case {
    sim::Model model;
    std::vector<std::string> args;
    const char* note;
    const char* shown;
  };
  const Case cases[] = {
      {sim::Model::Qn6,
       {"set-unit", "TH0", "C"},
       "zvk: TH0 already shows degrees Celsius; nothing sent",
       "TH0 -?\\d+\\.\\d\u2103\n"},
      {sim::Model::Qn6,
       {"set-offset", "TH4", "0"},
       "zvk: the TH4 offset is already 0; nothing sent",
       "TH4 -?\\d+\\.\\d\u2103\n"},
      {sim::Model::Km3,
       {"set-sampling", "normal"},
       "zvk: the sampling rate is already Normal; nothing sent",
       "Sampling Rate: Normal\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    StartModule(c.model);
    Result r = Run(On(c.args));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string(c.note) + "\n");
    EXPECT_TRUE(std::regex_match(r.out, std::regex(c.shown))) << r.out;
    EXPECT_EQ(Frames(), std::vector<Bytes>{kGetDevice});
    sim->Stop();
    sim.reset();
  }
}

TEST_F(cliZvk, RefusedOrCutIdentityIsAskedForAgainAsTheWindowDoes) {
  struct Case {
    sim::Fault fault;
    int count;
  };
  for (Case c : {Case{sim::Fault::Refuse, 2}, Case{sim::Fault::Truncate, 1}}) {
    SCOPED_TRACE(c.count);
    StartModule(sim::Model::Qn6);
    sim->InjectFault(c.fault, c.count, 0x21);
    Result r = Run(On({"info"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Frames(), std::vector<Bytes>(static_cast<std::size_t>(c.count) + 1, kGetDevice));
    sim->Stop();
    sim.reset();
  }
}

// A connection closed without a reply is no refusal but a lost reply: the commands with a
// re-issue rule (identity, locator) are sent again by the window's retry step, 40 Timer1 ticks
// later, three times in all.
TEST_F(cliZvk, ModuleClosingWithoutAReplyIsNoRefusalAndIsAskedAgain) {
  sim::Options options;
  options.model = sim::Model::Qn6;
  sim::Simulator module_replies(options);
  const Bytes identity = module_replies.BuildReply(kGetDevice);
  const Bytes locator_done = module_replies.BuildReply(kSetLocator);
  const test::PeerScript closes{0, {test::CloseAt(0)}};
  struct Case {
    const char* name;
    std::deque<test::PeerScript> scripts;
    std::vector<std::string> args;
    int status;
    std::string out, err;
    std::vector<Bytes> frames;
    std::size_t reissues;
  };
  const Case cases[] = {
      {"identity, never answered",
       {closes, closes, closes},
       {"info"},
       1,
       "",
       "zvk: the module closed the connection without replying to the identity request\n",
       {kGetDevice, kGetDevice, kGetDevice},
       2},
      {"locator, answered the second time",
       {{0, {test::SendAt(0, identity)}}, closes, {0, {test::SendAt(0, locator_done)}}},
       {"locate"},
       0,
       "Set Locator done!\n",
       "",
       {kGetDevice, kSetLocator, kSetLocator},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedNetwork module;
    module.scripts = c.scripts;
    sleeper.sleeps.clear();
    CliEnv env{.network = module, .hosts = &hosts, .read_answer = read_answer, .sleeper = &sleeper};
    std::ostringstream out, err;
    const int status = RunZvk(On(c.args), out, err, env);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str(), c.err);
    EXPECT_EQ(module.frames, c.frames);
    // Each re-issue after 40 ticks of the 100 ms timer.
    EXPECT_EQ(sleeper.sleeps, std::vector<int>(40 * c.reissues, 100));
  }
}

// A connect that never completes keeps the window's "Connect Timeout" and says what happened.
TEST_F(cliZvk, AConnectThatIsNeverAnsweredSaysSo) {
  test::ScriptedNetwork module;
  module.scripts = {{test::PeerScript::kNever, {}}};
  CliEnv env{.network = module, .hosts = &hosts, .read_answer = read_answer, .sleeper = &sleeper};
  std::ostringstream out, err;
  EXPECT_EQ(RunZvk(On({"info"}), out, err, env), 1);
  EXPECT_EQ(err.str(), "zvk: module not reachable at 127.0.0.1:" + std::to_string(Port()) +
                           ": no answer within 3 s (Connect Timeout)\n");
  EXPECT_TRUE(module.frames.empty());
}

TEST_F(cliZvk, HostSetsTheSubnetThatTheConnectionCheckLooksFor) {
  StartModule(sim::Model::Qn6);
  hosts.adapter_scans = {{{"eth0", "127.0.0.9"}, {"wlan0", "127.0.0.5"}}};
  hosts.wireless_scans = {{{"wlan0", true}}};
  Result r = Run(On({"info"}, /*skip_wifi_check=*/false));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Frames(), std::vector<Bytes>{kGetDevice});
}

struct FailCase {
  const char* name;
  std::optional<sim::Model> model;  // none: nothing listens on the port
  std::function<void(sim::Simulator*, test::FakeHostInterfaces&)> arrange;
  std::vector<std::string> args;
  bool skip_wifi_check;
  const char* reason;  // part of the last line on standard error
  int frames;          // frames the module receives; -1: at least one
};

TEST_F(cliZvk, FailuresExitOneAndSayWhyInOneLine) {
  using sim::Fault;
  using sim::Model;
  auto none = [](sim::Simulator*, test::FakeHostInterfaces&) {};
  auto fault = [](Fault f, std::uint8_t code, int count = 1) {
    return [=](sim::Simulator* s, test::FakeHostInterfaces&) { s->InjectFault(f, count, code); };
  };
  const FailCase cases[] = {
      {"module absent",
       std::nullopt,
       none,
       {"info"},
       true,
       // The window's status text stays; the system's reason comes before it.
       ": connection refused (Connect Timeout)",
       0},
      {"no interface in the subnet",
       Model::Qn6,
       none,
       {"info"},
       false,
       "module not found: no connected Wi-Fi interface has an address in 127.0.0.x",
       0},
      {"two interfaces in the subnet",
       Model::Qn6,
       [](sim::Simulator*, test::FakeHostInterfaces& h) {
         h.adapter_scans = {{{"wlan0", "127.0.0.5"}, {"wlan1", "127.0.0.6"}}};
         h.wireless_scans = {{{"wlan0", true}, {"wlan1", true}}};
       },
       {"read"},
       false,
       "module not found: more than one connected Wi-Fi interface",
       0},
      // Asked again by the retry step, three times in all.
      {"identity unanswered",
       Model::Qn6,
       fault(Fault::NoReply, 0x21, 3),
       {"info"},
       true,
       "no reply from the module to the identity request",
       3},
      {"identity refused",
       Model::Qn6,
       fault(Fault::Refuse, 0x21, 3),
       {"info"},
       true,
       "the module refused the identity request (status 0x15)",
       3},
      {"identity with a wrong signature",
       Model::Qn6,
       fault(Fault::WrongSignature, 0x21),
       {"info"},
       true,
       "does not start with the frame signature",
       1},
      {"unknown model",
       Model::Qn6,
       [](sim::Simulator* s, test::FakeHostInterfaces&) { s->SetModelCode(0x00); },
       {"info"},
       true,
       "unsupported module: model code 0x00",
       1},
      {"other address",
       Model::Qn6,
       [](sim::Simulator* s, test::FakeHostInterfaces&) {
         s->SetReportedAddress({10, 0, 0, 9});
       },
       {"locate"},
       true,
       "the module reports the address 10.0.0.9, not 127.0.0.1",
       1},
      {"data poll unanswered",
       Model::Km3,
       fault(Fault::NoReply, 0xD8),
       {"read", "--csv"},
       true,
       "no reply from the module to the data poll",
       2},
      {"data poll refused",
       Model::Qn6,
       fault(Fault::Refuse, 0xD8),
       {"read"},
       true,
       "the module refused the data poll",
       2},
      {"locator refused",
       Model::Qn6,
       fault(Fault::Refuse, 0x1D, 3),
       {"locate"},
       true,
       "the module refused the locator command",
       -1},
      {"range refused",
       Model::Km3,
       fault(Fault::Refuse, 0xD6),
       {"set-range", "AI0", "1"},
       true,
       "the module refused the range setting",
       2},
      {"sampling unanswered",
       Model::Km3,
       fault(Fault::NoReply, 0xD6),
       {"set-sampling", "fast"},
       true,
       "no reply from the module to the sampling setting",
       2},
      {"thermistor setting unanswered",
       Model::Qn6,
       fault(Fault::NoReply, 0xD7),
       {"set-unit", "TH0", "F"},
       true,
       "no reply from the module to the thermistor setting",
       2},
      {"thermistor setting refused",
       Model::Qn6,
       fault(Fault::Refuse, 0xD7),
       {"set-sensor", "TH0", "61"},
       true,
       "the module refused the thermistor setting",
       2},
      {"offset beyond the spin edit",
       Model::Qn6,
       none,
       {"set-offset", "TH0", "128"},
       true,
       "input refused: the TH0 offset is -127 to 127, not 128; nothing sent",
       0},
      {"range code without an item",
       Model::Km3,
       none,
       {"set-range", "AI4", "4"},
       true,
       "input refused: the AI4 range box has no code 4 (0 to 3); nothing sent",
       0},
      {"analog setting on the thermistor module",
       Model::Qn6,
       none,
       {"set-sampling", "fast"},
       true,
       "set-sampling needs the voltage module",
       1},
      {"thermistor setting on the voltage module",
       Model::Km3,
       none,
       {"set-offset", "TH0", "1"},
       true,
       "set-offset needs the thermistor module",
       1},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    hosts = test::FakeHostInterfaces();
    if (c.model) StartModule(*c.model);
    c.arrange(sim.get(), hosts);
    const int connects_before = network.connects;

    Result r = Run(On(c.args, c.skip_wifi_check));

    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const auto lines = r.ErrLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("zvk: ", 0), 0u) << lines.back();
    EXPECT_NE(lines.back().find(c.reason), std::string::npos) << lines.back();
    if (c.frames == -1) {
      EXPECT_FALSE(Frames().empty());
    } else if (sim) {
      EXPECT_EQ(Frames().size(), static_cast<std::size_t>(c.frames));
    }
    if (c.frames == 0 && c.model) {
      EXPECT_EQ(network.connects, connects_before);
    }
    if (sim) sim->Stop();
    sim.reset();
  }
}

TEST_F(cliZvk, ModuleNotFoundShowsTheWindowsBoxBeforeTheReason) {
  StartModule(sim::Model::Qn6);
  Result r = Run(On({"info"}, /*skip_wifi_check=*/false));
  EXPECT_EQ(r.status, 1);
  const auto lines = r.ErrLines();
  ASSERT_EQ(lines.size(), 3u) << r.err;
  EXPECT_EQ(lines[0], "Device not found");
  EXPECT_EQ(lines[1], "Please check device whether in AP mode!");
}

TEST_F(cliZvk, UsageErrorsExitTwoBeforeAnythingIsSent) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"info", "extra"},
      {"frobnicate"},
      {"--skip-wifi-check", "info"},
      {"--host", "10.0.0.", "--skip-wifi-check", "info"},
      {"--host", "localhost", "info"},
      {"--host", "127.0.0.1", "--port", "0", "info"},
      {"--host", "127.0.0.1", "--port", "65536", "info"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "read", "--count", "0"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "read", "--interval", "-1"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "read", "--interval", "inf"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-range", "AI5", "1"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-range", "TH1", "1"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-range", "AI1", "one"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-sampling", "slow"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-sensor", "TH8", "60"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-sensor", "TH1", "6G"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-sensor", "TH1", "160"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-unit", "TH1", "K"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-offset", "TH1", "1.5"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "set-offset", "TH1"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    Result r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const auto lines = r.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("zvk: ", 0), 0u) << lines[0];
  }
  EXPECT_EQ(network.connects, 0);
}

TEST_F(cliZvk, MalformedArgumentsAreNamedAndNothingIsSentToTheModuleThere) {
  StartModule(sim::Model::Km3);
  const std::string port = std::to_string(Port());
  const std::string big(100000, 'x');
  const std::string shown = big.substr(0, 40) + "... (100000 bytes)";
  struct Case {
    std::vector<std::string> args;
    std::string line;  // all of standard error
  };
  const Case cases[] = {
      {On({"set-range", "AI0", ""}),
       "zvk: set-range: the range code must be a whole number, not ''"},
      {On({"set-range", "AI0", "0x1"}),
       "zvk: set-range: the range code must be a whole number, not '0x1'"},
      {On({"set-range", "AI0", " 1"}),
       "zvk: set-range: the range code must be a whole number, not ' 1'"},
      {On({"set-offset", "TH1", ""}), "zvk: set-offset: the offset must be a whole number, not ''"},
      {On({"set-offset", "TH1", "1e1"}),
       "zvk: set-offset: the offset must be a whole number, not '1e1'"},
      {On({"read", "--interval", ""}), "zvk: read: --interval must be a number, not ''"},
      {On({"read", "--interval", "nan"}), "zvk: read: --interval must be a number, not 'nan'"},
      {On({"read", "--interval", "0x10"}), "zvk: read: --interval must be a number, not '0x10'"},
      {On({"read", "--interval", "1e10"}),
       "zvk: read: --interval must be 0 to 86400 seconds (a day), not 1e10"},
      {On({"read", "--interval", "86400.001"}),
       "zvk: read: --interval must be 0 to 86400 seconds (a day), not 86400.001"},
      {On({"read", "--interval", "1e400"}), "zvk: read: --interval is out of range: '1e400'"},
      {On({"read", "--count", ""}), "zvk: read: --count must be a whole number, not ''"},
      {{"--host", "127.0.0.1", "--port", "", "--skip-wifi-check", "info"},
       "zvk: --port must be a whole number, not ''"},
      {{"--host", "127.0.0.1", "--port", "0x" + port, "--skip-wifi-check", "info"},
       "zvk: --port must be a whole number, not '0x" + port + "'"},
      {On({"no-such-command"}), "zvk: unknown command 'no-such-command' (see zvk --help)"},
      {{big}, "zvk: unknown command '" + shown + "' (see zvk --help)"},
      {On({"set-sampling", big}),
       "zvk: set-sampling: the mode is normal or fast, not '" + shown + "'"},
      {On({"set-offset", big, "1"}),
       "zvk: set-offset: the channel is TH0 to TH7, not '" + shown + "'"},
      {{"--host", big, "info"},
       "zvk: --host '" + shown +
           "': not a module address (four numbers 0 to 255 with dots between them)"},
      // Some tools read a leading zero as octal: no module address has one, here as in an
      // inventory.
      {{"--host", "127.000.0.1", "--skip-wifi-check", "info"},
       "zvk: --host '127.000.0.1': not a module address (four numbers 0 to 255 with dots "
       "between them)"},
      // Beyond any integer: refused, never wrapped or clamped into range.
      {On({"set-offset", "TH0", "18446744073709551621"}),
       "zvk: set-offset: the offset is out of range: '18446744073709551621'"},
      {On({"--" + big, "info"}), "zvk: The following argument was not expected: --" +
                                     big.substr(0, 38) + "... (100002 bytes) (see zvk --help)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Result r = Run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.line + "\n");
  }
  EXPECT_EQ(Frames(), std::vector<Bytes>{});
  EXPECT_EQ(network.connects, 0);
}

TEST_F(cliZvk, HelpListsTheCommandsAndEachCommandsArguments) {
  Result top = Run({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.err, "");
  for (const char* option : {"--host", "--port", "--skip-wifi-check", "--yes", "--verbose"})
    EXPECT_NE(top.out.find(option), std::string::npos) << option;
  for (const CommandEntry& entry : CommandTable())
    EXPECT_NE(top.out.find(entry.name), std::string::npos) << entry.name;

  Result version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("zvk ", 0), 0u) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;

  Result read = Run({"read", "--help"});
  EXPECT_EQ(read.status, 0);
  for (const char* option : {"Usage: zvk read", "--count", "--interval", "--csv"})
    EXPECT_NE(read.out.find(option), std::string::npos) << option;
  Result offset = Run({"set-offset", "--help"});
  EXPECT_EQ(offset.status, 0);
  EXPECT_NE(offset.out.find("-127 to 127"), std::string::npos) << offset.out;
  EXPECT_EQ(network.connects, 0);
}

TEST_F(cliZvk, VerboseCopiesLogAndStatusLinesInTheirOrder) {
  StartModule(sim::Model::Qn6);
  Result quiet = Run(On({"locate"}));
  EXPECT_EQ(quiet.err, "");

  Result r = Run(On({"--verbose", "locate"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = r.ErrLines();
  for (const std::string& line : lines)
    EXPECT_TRUE(line.rfind("log: ", 0) == 0 || line.rfind("status: ", 0) == 0) << line;
  std::vector<std::string> milestones{"status: Change IP => 127.0.0.1", "status: Get Device",
                                      "log: QN6_Ref_Val=>0xC1BF", "status: Set Locator done!"};
  auto at = lines.begin();
  for (const std::string& milestone : milestones) {
    at = std::find(at, lines.end(), milestone);
    EXPECT_NE(at, lines.end()) << milestone << " missing or out of order in\n" << r.err;
  }
}

// Standard output on a full disk: every write fails, with the reason the system gives.
class FullDisk final : public std::streambuf, public WriteErrorSource {
 public:
  int write_error() const override { return ENOSPC; }

 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

// `zvk scan --csv > plant.csv` on a full disk: what the module said is no success when nobody
// got it.
TEST_F(cliZvk, OutputThatCannotBeWrittenIsAFailureWithItsReason) {
  StartModule(sim::Model::Km3);
  const std::string port = std::to_string(Port());
  const std::vector<std::string> cases[] = {
      On({"info"}),
      On({"read"}),
      On({"read", "--csv", "--count", "2", "--interval", "0.1"}),
      On({"backup", "-"}),
      {"--port", port, "scan", "127.0.0.1/32", "--csv"},
      {"--port", port, "scan", "127.0.0.1/32"},
      {"--help"},
  };
  for (const std::vector<std::string>& args : cases) {
    std::string command;
    for (const std::string& arg : args) command += arg + " ";
    SCOPED_TRACE(command);
    FullDisk full;
    std::ostream out(&full);
    std::ostringstream err;
    CliEnv env{.network = network, .hosts = &hosts, .sleeper = &sleeper};
    EXPECT_EQ(RunZvk(args, out, err, env), kExitFailed) << err.str();
    const std::string reason = "zvk: cannot write standard output: No space left on device\n";
    EXPECT_TRUE(err.str().ends_with(reason)) << err.str();
    EXPECT_EQ(err.str().find(reason), err.str().size() - reason.size()) << "said once";
  }
  // A long run stops polling at the first rows nobody got.
  sim->ClearFrames();
  FullDisk full;
  std::ostream out(&full);
  std::ostringstream err;
  CliEnv env{.network = network, .hosts = &hosts, .sleeper = &sleeper};
  EXPECT_EQ(RunZvk(On({"read", "--csv", "--count", "100", "--interval", "0"}), out, err, env),
            kExitFailed);
  EXPECT_EQ(Frames().size(), 2u) << "the identity request and one poll";
  // Written output is no failure.
  EXPECT_EQ(Run(On({"info"})).status, kExitOk);
}

}  // namespace
}  // namespace zvk::cli
