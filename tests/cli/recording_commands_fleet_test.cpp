// zvk log over an inventory: one CSV in long form (time, module, channel, value, unit) with a
// module's gaps its own, continued and refused by the same rules as a recording of one module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet_fixture.h"
#include "link/wire.h"
#include "sim/simulator.h"

namespace zvk::cli {
namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    // A new recording ends its lines as the platform does (CRLF on Windows).
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Each line without its time: "module,channel,value,unit".
std::vector<std::string> WithoutTime(const std::vector<std::string>& lines) {
  std::vector<std::string> rest;
  for (const std::string& line : lines) rest.push_back(line.substr(line.find(',') + 1));
  return rest;
}

class fleetLog : public FleetTest {};

TEST_F(fleetLog, RecordsEveryModuleInLongFormWithGapsPerModule) {
  AddModule(sim::Model::Km3);
  sim::Simulator& flaky = AddModule(sim::Model::Qn6);
  // Its first two data polls are refused: two gaps of its own while the others go on.
  flaky.InjectFault(sim::Fault::Refuse, 2, wire::CMD_READ_DATA);
  const std::string inventory = Inventory();
  const std::string file = PathOf("plant.csv");

  const Result r = Run(
      {"--hosts", inventory, "--skip-wifi-check", "log", file, "--count", "3", "--interval", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\"" + file + "\": 6 rows written (2 gaps)\n");
  const std::vector<std::string> lines = LinesOf(ReadFile(file));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "time,module,channel,value,unit");
  const std::vector<std::string> rows =
      WithoutTime(std::vector<std::string>(lines.begin() + 1, lines.end()));

  const std::string km3 = Label(0), qn6 = Label(1);
  // Per line: module, channel and unit; the values move with the simulated inputs, so of them
  // only that one is there (and "Disable" for the channel without a sensor).
  std::vector<std::string> expected;
  for (int round = 0; round < 3; ++round) {
    for (int ch = 0; ch < 5; ++ch) expected.push_back(km3 + ",AI" + std::to_string(ch) + ",*,V");
    if (round < 2) {
      expected.push_back(qn6 + ",,,");
      continue;
    }
    for (int ch = 0; ch < 7; ++ch)  // TH5 shows Fahrenheit on the simulated module
      expected.push_back(qn6 + ",TH" + std::to_string(ch) + (ch == 5 ? ",*,℉" : ",*,℃"));
    expected.push_back(qn6 + ",TH7,Disable,");
  }
  ASSERT_EQ(rows.size(), expected.size()) << ReadFile(file);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t star = expected[i].find('*');
    if (star == std::string::npos) {
      EXPECT_EQ(rows[i], expected[i]);
      continue;
    }
    const std::string head = expected[i].substr(0, star), tail = expected[i].substr(star + 1);
    EXPECT_TRUE(rows[i].starts_with(head) && rows[i].ends_with(tail) &&
                rows[i].size() > head.size() + tail.size())
        << rows[i] << " is not " << expected[i];
  }
  EXPECT_NE(r.err.find(qn6 + ": zvk: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("the module answers again"), std::string::npos) << r.err;
}

// A module whose every data poll is answered with another command's reply (the identity record)
// records gaps only, never values decoded from it; having never answered, it is named at the end
// and the run exits 1, while the other module's rows go on.
TEST_F(fleetLog, AModuleThatNeverAnsweredTheDataPollIsNamedAndFailsTheRun) {
  AddModule(sim::Model::Km3);
  sim::Simulator& other = AddModule(sim::Model::Qn6);
  other.InjectFault(sim::Fault::OtherReply, 1000, wire::CMD_READ_DATA);
  const std::string file = PathOf("plant.csv");
  const Result r = Run({"--hosts", Inventory(), "--skip-wifi-check", "log", file, "--count", "2",
                        "--interval", "0"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "\"" + file + "\": 4 rows written (2 gaps)\n");
  const std::vector<std::string> rows = WithoutTime(LinesOf(ReadFile(file)));
  EXPECT_EQ(std::count(rows.begin(), rows.end(), Label(1) + ",,,"), 2) << ReadFile(file);
  EXPECT_EQ(r.LastErrLine(), Label(1) +
                                 ": zvk: the module never answered during the run: the data "
                                 "poll was not acknowledged: the reply is for command 33, not "
                                 "216");
}

TEST_F(fleetLog, ContinuesItsOwnFileAndRefusesOthersBeforeAnythingIsSent) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Qn6);
  const std::string inventory = Inventory();
  const std::string file = PathOf("plant.csv");
  const std::vector<std::string> args{"--hosts", inventory, "--skip-wifi-check", "log", file,
                                      "--count", "1",       "--interval",        "0"};
  ASSERT_EQ(Run(args).status, 0);
  ASSERT_EQ(Run(args).status, 0);
  const std::vector<std::string> lines = LinesOf(ReadFile(file));
  EXPECT_EQ(lines.size(), 1u + 2 * 2 * 8);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "time,module,channel,value,unit"), 1);

  // A recording of one module is not continued as one of many, nor the other way round.
  const std::string single = WriteFile("one.csv", "time,TH0,TH1,TH2,TH3,TH4,TH5,TH6,TH7\n");
  for (auto& module : modules) module->ClearFrames();
  const Result refused = Run({"--hosts", inventory, "--skip-wifi-check", "log", single, "--count",
                              "1", "--interval", "0"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("holds no recording of many modules"), std::string::npos)
      << refused.err;
  const Result one = Run({"--host", Label(0), "--skip-wifi-check", "log", file, "--count", "1"});
  EXPECT_EQ(one.status, 1);
  for (auto& module : modules) EXPECT_TRUE(module->Frames().empty());
}

}  // namespace
}  // namespace zvk::cli
