// zvk firmware --version --model: a staged rollout over a fleet of 20 simulated modules, the
// canary first and then the batches, stopping at the first module that fails or does not come
// back with the new version, with a history to resume from.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fleet_fixture.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/simulator.h"

namespace zvk::cli {
namespace {

constexpr std::size_t kFleet = 20;

class firmwareRollout : public FleetTest {
 protected:
  // The protocol's waits, a 25th of their length: the module has the time it needs to take the
  // image's announce before the image comes, without the seconds of a real update.
  static void ProtocolWaitsScaledDown(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms / 25));
  }

  // 20 modules, each with a MAC of its own; `km3` lists the modules of the other model.
  void StartFleet(const std::set<std::size_t>& km3 = {}) {
    for (std::size_t i = 0; i < kFleet; ++i) {
      const int n = static_cast<int>(i) + 2;
      sim::Options options;
      options.model = km3.count(i) ? sim::Model::Km3 : sim::Model::Qn6;
      options.listen = "127.0.0." + std::to_string(n);
      options.unit = n;
      modules.push_back(std::make_unique<sim::Simulator>(options));
      modules.back()->Start();
      modules.back()->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(n)});
    }
    inventory = Inventory();
    sleeper.on_sleep = ProtocolWaitsScaledDown;
    image = WriteFile("app.bin", std::string("\x7F"
                                             "FW header ") +
                                     sim::kImageVersionTag + "01.13 and the code");
  }
  Result Roll(std::vector<std::string> extra) {
    std::vector<std::string> args{"--hosts",  inventory, "--skip-wifi-check", "--yes",
                                  "firmware", image,     "--version",         "1.13",
                                  "--model",  "qn6",     "--return-wait",     "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
  }
  // The command codes a module received.
  std::vector<std::uint8_t> Codes(std::size_t i) const {
    std::vector<std::uint8_t> codes;
    for (const auto& frame : modules[i]->Frames()) codes.push_back(frame.at(wire::kReplyCode));
    return codes;
  }
  bool OnlyIdentified(std::size_t i) const {
    const std::vector<std::uint8_t> codes = Codes(i);
    return !codes.empty() && std::all_of(codes.begin(), codes.end(),
                                         [](std::uint8_t c) { return c == wire::CMD_GET_DEVICE; });
  }
  bool Rebooted(std::size_t i) const {
    const std::vector<std::uint8_t> codes = Codes(i);
    return std::count(codes.begin(), codes.end(), wire::CMD_RESET_MODULE) == 1;
  }
  // The result table's row of module i: its result word and message.
  std::pair<std::string, std::string> Row(const Result& r, std::size_t i) const {
    for (const std::string& line : r.OutLines()) {
      if (line.rfind(Label(i) + " ", 0) != 0) continue;  // not its row, or a progress line
      std::string rest = line.substr(Label(i).size());
      rest.erase(0, rest.find_first_not_of(' '));
      for (const char* word : {"updated", "skipped", "failed", "not touched"})
        if (rest.rfind(word, 0) == 0) {
          std::string message = rest.substr(std::string(word).size());
          message.erase(0, message.find_first_not_of(' '));
          return {word, message};
        }
    }
    return {};
  }
  // The position of the first output line that starts with module i's label and `what`.
  std::size_t LineOf(const Result& r, std::size_t i, const std::string& what) const {
    const std::vector<std::string> lines = r.OutLines();
    for (std::size_t k = 0; k < lines.size(); ++k)
      if (lines[k].rfind(Label(i) + ": " + what, 0) == 0) return k;
    ADD_FAILURE() << "no line \"" << Label(i) << ": " << what << "\"\n" << r.out;
    return 0;
  }

  std::string inventory, image;
};

TEST_F(firmwareRollout, CanaryThenBatchesEachWaveDoneBeforeTheNextSkippingWhatNeedsNothing) {
  StartFleet({3, 8});
  modules[11]->SetFirmware(0x01, 0x13);
  const Result r = Roll({"--batch", "5", "--history", PathOf("history.jsonl")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // The plan: the canary, then batches of 5 in the order listed; the rest skipped, saying why.
  std::vector<std::size_t> planned;
  for (std::size_t i = 0; i < kFleet; ++i)
    if (i != 3 && i != 8 && i != 11) planned.push_back(i);
  const std::vector<std::string> lines = r.OutLines();
  ASSERT_GT(lines.size(), kFleet);
  EXPECT_EQ(lines[0], "Plan: 17 of 20 modules to update to 01.13 (qn6), 3 skipped");
  const auto wave_of = [](std::size_t k) { return k == 0 ? 0 : (k - 1) / 5 + 1; };
  for (std::size_t k = 0; k < planned.size(); ++k) {
    const std::string wave = k == 0 ? "canary" : "batch " + std::to_string(wave_of(k));
    EXPECT_EQ(lines[1 + k].rfind("  " + Label(planned[k]), 0), 0u) << lines[1 + k];
    EXPECT_NE(lines[1 + k].find("01.12  " + wave), std::string::npos) << lines[1 + k];
  }
  EXPECT_EQ(Row(r, 3),
            std::make_pair(std::string("skipped"), std::string("model km3, the image is for qn6")));
  EXPECT_EQ(Row(r, 11), std::make_pair(std::string("skipped"), std::string("already runs 01.13")));
  for (const std::size_t i : {3, 8, 11}) EXPECT_TRUE(OnlyIdentified(i)) << i;

  // Every wave was over (each module back with the new version) before the next one started.
  for (std::size_t k = 0; k + 1 < planned.size(); ++k) {
    for (std::size_t later = k + 1; later < planned.size(); ++later) {
      if (wave_of(later) == wave_of(k)) continue;
      EXPECT_LT(LineOf(r, planned[k], "now runs 01.13"),
                LineOf(r, planned[later], "updating from 01.12"))
          << Label(planned[k]) << " before " << Label(planned[later]);
    }
  }
  for (const std::size_t i : planned) {
    EXPECT_EQ(Row(r, i), std::make_pair(std::string("updated"), std::string("now runs 01.13")));
    EXPECT_TRUE(Rebooted(i)) << i;
  }
  EXPECT_NE(r.out.find("17 updated, 3 skipped, 0 failed, 0 not touched\n"), std::string::npos);
  // One history line a module updated.
  const std::string history = ReadFile(PathOf("history.jsonl"));
  EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 17);
  EXPECT_NE(history.find("\"mac\":\"02:5A:51:36:00:02\",\"address\":\"" + Label(0) +
                         "\",\"old\":\"01.12\",\"new\":\"01.13\",\"result\":\"updated\""),
            std::string::npos)
      << history;
}

TEST_F(firmwareRollout, DryRunSendsNothingButIdentityRequests) {
  StartFleet({5});
  const Result r = Roll({"--dry-run", "--history", PathOf("history.jsonl")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Plan: 19 of 20 modules"), std::string::npos) << r.out;
  EXPECT_EQ(r.OutLines().back(), "Dry run: nothing sent but identity requests");
  for (std::size_t i = 0; i < kFleet; ++i) {
    EXPECT_TRUE(OnlyIdentified(i)) << i;
    EXPECT_TRUE(modules[i]->Streams().empty()) << i;
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("history.jsonl")));
}

// A module of the first batch fails: the batch finishes, no later module is touched, and the
// rollout ends with status 1.
TEST_F(firmwareRollout, StopsAfterTheWaveOfTheFirstModuleThatFailsOrDoesNotComeBack) {
  struct Case {
    sim::Fault fault;
    std::string message;
  };
  const Case cases[] = {
      {sim::Fault::WrongSum, "the module's checksum of the stored image is "},
      {sim::Fault::NoReturn, "did not come back within 5 s after the reboot ("},
      {sim::Fault::OldFirmware, "came back running 01.12, not 01.13"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::FaultName(c.fault));
    StartFleet();
    modules[3]->InjectFault(c.fault, 1,
                            c.fault == sim::Fault::WrongSum
                                ? std::uint8_t{wire::CMD_GET_IMAGE_CHECKSUM}
                                : std::uint8_t{0});
    const Result r = Roll({"--canary", "2", "--batch", "4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.LastErrLine(),
              "zvk: the rollout stopped at the first failure; the modules not touched keep their "
              "firmware");
    const auto [word, message] = Row(r, 3);
    EXPECT_EQ(word, "failed");
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
    for (const std::size_t i : {0, 1, 2, 4, 5}) EXPECT_EQ(Row(r, i).first, "updated") << i;
    for (std::size_t i = 6; i < kFleet; ++i) {
      EXPECT_EQ(Row(r, i), std::make_pair(std::string("not touched"),
                                          std::string("the rollout stopped after a failure")));
      EXPECT_TRUE(OnlyIdentified(i)) << i;
    }
    EXPECT_NE(r.out.find("5 updated, 0 skipped, 1 failed, 14 not touched\n"), std::string::npos);
    for (const auto& module : modules) module->Stop();
    modules.clear();
  }
}

TEST_F(firmwareRollout, ResumeSkipsWhatTheHistoryHoldsAsUpdated) {
  StartFleet();
  modules[1]->InjectFault(sim::Fault::WrongSum, 1, wire::CMD_GET_IMAGE_CHECKSUM);
  const std::string history = PathOf("history.jsonl");
  ASSERT_EQ(Roll({"--batch", "3", "--history", history}).status, 1);
  // Modules 0 (the canary), 2 and 3 were updated; 1 failed.
  for (const auto& module : modules) module->ClearFrames();

  const Result r = Roll({"--batch", "3", "--history", history, "--resume", history});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const std::size_t i : {0, 2, 3}) {
    EXPECT_EQ(Row(r, i),
              std::make_pair(std::string("skipped"), std::string("updated before (history)")));
    EXPECT_TRUE(OnlyIdentified(i)) << i;
  }
  for (std::size_t i = 4; i < kFleet; ++i) EXPECT_EQ(Row(r, i).first, "updated") << i;
  EXPECT_EQ(Row(r, 1).first, "updated");
  EXPECT_LT(LineOf(r, 1, "now runs"), LineOf(r, 4, "updating"));  // the new canary
  // Both runs' lines, the failure's reason among them.
  const std::string lines = ReadFile(history);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4 + 17);
  EXPECT_NE(lines.find("\"result\":\"failed\",\"reason\":\"the module's checksum"),
            std::string::npos);
}

// Ctrl+C while the canary waits for its module to come back: the canary finishes, the pause
// before the first batch ends at once and no batch starts.
TEST_F(firmwareRollout, InterruptFinishesTheModuleUnderWayAndStartsNoBatch) {
  StartFleet();
  bool raised = false;
  sleeper.on_sleep = [&](int ms) {
    ProtocolWaitsScaledDown(ms);
    if (ms == 1000 && !raised) {
      raised = true;
      std::raise(SIGINT);
    }
  };
  const auto started = std::chrono::steady_clock::now();
  const Result r = Roll({"--pause", "600"});
  sleeper.on_sleep = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Row(r, 0).first, "updated");
  for (std::size_t i = 1; i < kFleet; ++i) {
    EXPECT_EQ(Row(r, i), std::make_pair(std::string("not touched"),
                                        std::string("the rollout was stopped before its turn")));
    EXPECT_TRUE(OnlyIdentified(i)) << i;
  }
  EXPECT_NE(r.err.find("zvk: interrupted by SIGINT: the modules under way finished"),
            std::string::npos)
      << r.err;
}

TEST_F(firmwareRollout, RefusedBeforeAnythingIsSent) {
  StartFleet();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // in the last line (an argument in it may be shortened)
  };
  const std::string empty = WriteFile("empty.bin", "");
  const Case cases[] = {
      {{"--hosts", inventory, "--yes", "firmware", empty, "--version", "1.13", "--model", "qn6"},
       1,
       " is empty, Abort!; nothing sent"},
      {{"--hosts", inventory, "firmware", image, "--version", "1.13"},
       2,
       "zvk: a staged rollout needs both --version and --model"},
      {{"--hosts", inventory, "firmware", image, "--version", "x", "--model", "qn6"},
       2,
       "zvk: --version x: not a version such as 01.13"},
      {{"--yes", "firmware", image, "--version", "1.13", "--model", "qn6"},
       2,
       "zvk: firmware with these options needs --host or --hosts"},
      {{"--host", "127.0.0.2", "--yes", "firmware", image, "--batch", "3"},
       2,
       "zvk: --batch belongs to a staged rollout: give --version and --model"},
#ifndef _WIN32
      // A device is no history file (Windows has no /dev/null to name).
      {{"--hosts", inventory, "--yes", "firmware", image, "--version", "1.13", "--model", "qn6",
        "--history", "/dev/null"},
       1,
       "zvk: input refused: --history: "},
#endif
      {{"--hosts", inventory, "--yes", "firmware", image, "--version", "1.13", "--model", "qn6",
        "--resume", PathOf("none.jsonl")},
       1,
       ": no such file; nothing sent"},
      {{"--hosts", inventory, "--yes", "firmware", image, "--version", "1.13", "--model", "qn6",
        "--resume", inventory},
       1,
       ": line 1 is no rollout history entry; nothing sent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.LastErrLine().find(c.err), std::string::npos) << r.err;
  }
  for (std::size_t i = 0; i < kFleet; ++i) EXPECT_TRUE(modules[i]->Frames().empty()) << i;
}

}  // namespace
}  // namespace zvk::cli
