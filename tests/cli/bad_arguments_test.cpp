// Bad text in every argument of `zvk`: each kind ends in one clear line naming the argument (after
// the window's own box, where the window shows one) and a failing exit status, and sends nothing
// to the module but, for a command checked by its window, the identity request that opening the
// window makes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/zvk_cli.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"
#include "util/message_text.h"

namespace zvk::cli {
namespace {

const std::string kLong(100000, 'x');
const std::vector<std::uint8_t> kIdentityRequest{0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

struct Kind {
  const char* name;
  std::string text;
};
// The texts an SSID or a location takes as they are.
const std::vector<std::string> kTexts = {"   ", "xyz", "99999999999999999999999", "-5",
                                         "\u00E9t\u00E9"};

const Kind kKinds[] = {
    {"empty", ""},
    {"spaces", "   "},
    {"letters", "xyz"},
    {"huge number", "99999999999999999999999"},
    {"negative number", "-5"},
    {"outside the code page", "\u4E2D\u6587"},
    {"accented", "\u00E9t\u00E9"},
    {"over-long", kLong},
};

// One argument: the command line with "@" where the bad text goes ("%" for a file in the
// temporary folder, "&" for one there that exists), and the name the error line must give (in any
// case). Commands that ask before they change the module are answered Yes (--yes): a bad text must
// be refused by its own check.
struct Slot {
  std::vector<std::string> args;
  const char* named;
  std::vector<std::string> valid;  // kinds of text this argument takes as they are
  bool window_checked = false;     // checked by the setup window, once the module is identified
};

const Slot kSlots[] = {
    {{"--host", "@", "--skip-wifi-check", "info"}, "--host", {}},
    {{"--port", "@", "info"}, "--port", {}},
    // A count beyond 64 bits is refused, not read as the largest one.
    {{"read", "--count", "@"}, "--count", {}},
    {{"read", "--interval", "@"}, "--interval", {}},
    {{"set-range", "@", "1"}, "channel", {}},
    {{"set-range", "AI0", "@"}, "range", {}},
    {{"set-sampling", "@"}, "mode", {}},
    {{"set-sensor", "@", "60"}, "channel", {}},
    {{"set-sensor", "TH0", "@"}, "sensor type", {}},
    {{"set-unit", "@", "C"}, "channel", {}},
    {{"set-unit", "TH0", "@"}, "unit", {}},
    {{"set-offset", "@", "1"}, "channel", {}},
    {{"set-offset", "TH0", "@"}, "offset", {"-5"}},
    {{"log", "@", "--count", "1"},
     "record to",
     {"   ", "xyz", "99999999999999999999999", "-5", "\u4E2D\u6587", "\u00E9t\u00E9"}},
    {{"log", "%", "--interval", "@"}, "--interval", {}},
    {{"log", "%", "--duration", "@"}, "--duration", {}},
    {{"log", "%", "--count", "@"}, "--count", {}},
    {{"setup", "ap", "--ssid", "@", "--key", "12345678"}, "ssid", kTexts, true},
    {{"setup", "ap", "--ssid", "zVK", "--key", "@"}, "key", {}, true},
    {{"setup", "station", "--ssid", "@", "--type", "wpa", "--key", "12345678"},
     "ssid",
     kTexts,
     true},
    {{"setup", "station", "--ssid", "zVK", "--type", "wpa", "--key", "@"}, "key", {}, true},
    {{"setup", "station", "--ssid", "zVK", "--type", "@"}, "--type", {}, true},
    {{"setup", "static-ip", "@", "255.255.255.0", "192.168.1.1"}, "ip", {}, true},
    {{"setup", "static-ip", "192.168.1.10", "@", "192.168.1.1"}, "mask", {}, true},
    {{"setup", "static-ip", "192.168.1.10", "255.255.255.0", "@"}, "gateway", {}, true},
    {{"setup", "web-key", "@"}, "web key", {"   ", "xyz", "-5", "\u00E9t\u00E9"}, true},
    {{"setup", "location", "@"}, "location", kTexts, true},
    {{"setup", "modbus", "@", "30"}, "modbus port", {}, true},
    {{"setup", "modbus", "502", "@"}, "timeout", {}, true},
    {{"wifi-mode", "@"}, "mode", {}},
    {{"write-file", "@", "&"}, "file name", {"xyz", "99999999999999999999999", "-5"}},
    {{"write-file", "/local/x.cfg", "@"}, "cannot read", {}},
    {{"delete-file", "@"}, "file name", {"xyz", "99999999999999999999999", "-5"}},
    {{"firmware", "@"}, "cannot open", {}},
    {{"calibrate", "@"}, "channel", {}},
    {{"reset-ref", "@"}, "channel", {}},
    {{"calibrate-th", "@"}, "argument", {}},
    {{"user-curve", "@", "--hi", "100:6800", "--mid", "25:100000", "--low", "0:326500"},
     "curve",
     {}},
    {{"user-curve", "0", "--hi", "@", "--mid", "25:100000", "--low", "0:326500"}, "--hi", {}},
};

TEST(cliBadArguments, EveryArgumentRefusesEveryKindOfBadTextInOneLineAndSendsNothing) {
  sim::Options options;
  sim::Simulator sim(options);
  sim.Start();
  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  const std::filesystem::path recording =
      std::filesystem::temp_directory_path() / "zvk-bad-arguments.csv";
  const std::filesystem::path local =
      std::filesystem::temp_directory_path() / "zvk-bad-arguments-content.bin";
  std::ofstream(local) << "content";
  for (const Slot& slot : kSlots) {
    for (const Kind& kind : kKinds) {
      if (std::find(slot.valid.begin(), slot.valid.end(), kind.text) != slot.valid.end()) continue;
      std::vector<std::string> args{"--host", "127.0.0.1", "--port", std::to_string(sim.Port()),
                                    "--skip-wifi-check"};
      args.push_back("--yes");
      for (const std::string& a : slot.args)
        args.push_back(a == "@"   ? kind.text
                       : a == "%" ? recording.string()
                       : a == "&" ? local.string()
                                  : a);
      // The slot's own option replaces the default one given above.
      if (slot.args[0] == "--host") args.erase(args.begin(), args.begin() + 2);
      if (slot.args[0] == "--port") args.erase(args.begin() + 2, args.begin() + 4);
      SCOPED_TRACE(std::string(slot.named) + ", " + kind.name);

      const int connects = network.connects;
      CliEnv env{network, &hosts, nullptr};
      std::ostringstream out, err;
      const int status = RunZvk(args, out, err, env);

      EXPECT_NE(status, 0);
      // Standard output holds at most the window's box (the Modbus boxes have no error icon).
      EXPECT_LE(out.str().size(), 200u) << out.str();
      // The window's box, where the window shows one, then the reason in one line.
      const std::string e = err.str();
      ASSERT_FALSE(e.empty());
      EXPECT_EQ(e.back(), '\n');
      const std::size_t last = e.rfind('\n', e.size() - 2);
      const std::string line = e.substr(last == std::string::npos ? 0 : last + 1);
      EXPECT_EQ(line.rfind("zvk: ", 0), 0u) << e;
      EXPECT_NE(Lower(line).find(slot.named), std::string::npos) << line;
      EXPECT_LE(line.size(), 200u) << line;
      EXPECT_LE(e.size(), 400u) << e;
      // Nothing reached the module; for a text the setup window checks, at most the identity
      // request that opening the window makes.
      if (!slot.window_checked) {
        EXPECT_EQ(network.connects, connects) << line;
      }
      for (const std::vector<std::uint8_t>& frame : sim.Frames())
        EXPECT_EQ(frame, kIdentityRequest) << line;
      sim.ClearFrames();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(recording));
  std::filesystem::remove(local);
  sim.Stop();
}

// An address that cannot be one is a typing error (exit 2), never "not reachable" (exit 1);
// a count beyond 64 bits is refused, not taken as the largest one.
TEST(cliBadArguments, MalformedHostOrHugeCountIsAUsageError) {
  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  const std::vector<std::vector<std::string>> cases = {
      {"--host", "999.1.1.1", "--skip-wifi-check", "info"},
      {"--host", "127.0.0.1\n", "--skip-wifi-check", "info"},
      {"--host", "127.0.0.1.5", "--skip-wifi-check", "info"},
      {"--host", "127..0.1", "--skip-wifi-check", "info"},
      {"--host", "127.0.0.1", "--skip-wifi-check", "read", "--count", "99999999999999999999"},
  };
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args[1] + " " + args.back());
    CliEnv env{network, &hosts, nullptr};
    std::ostringstream out, err;
    EXPECT_EQ(RunZvk(args, out, err, env), 2) << err.str();
    const std::string e = err.str();
    EXPECT_EQ(e.rfind("zvk: ", 0), 0u) << e;
    EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
  }
  EXPECT_EQ(network.connects, 0);
}

}  // namespace
}  // namespace zvk::cli
