// What zvk prints, byte for byte, for a fixed set of commands against still simulated modules of
// both models: the outputs recorded in tests/cli/recorded/ are the reference that changes inside
// the program must keep. Times, ports and the test's own folder are the only parts that vary from
// run to run; they are replaced by TIME, PORT and DIR before the comparison.
//
// After an intended change of an output, ZVK_RECORD_OUTPUTS=1 writes the files anew; the diff
// then shows the change for review.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fleet_fixture.h"

namespace zvk::cli {

class RecordedOutputs;

// One command of the set: its name (the recorded file's), its arguments, and a file it writes,
// recorded after its output.
struct Recorded {
  const char* name;
  std::function<std::vector<std::string>(RecordedOutputs&)> args;
  const char* file = nullptr;
};

class RecordedOutputs : public FleetTest {
 public:
  using FleetTest::PathOf;
  using FleetTest::ReadFile;
  using FleetTest::WriteFile;

  void StartFleet() {
    AddModule(sim::Model::Km3);
    AddModule(sim::Model::Qn6);
  }
  // The module at index i, reached alone.
  std::vector<std::string> On(std::size_t i, std::vector<std::string> args) {
    std::vector<std::string> all{"--host", "127.0.0." + std::to_string(i + 2), "--port",
                                 std::to_string(modules[i]->Port()), "--skip-wifi-check"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  std::vector<std::string> OnAll(std::vector<std::string> args) {
    std::vector<std::string> all{"--hosts", Inventory(), "--skip-wifi-check"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  // Times, ports and this test's folder as the same words on every run.
  std::string Steady(std::string text) {
    static const std::regex iso_time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?([+-]\d\d:\d\d|Z)?)");
    text = std::regex_replace(text, iso_time, "TIME");
    for (const auto& module : modules) {
      const std::regex port(":" + std::to_string(module->Port()) + "\\b");
      text = std::regex_replace(text, port, ":PORT");
    }
    const std::string dir = std::filesystem::path(PathOf("x")).parent_path().string();
    for (std::size_t at; (at = text.find(dir)) != std::string::npos;)
      text.replace(at, dir.size(), "DIR");
    return text;
  }

  void Check(const Recorded& c) {
    const Result r = Run(c.args(*this));
    std::string shown = "$ status " + std::to_string(r.status) + "\n$ standard output\n" + r.out +
                        "$ standard error\n" + r.err;
    if (c.file) shown += std::string("$ file ") + c.file + "\n" + ReadFile(PathOf(c.file));
    shown = Steady(shown);

    const std::filesystem::path recorded =
        std::filesystem::path(ZVK_RECORDED_OUTPUTS) / (std::string(c.name) + ".txt");
    const char* record = std::getenv("ZVK_RECORD_OUTPUTS");
    if (record && std::string(record) == "1") {
      std::ofstream(recorded, std::ios::binary) << shown;
      return;
    }
    std::ifstream in(recorded, std::ios::binary);
    ASSERT_TRUE(in) << "no recorded output " << recorded << " (ZVK_RECORD_OUTPUTS=1 writes it)";
    std::ostringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(shown, expected.str()) << c.name << ": the output differs from " << recorded;
  }
};

TEST_F(RecordedOutputs, EveryCommandPrintsWhatWasRecorded) {
  StartFleet();
  const std::vector<Recorded> cases = {
      {"info-km3", [](RecordedOutputs& t) { return t.On(0, {"info"}); }},
      {"info-qn6", [](RecordedOutputs& t) { return t.On(1, {"info"}); }},
      {"read-km3", [](RecordedOutputs& t) { return t.On(0, {"read"}); }},
      {"read-qn6", [](RecordedOutputs& t) { return t.On(1, {"read"}); }},
      {"read-csv-km3",
       [](RecordedOutputs& t) {
         return t.On(0, {"read", "--csv", "--count", "3", "--interval", "0"});
       }},
      {"read-csv-qn6",
       [](RecordedOutputs& t) {
         return t.On(1, {"read", "--csv", "--count", "3", "--interval", "0"});
       }},
      {"log-km3",
       [](RecordedOutputs& t) {
         return t.On(0, {"log", t.PathOf("km3.csv"), "--count", "2", "--interval", "0"});
       },
       "km3.csv"},
      {"log-qn6",
       [](RecordedOutputs& t) {
         return t.On(1, {"log", t.PathOf("qn6.csv"), "--count", "2", "--interval", "0"});
       },
       "qn6.csv"},
      {"backup-km3",
       [](RecordedOutputs& t) {
         return t.On(0, {"backup", t.PathOf("km3.json")});
       },
       "km3.json"},
      {"backup-qn6",
       [](RecordedOutputs& t) {
         return t.On(1, {"backup", t.PathOf("qn6.json")});
       },
       "qn6.json"},
      // The other model's profile: refused before anything is written.
      {"restore-dry-run-other-model",
       [](RecordedOutputs& t) {
         return t.On(1, {"restore", t.PathOf("km3.json"), "--dry-run"});
       }},
      {"restore-dry-run-qn6",
       [](RecordedOutputs& t) {
         return t.On(1, {"restore", t.PathOf("qn6.json"), "--dry-run"});
       }},
      // The same profile with another location: the diff of a dry run.
      {"restore-dry-run-diff",
       [](RecordedOutputs& t) {
         std::string profile = t.ReadFile(t.PathOf("qn6.json"));
         const std::string from = "Lab bench 1";
         profile.replace(profile.find(from), from.size(), "Boiler room");
         return t.On(1, {"restore", t.WriteFile("moved.json", profile), "--dry-run"});
       }},
      {"hosts-read", [](RecordedOutputs& t) { return t.OnAll({"read"}); }},
      {"hosts-read-csv",
       [](RecordedOutputs& t) {
         return t.OnAll({"read", "--csv", "--count", "2", "--interval", "0"});
       }},
      {"hosts-log",
       [](RecordedOutputs& t) {
         return t.OnAll({"log", t.PathOf("fleet.csv"), "--count", "2", "--interval", "0"});
       },
       "fleet.csv"},
  };
  for (const Recorded& c : cases) {
    SCOPED_TRACE(c.name);
    Check(c);
  }
}

// The scan finds the modules on one port; they listen on addresses of their own.
TEST_F(RecordedOutputs, TheScanPrintsWhatWasRecorded) {
  for (int n = 2; n <= 3; ++n) {
    sim::Options options;
    options.model = n == 2 ? sim::Model::Km3 : sim::Model::Qn6;
    options.listen = "127.0.0." + std::to_string(n);
    if (!modules.empty()) options.port = modules.front()->Port();
    modules.push_back(std::make_unique<sim::Simulator>(options));
    modules.back()->Start();
    modules.back()->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(n)});
  }
  const std::string port = std::to_string(modules.front()->Port());
  Check({"scan-csv", [port](RecordedOutputs&) {
           return std::vector<std::string>{"--port", port, "scan", "127.0.0.0/29", "--csv"};
         }});
  Check({"scan-table", [port](RecordedOutputs&) {
           return std::vector<std::string>{"--port", port, "scan", "127.0.0.0/29"};
         }});
}

}  // namespace zvk::cli
