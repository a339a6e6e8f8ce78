// Bad text in every argument of `zvk`: each kind gives one clear line naming the argument, a
// failing exit status, and sends nothing to the module.
#include <gtest/gtest.h>

#include <filesystem>
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

struct Kind {
  const char* name;
  std::string text;
};
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

// One argument: the command line with "@" where the bad text goes (and "%" for a file in the
// temporary folder), and the name the error line must give.
struct Slot {
  std::vector<std::string> args;
  const char* named;
  std::vector<std::string> valid;  // kinds of text this argument takes as they are
};

const Slot kSlots[] = {
    {{"--host", "@", "--skip-wifi-check", "info"}, "--host", {}},
    {{"--port", "@", "info"}, "--port", {}},
    // A count beyond 64 bits is read as the largest one: polls until the user stops them.
    {{"read", "--count", "@"}, "--count", {"99999999999999999999999"}},
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
    {{"log", "%", "--count", "@"}, "--count", {"99999999999999999999999"}},
};

TEST(cliBadArguments, EveryArgumentRefusesEveryKindOfBadTextInOneLineAndSendsNothing) {
  sim::Options options;
  sim::Simulator sim(options);
  sim.Start();
  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  const std::filesystem::path recording =
      std::filesystem::temp_directory_path() / "zvk-bad-arguments.csv";
  for (const Slot& slot : kSlots) {
    for (const Kind& kind : kKinds) {
      if (std::find(slot.valid.begin(), slot.valid.end(), kind.text) != slot.valid.end()) continue;
      std::vector<std::string> args{"--host", "127.0.0.1", "--port", std::to_string(sim.Port()),
                                    "--skip-wifi-check"};
      for (const std::string& a : slot.args)
        args.push_back(a == "@" ? kind.text : a == "%" ? recording.string() : a);
      // The slot's own option replaces the default one given above.
      if (slot.args[0] == "--host") args.erase(args.begin(), args.begin() + 2);
      if (slot.args[0] == "--port") args.erase(args.begin() + 2, args.begin() + 4);
      SCOPED_TRACE(std::string(slot.named) + ", " + kind.name);

      CliEnv env{network, &hosts, nullptr};
      std::ostringstream out, err;
      const int status = RunZvk(args, out, err, env);

      EXPECT_NE(status, 0);
      EXPECT_EQ(out.str(), "");
      const std::string e = err.str();
      ASSERT_FALSE(e.empty());
      const std::string line = e.substr(0, e.size() - 1);
      EXPECT_EQ(e.back(), '\n');
      EXPECT_EQ(line.find('\n'), std::string::npos) << e;
      EXPECT_EQ(line.rfind("zvk: ", 0), 0u) << line;
      EXPECT_NE(line.find(slot.named), std::string::npos) << line;
      EXPECT_LE(line.size(), 200u) << line;
      EXPECT_EQ(network.connects, 0) << line;
    }
  }
  EXPECT_TRUE(sim.Frames().empty());
  EXPECT_FALSE(std::filesystem::exists(recording));
  sim.Stop();
}

}  // namespace
}  // namespace zvk::cli
