// zvk scan against a fleet of simulators (the zvk-sim program with --count) on loopback.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/cli_fixture.h"
#include "support/child_process.h"

namespace zvk::cli {
namespace {

class cliScan : public cliZvk {
 protected:
  // Starts zvk-sim with a fleet; the port all its modules share, or 0 when it did not start.
  std::uint16_t StartFleet(const std::vector<std::string>& args, int count) {
    const auto program = test::BuiltProgram("zvk-sim");
    if (!program) return 0;
    std::vector<std::string> all = {"--port", "0", "--reboot-ms", "0"};
    all.insert(all.end(), args.begin(), args.end());
    fleet_.emplace(*program, all);
    std::uint16_t port = 0;
    for (int k = 1; k <= count; ++k) {
      const std::string line = fleet_->ReadLine().value_or("");
      const std::string address = "127.0.0." + std::to_string(k) + ":";
      const std::size_t at = line.find(" listening on " + address);
      EXPECT_NE(at, std::string::npos) << line;
      if (at == std::string::npos) return 0;
      const auto this_port =
          static_cast<std::uint16_t>(std::stoi(line.substr(at + 14 + address.size())));
      if (port != 0) {
        EXPECT_EQ(this_port, port) << "every module of a fleet on one port";
      }
      port = this_port;
    }
    return port;
  }

  std::optional<test::ChildProcess> fleet_;
};

std::vector<std::string> Column(const std::string& csv, std::size_t column) {
  std::vector<std::string> cells;
  std::size_t start = csv.find('\n') + 1;  // past the header
  for (std::size_t end; (end = csv.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = csv.substr(start, end - start);
    for (std::size_t c = 0; c < column; ++c) line = line.substr(line.find(',') + 1);
    cells.push_back(line.substr(0, line.find(',')));
  }
  return cells;
}

TEST_F(cliScan, FindsExactlyTheLiveModulesOfAFleet) {
  // 127.0.0.1 and .5 thermistor modules, .2 a voltage module, .3 silent, .4 refusing; nothing
  // listens on .6.
  const std::uint16_t port =
      StartFleet({"--count", "5", "--model", "qn6,km3,qn6,qn6,qn6", "--module-faults",
                  "3=noreply@33:1000", "--module-faults", "4=refuse@33:1000"},
                 5);
  if (port == 0 && !test::BuiltProgram("zvk-sim")) GTEST_SKIP() << "zvk-sim is not built";
  ASSERT_NE(port, 0);

  const Result csv = Run({"--port", std::to_string(port), "scan", "127.0.0.0/29", "--csv"});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.OutLines().front(), "address,model,name,location,firmware,mac,rssi_dbm,wifi_mode");
  EXPECT_EQ(Column(csv.out, 0), (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.5"}));
  EXPECT_EQ(Column(csv.out, 1), (std::vector<std::string>{"zVK-QN6", "zVK-KM3", "zVK-QN6"}));
  EXPECT_EQ(Column(csv.out, 2),
            (std::vector<std::string>{"zVK-Analog-0001", "zVK-Analog-0002", "zVK-Analog-0005"}));
  EXPECT_EQ(Column(csv.out, 3),
            (std::vector<std::string>{"Lab bench 1", "Lab bench 2", "Lab bench 5"}));
  EXPECT_EQ(Column(csv.out, 5), (std::vector<std::string>{"02:5A:51:36:00:01", "02:5A:4B:33:00:02",
                                                          "02:5A:51:36:00:05"}));
  EXPECT_EQ(csv.LastErrLine(),
            "Scanned 6 of 6 addresses (127.0.0.0/29): 3 modules, 1 other answer, 1 silent");

  const Result json = Run({"--port", std::to_string(port), "scan", "127.0.0.0/29", "--json"});
  EXPECT_EQ(json.status, 0) << json.err;
  const auto parsed = nlohmann::json::parse(json.out);
  ASSERT_EQ(parsed.size(), 3u);
  EXPECT_EQ(parsed[1]["address"], "127.0.0.2");
  EXPECT_EQ(parsed[1]["firmware"], "V01.12");
  EXPECT_EQ(parsed[1]["wifi_mode"], "AP");

  const Result table = Run({"--port", std::to_string(port), "scan", "127.0.0.1/32"});
  EXPECT_EQ(table.status, 0) << table.err;
  ASSERT_EQ(table.OutLines().size(), 2u) << table.out;
  EXPECT_EQ(table.OutLines()[0].rfind("ADDRESS", 0), 0u);
  EXPECT_EQ(table.OutLines()[1].rfind("127.0.0.1  ", 0), 0u);
}

// Rows in address order, not text order (127.0.0.10 after 127.0.0.9); a fleet without --model is
// of thermistor modules.
TEST_F(cliScan, RowsComeInAddressOrder) {
  const std::uint16_t port = StartFleet({"--count", "11"}, 11);
  if (port == 0 && !test::BuiltProgram("zvk-sim")) GTEST_SKIP() << "zvk-sim is not built";
  ASSERT_NE(port, 0);
  const Result csv = Run({"--port", std::to_string(port), "scan", "127.0.0.0/28", "--csv"});
  EXPECT_EQ(csv.status, 0) << csv.err;
  std::vector<std::string> expected;
  for (int k = 1; k <= 11; ++k) expected.push_back("127.0.0." + std::to_string(k));
  EXPECT_EQ(Column(csv.out, 0), expected);
  EXPECT_EQ(Column(csv.out, 1), std::vector<std::string>(11, "zVK-QN6"));
}

// The simulator's command line: a mistake is a usage error (2), --version prints its version.
TEST(cliSimProgram, UsageErrorsExitTwoAndVersionPrintsIt) {
  const auto program = test::BuiltProgram("zvk-sim");
  if (!program) GTEST_SKIP() << "zvk-sim is not built";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--count", "0"},
                                               {"--model", "xx9"},
                                               {"--no-such-option"},
                                               {"--count", "five"}}) {
    test::ChildProcess sim(*program, args, {.null_input = true});
    EXPECT_EQ(sim.Wait(), 2) << args.front();
  }
  test::ChildProcess version(*program, {"--version"}, {.null_input = true});
  EXPECT_EQ(version.ReadLine().value_or("").rfind("zvk-sim ", 0), 0u);
  EXPECT_EQ(version.Wait(), 0);
}

TEST_F(cliScan, WithoutRangesScansTheSubnetsOfTheHostsUpInterfaces) {
  StartModule(sim::Model::Qn6);              // on 127.0.0.1
  AdapterInfo plant{"plant0", "127.0.0.2"};  // stands for a wireless adapter in a /30
  plant.prefix_length = 30;
  AdapterInfo wide{"eth9", "127.9.0.1"};
  wide.prefix_length = 8;
  AdapterInfo lo{"lo", "127.0.0.1"};
  lo.prefix_length = 8;
  lo.loopback = true;
  hosts.adapter_scans.push_back({lo, plant, wide});

  const Result r = Run({"--port", std::to_string(Port()), "scan", "--csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Column(r.out, 0), (std::vector<std::string>{"127.0.0.1"}));
  EXPECT_EQ(r.ErrLines().front(),
            "zvk: not scanning 127.0.0.0/8 (eth9), wider than a /16; name a part of it");
  EXPECT_EQ(r.LastErrLine(), "Scanned 2 of 2 addresses (127.0.0.0/30): 1 module");
  EXPECT_EQ(network.connects, 2);  // 127.0.0.1 and 127.0.0.2, nothing else
}

TEST_F(cliScan, RefusesWhatItCannotScanBeforeSendingAnything) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {{"scan", "10.0.0.0/8"},
       kExitUsage,
       "zvk: '10.0.0.0/8' is wider than a /16; scan at most 65,536 addresses at once"},
      {{"scan", "192.168.1.0/24x"},
       kExitUsage,
       "zvk: '192.168.1.0/24x' is not an IPv4 range such as 192.168.1.0/24"},
      {{"--host", "127.0.0.1", "scan", "127.0.0.1"},
       kExitUsage,
       "zvk: scan looks for modules on ranges; give them instead of --host"},
      {{"scan"},
       kExitFailed,
       "zvk: no up network interface with a subnet to scan; name a range such as 192.168.1.0/24"},
  };
  for (const Case& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_EQ(r.LastErrLine(), c.message);
  }
  EXPECT_EQ(Run({"scan", "127.0.0.1", "--csv", "--json"}).status, kExitUsage);
  EXPECT_EQ(network.connects, 0);
}

TEST_F(cliScan, NoModuleFoundIsAFailure) {
  const Result r = Run({"--port", std::to_string(Port()), "scan", "127.0.0.1"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.LastErrLine(), "zvk: no module found");
}

}  // namespace
}  // namespace zvk::cli
