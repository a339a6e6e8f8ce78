// zvk over an inventory of simulated modules: each module gets its run, one module's failure
// stops none of the others, the question is asked once before anything is sent, and the run
// ends with one result table.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/fleet_run.h"
#include "cli/term/stop_request.h"
#include "fleet_fixture.h"
#include "link/wire.h"
#include "sim/simulator.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint8_t> Codes(const sim::Simulator& module) {
  std::vector<std::uint8_t> codes;
  for (const Bytes& frame : module.Frames()) codes.push_back(frame.size() > 4 ? frame[4] : 0);
  return codes;
}

// The result table's rows: module, result, message.
std::vector<std::string> TableRows(const Result& r) {
  const std::vector<std::string> lines = r.OutLines();
  const auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("module ", 0) == 0 && line.find("result") != std::string::npos;
  });
  if (header == lines.end()) return {};
  return std::vector<std::string>(header + 1, lines.end());
}

// A row whose message starts with `message`.
bool RowIs(const std::string& row, const std::string& module, const std::string& result,
           const std::string& message) {
  std::istringstream in(row);
  std::string m, res;
  in >> m >> res;
  std::string rest;
  std::getline(in, rest);
  rest.erase(0, rest.find_first_not_of(' '));
  return m == module && res == result && rest.rfind(message, 0) == 0;
}

class fleetInventory : public FleetTest {};

TEST_F(fleetInventory, EachCommandReportsPerModuleAndOneFailureStopsNoOther) {
  for (int i = 0; i < 4; ++i) AddModule(sim::Model::Qn6);
  // The second module is gone: nothing listens on its port any more.
  modules[1]->Stop();
  const std::string inventory = Inventory();

  struct Case {
    std::vector<std::string> args;
    const char* ok_message;  // how the last line a module that succeeded printed starts
    std::function<void(const sim::Simulator&)> check;  // on every module that succeeded
  };
  const Case cases[] = {
      {{"info"}, "Modbus idle timeout: 120", nullptr},
      {{"read"}, "TH7 Disable", nullptr},
      {{"set-offset", "TH2", "-5"},
       "TH2 ",
       [](const sim::Simulator& m) { EXPECT_EQ(m.Snapshot().offsets[2], -5); }},
      {{"--yes", "setup", "location", "Tank 4"},
       "Manual Reboot to take effect!",
       [](const sim::Simulator& m) {
         EXPECT_EQ(m.File("/local/locate.cfg"), Bytes({'T', 'a', 'n', 'k', ' ', '4'}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    for (const auto& module : modules) module->ClearFrames();
    std::vector<std::string> args{"--hosts", inventory, "--skip-wifi-check"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::vector<std::string> rows = TableRows(r);
    ASSERT_EQ(rows.size(), 5u) << r.out;
    for (std::size_t i = 0; i < 4; ++i) {
      if (i == 1) {
        // The reason is the command's own: no connection could be made.
        EXPECT_TRUE(RowIs(rows[i], Label(i), "failed", "") &&
                    rows[i].find("(Connect Timeout)") != std::string::npos)
            << rows[i];
        continue;
      }
      EXPECT_TRUE(RowIs(rows[i], Label(i), "ok", c.ok_message)) << rows[i];
      EXPECT_EQ(Codes(*modules[i]).front(), wire::CMD_GET_DEVICE);
      if (c.check) c.check(*modules[i]);
    }
    EXPECT_EQ(rows[4], "3 of 4 modules succeeded");
    // Each module's output under its heading, in the inventory's order; the failure's reason
    // on standard error, named by its module.
    std::size_t at = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      at = r.out.find("== " + Label(i) + " ==\n", at);
      ASSERT_NE(at, std::string::npos) << r.out;
    }
    EXPECT_NE(r.err.find(Label(1) + ": zvk: "), std::string::npos) << r.err;
  }
}

TEST_F(fleetInventory, AllSucceedingExitsZeroWithHostsFromBothOptions) {
  AddModule(sim::Model::Km3);
  AddModule(sim::Model::Km3);
  AddModule(sim::Model::Km3);
  const std::string file =
      WriteFile("two.csv", "address,model,name,location,firmware,mac,signal,mode\n" + Label(1) +
                               ",zVK-KM3,x,Lab,V01.12,02:00,-61dBm,AP\n" + Label(2) +
                               ",zVK-KM3,y,Lab,V01.12,02:01,-61dBm,AP\n");
  const Result r =
      Run({"--host", Label(0), "--hosts", file, "--skip-wifi-check", "set-range", "AI1", "2"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> rows = TableRows(r);
  ASSERT_EQ(rows.size(), 4u) << r.out;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(RowIs(rows[i], Label(i), "ok", "AI1 range 2:-/+2.5V")) << rows[i];
    EXPECT_EQ(modules[i]->Snapshot().range_codes[1], 2);
  }
  EXPECT_EQ(rows[3], "3 of 3 modules succeeded");
}

TEST_F(fleetInventory, OneQuestionForAllBeforeAnythingIsSent) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Qn6);
  const std::string inventory = Inventory();
  struct Case {
    const char* answer;
    int status;
    bool sent;
  };
  for (const Case c : {Case{"n", 1, false}, Case{"y", 0, true}}) {
    SCOPED_TRACE(c.answer);
    int asked = 0;
    read_answer = [&]() -> std::optional<std::string> {
      ++asked;
      return c.answer;
    };
    const Result r = Run({"--hosts", inventory, "--skip-wifi-check", "reboot"});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(asked, 1);
    EXPECT_NE(r.out.find("reboot on 2 modules (" + Label(0) + ", " + Label(1) + "), execute?"),
              std::string::npos)
        << r.out;
    for (const auto& module : modules) {
      if (c.sent) {
        // The identity request and the reboot, which nobody waits for: the module may take it
        // in after the run has ended.
        EXPECT_TRUE(module->WaitForFrames(2, std::chrono::seconds(5)));
        EXPECT_EQ(Codes(*module), Bytes({wire::CMD_GET_DEVICE, wire::CMD_RESET_MODULE}));
      } else {
        EXPECT_TRUE(module->Frames().empty());
      }
      module->ClearFrames();
    }
  }
  // Without a terminal to ask on, nothing is sent either.
  read_answer = nullptr;
  const Result r = Run({"--hosts", inventory, "--skip-wifi-check", "reboot"});
  EXPECT_EQ(r.status, 2);
  for (const auto& module : modules) EXPECT_TRUE(module->Frames().empty());
}

TEST_F(fleetInventory, OneModuleRunsExactlyAsWithHost) {
  sim::Simulator& module = AddModule(sim::Model::Qn6);
  const std::string inventory = WriteFile("one.txt", "# just one\n" + Label(0) + "\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info"}, {"set-unit", "TH0", "X"}, {"--yes", "reboot"}}) {
    std::vector<std::string> by_host{"--host", "127.0.0.2", "--port", std::to_string(module.Port()),
                                     "--skip-wifi-check"};
    std::vector<std::string> by_file{"--hosts", inventory, "--skip-wifi-check"};
    by_host.insert(by_host.end(), args.begin(), args.end());
    by_file.insert(by_file.end(), args.begin(), args.end());
    const Result a = Run(by_host);
    const Result b = Run(by_file);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
  }
}

TEST_F(fleetInventory, BadInventoriesAndCommandsForOneModuleAreRefusedBeforeAnythingIsSent) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Qn6);
  const std::string inventory = Inventory();
  struct Case {
    std::vector<std::string> args;
    std::string reason;  // part of the line that says why
  };
  const Case cases[] = {
      {{"--hosts", WriteFile("bad.txt", Label(0) + "\nplc-7\n"), "info"},
       "line 2: 'plc-7' is not a module address"},
      {{"--hosts", WriteFile("twice.txt", Label(0) + "\n" + Label(0) + "\n"), "info"},
       "line 2: " + Label(0) + " is listed twice"},
      {{"--hosts", WriteFile("empty.txt", "# nobody\n"), "info"}, "no module listed"},
      {{"--hosts", PathOf("missing.txt"), "info"}, "cannot read the inventory"},
      {{"--host", Label(0), "--hosts", inventory, "info"}, "is also given with --host"},
      {{"--hosts", inventory, "--yes", "calibrate", "AI0"}, "calibrate runs on one module"},
      {{"--hosts", inventory, "backup", PathOf("p.json")}, "backup runs on one module"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--skip-wifi-check");
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
  for (const auto& module : modules) EXPECT_TRUE(module->Frames().empty());
}

// What the run does with each module beyond its own output: a usage error of a module's run is a
// failure, each module's output stays in its own section, and --verbose reaches every module.
TEST_F(fleetInventory, EachModulesOutcomeOutputAndVerboseLinesStayItsOwn) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Km3);
  const std::string inventory = Inventory();

  const Result usage = Run({"--hosts", inventory, "--skip-wifi-check", "scan", "127.0.0.1"});
  EXPECT_EQ(usage.status, 2) << usage.err;
  const std::vector<std::string> rows = TableRows(usage);
  ASSERT_EQ(rows.size(), 3u) << usage.out;
  for (std::size_t i = 0; i < 2; ++i)
    EXPECT_TRUE(RowIs(rows[i], Label(i), "failed", "scan looks for modules on ranges")) << rows[i];
  EXPECT_EQ(rows[2], "0 of 2 modules succeeded");

  const Result info = Run({"--hosts", inventory, "--skip-wifi-check", "--verbose", "info"});
  EXPECT_EQ(info.status, 0) << info.err;
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t from = info.out.find("== " + Label(i) + " ==\n");
    ASSERT_NE(from, std::string::npos) << info.out;
    const std::size_t to = info.out.find("\n== ", from + 1);
    const std::string section = info.out.substr(from, to - from);
    EXPECT_NE(section.find(i == 0 ? "Model: zVK-QN6" : "Model: zVK-KM3"), std::string::npos)
        << section;
    EXPECT_NE(section.find("Address: 127.0.0." + std::to_string(i + 2) + "\n"), std::string::npos)
        << section;
    EXPECT_NE(info.err.find(Label(i) + ": status: Get Device\n"), std::string::npos) << info.err;
  }
}

// A location is text anyone on the module's network may set. One that looks like an inventory
// line, in the scan's CSV, adds no module to a run built from that CSV.
TEST_F(fleetInventory, AModulesTextInTheScansCsvAddsNoModule) {
  sim::Simulator& module = AddModule(sim::Model::Qn6);
  sim::Simulator& elsewhere = AddModule(sim::Model::Qn6);
  module.SetLocation("\n" + Label(1) + "\n#");
  const std::string port = std::to_string(module.Port());
  const Result scan = Run({"--port", port, "scan", "127.0.0.2/32", "--csv"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  const std::string csv = WriteFile("scan.csv", scan.out);
  elsewhere.ClearFrames();

  const Result r = Run({"--hosts", csv, "--port", port, "--skip-wifi-check", "--yes", "setup",
                        "station", "--ssid", "Plant", "--key", "secret99", "--type", "wpa"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(module.File("/local/sta_key.cfg"), Bytes({'s', 'e', 'c', 'r', 'e', 't', '9', '9'}));
  EXPECT_TRUE(elsewhere.Frames().empty());
}

// `read --csv` over many modules is one CSV: one header with the channels of every model, a
// module column, a row per module and poll; a module that fails is said on standard error.
TEST_F(fleetInventory, ReadCsvOverManyModulesIsOneCsv) {
  AddModule(sim::Model::Km3);
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Qn6);
  modules[2]->Stop();
  const Result r = Run({"--hosts", Inventory(), "--skip-wifi-check", "read", "--csv", "--count",
                        "2", "--interval", "0"});
  EXPECT_EQ(r.status, 1) << r.err;
  const std::vector<std::string> lines = r.OutLines();
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0], "time,module,AI0,AI1,AI2,AI3,AI4,TH0,TH1,TH2,TH3,TH4,TH5,TH6,TH7");
  const std::regex km3("[0-9T:.+-]{29}," + Label(0) + "(,-?\\d+\\.\\d{4}){5},{8}");
  const std::regex qn6("[0-9T:.+-]{29}," + Label(1) + ",{5}(,[^,]+){8}");
  for (std::size_t poll = 0; poll < 2; ++poll) {
    EXPECT_TRUE(std::regex_match(lines[1 + 2 * poll], km3)) << lines[1 + 2 * poll];
    EXPECT_TRUE(std::regex_match(lines[2 + 2 * poll], qn6)) << lines[2 + 2 * poll];
  }
  EXPECT_NE(r.err.find(Label(2) + ": zvk: module not reachable at"), std::string::npos) << r.err;
}

// SIGTERM (as Ctrl+C) while a setup action runs on many modules, in the pause after the first
// announce was acknowledged: no further module starts; every module under way finishes its step
// (its file written whole, or nothing written when it was still being identified); the table
// says done, stopped or not started for each, and the run ends with status 1.
TEST_F(fleetInventory, ASignalStartsNoFurtherModuleAndTheOnesUnderWayFinishTheirStep) {
  // More modules than workers: some are certainly waiting for a turn when the signal comes.
  for (std::size_t i = 0; i < kFleetWorkers + 2; ++i) AddModule(sim::Model::Qn6);
  const std::string inventory = Inventory();
  int signals = 0;
  sleeper.on_sleep = [&](int) {
    if (signals++ == 0) std::raise(SIGTERM);
  };
  const Result r =
      Run({"--hosts", inventory, "--skip-wifi-check", "--yes", "setup", "location", "Tank 4"});
  sleeper.on_sleep = nullptr;
  EXPECT_EQ(r.status, 1) << r.err;
  const std::vector<std::string> rows = TableRows(r);
  ASSERT_EQ(rows.size(), modules.size() + 1) << r.out;
  std::size_t done = 0, not_started = 0;
  for (std::size_t i = 0; i < modules.size(); ++i) {
    SCOPED_TRACE(rows[i]);
    ASSERT_EQ(rows[i].rfind(Label(i) + " ", 0), 0u);
    const std::vector<std::uint8_t> codes = Codes(*modules[i]);
    const bool wrote = std::count(codes.begin(), codes.end(), wire::CMD_WRITE_FILE) > 0;
    if (rows[i].find(" ok ") != std::string::npos) {
      ++done;
      EXPECT_EQ(modules[i]->File("/local/locate.cfg"), Bytes({'T', 'a', 'n', 'k', ' ', '4'}));
    } else if (rows[i].find(" not started ") != std::string::npos) {
      ++not_started;
      EXPECT_TRUE(codes.empty());
    } else {
      EXPECT_NE(rows[i].find(" stopped "), std::string::npos);
      EXPECT_NE(rows[i].find("interrupted by SIGTERM after the identification"), std::string::npos);
      EXPECT_FALSE(wrote);
    }
  }
  EXPECT_GE(done, 1u);
  EXPECT_GE(not_started, 2u);
  EXPECT_EQ(rows.back(), std::to_string(done) + " of " + std::to_string(modules.size()) +
                             " modules succeeded, " + std::to_string(not_started) + " not started");
  EXPECT_EQ(r.ErrLines().back(),
            "zvk: interrupted by SIGTERM: the modules under way finished their step; " +
                std::to_string(not_started) + " of " + std::to_string(modules.size()) +
                " not started");
}

// A stop request while modules are polled over and over ends the wait between polls at once: each
// module stops after the polls it took, and the run says so.
TEST_F(fleetInventory, AStopRequestEndsRepeatedPollsAfterThePollsTaken) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Km3);
  const std::string inventory = Inventory();
  struct Case {
    bool csv;
    std::string last_err;  // how the last line on standard error starts
  };
  const Case cases[] = {
      {false,
       "zvk: interrupted by a stop request: the modules under way finished their step; 0 of "
       "2 not started"},
      {true, "zvk: interrupted by a stop request after "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.csv ? "csv" : "sections");
    std::thread stopper([] {
      while (!StopRequest::Deferring()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      StopRequest::Get().Request();
    });
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> args{"--hosts", inventory, "--skip-wifi-check", "read",
                                  "--count", "100",     "--interval",        "0.2"};
    if (c.csv) args.push_back("--csv");
    const Result r = Run(args);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.LastErrLine().rfind(c.last_err, 0), 0u) << r.err;
    if (c.csv) continue;
    const std::vector<std::string> rows = TableRows(r);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    for (std::size_t i = 0; i < 2; ++i)
      EXPECT_TRUE(RowIs(rows[i], Label(i), "stopped", "interrupted by a stop request after "))
          << rows[i];
  }
}

// Work that waits (a module slow to answer) gets more workers, up to the bound; every item runs
// once and WaitFor sees what it wrote.
TEST(fleetPool, GrowsWhileItemsWaitAndRunsEachOnce) {
  constexpr std::size_t kItems = 3 * kFleetWorkers;
  std::vector<int> runs(kItems, 0);
  std::atomic<int> busy{0}, most{0};
  const auto started = std::chrono::steady_clock::now();
  {
    FleetPool pool(kItems, [&](std::size_t i) {
      const int now = ++busy;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      --busy;
      ++runs[i];
    });
    for (std::size_t i = 0; i < kItems; ++i) {
      pool.WaitFor(i);
      EXPECT_EQ(runs[i], 1) << i;
    }
  }
  const auto took = std::chrono::steady_clock::now() - started;
  // It grows while no item finishes for a while: about one worker for every few ms an item
  // waits, so here to most of the bound.
  EXPECT_GE(most.load(), static_cast<int>(kFleetWorkers / 2));
  EXPECT_LE(most.load(), static_cast<int>(kFleetWorkers));
  // A few turns of a grown pool, not 48 turns of a worker per processor.
  EXPECT_LT(took, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace zvk::cli
