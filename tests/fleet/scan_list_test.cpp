#include "fleet/scan_list.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zvk {
namespace {

ScanRow Row(const std::string& address, const std::string& location = "Lab bench 1") {
  ScanRow row;
  row.address = address;
  row.location = location;
  return row;
}

std::vector<std::string> States(const ScanList& list, const std::string& watched = "") {
  std::vector<std::string> states;
  for (const ListedModule& m : list.modules())
    states.push_back(m.row.address + " " + ScanList::StateText(m, watched));
  return states;
}

TEST(ScanList, KeepsModulesAcrossScansWithWhatTheLatestScanSaw) {
  ScanList list;
  list.BeginScan();
  list.Found(Row("10.0.0.5"));
  list.Found(Row("10.0.0.9"));
  list.EndScan(true);
  EXPECT_EQ(States(list, "10.0.0.9"),
            (std::vector<std::string>{"10.0.0.5 Online", "10.0.0.9 Watched, online"}));

  list.BeginScan();
  EXPECT_EQ(States(list), (std::vector<std::string>{"10.0.0.5 Checking…", "10.0.0.9 Checking…"}));
  list.Found(Row("10.0.0.9", "moved"));  // a module found again brings its row up to date
  list.Found(Row("10.0.0.2"));
  list.EndScan(true);
  EXPECT_EQ(States(list, "10.0.0.5"),
            (std::vector<std::string>{"10.0.0.5 Watched, not answering", "10.0.0.9 Online",
                                      "10.0.0.2 Online"}));
  EXPECT_EQ(list.modules()[1].row.location, "moved");
  EXPECT_EQ(list.IndexOf("10.0.0.2"), 2);
  EXPECT_EQ(list.IndexOf("10.0.0.3"), -1);
}

TEST(ScanList, AStoppedScanLeavesWhatItDidNotReachAsItWas) {
  ScanList list;
  list.BeginScan();
  list.Found(Row("10.0.0.5"));
  list.Found(Row("10.0.0.9"));
  list.EndScan(true);
  list.BeginScan();
  list.Found(Row("10.0.0.9"));
  list.EndScan(true);  // 10.0.0.5 no longer answers
  list.BeginScan();
  list.EndScan(false);  // stopped before reaching anything
  EXPECT_EQ(States(list), (std::vector<std::string>{"10.0.0.5 Not answering", "10.0.0.9 Online"}));
}

TEST(ScanList, ProbesBetweenScansAndTheMainWindowsOwnPollsKeepTheStateLive) {
  ScanList list;
  list.BeginScan();
  list.Found(Row("10.0.0.5"));
  list.Found(Row("10.0.0.9"));
  list.EndScan(true);
  list.Probed("10.0.0.5", std::nullopt);
  list.Probed("10.0.0.7", Row("10.0.0.7"));  // not listed: left out
  EXPECT_EQ(States(list), (std::vector<std::string>{"10.0.0.5 Not answering", "10.0.0.9 Online"}));
  list.Probed("10.0.0.5", Row("10.0.0.5", "moved"));
  EXPECT_EQ(States(list), (std::vector<std::string>{"10.0.0.5 Online", "10.0.0.9 Online"}));
  EXPECT_EQ(list.modules()[0].row.location, "moved");

  // The watched module: what the main window's polls say wins over the scan's "online".
  const struct {
    WatchedState watched;
    const char* text;
  } cases[] = {
      {WatchedState::FromScan, "Watched, online"},
      {WatchedState::Online, "Watched, online"},
      {WatchedState::Checking, "Watched, checking…"},
      {WatchedState::NotAnswering, "Watched, not answering"},
      {WatchedState::NotPolled, "Watched, not polled: no Wi-Fi interface in its subnet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ScanList::StateText(list.modules()[0], "10.0.0.5", c.watched,
                                  "no Wi-Fi interface in its subnet"),
              c.text);
    EXPECT_EQ(ScanList::StateText(list.modules()[1], "10.0.0.5", c.watched), "Online");
  }
}

}  // namespace
}  // namespace zvk
