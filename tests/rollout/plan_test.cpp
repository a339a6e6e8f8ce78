// The rollout's plan and history without modules: the versions a user types, the waves the
// options make, and what a resumed rollout takes from a history.
#include "rollout/plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "link/wire.h"
#include "rollout/history.h"

namespace zvk::rollout {
namespace {

TEST(RolloutPlan, VersionsAsTheIdentityRecordShowsThem) {
  const struct {
    const char* typed;
    const char* version;  // null: refused
  } cases[] = {{"1.13", "01.13"},  {"01.13", "01.13"}, {"a.0f", "0A.0F"}, {"FF.FF", "FF.FF"},
               {"113", nullptr},   {"1.133", nullptr}, {"1.1g", nullptr}, {".13", nullptr},
               {"1.2.3", nullptr}, {"", nullptr}};
  for (const auto& c : cases) {
    const std::optional<std::string> got = NormalVersion(c.typed);
    EXPECT_EQ(got, c.version ? std::optional<std::string>(c.version) : std::nullopt) << c.typed;
  }
}

TEST(RolloutPlan, WavesFollowTheCanaryAndBatchSizes) {
  const auto identity = [](const std::string& mac) {
    return Identity{true, "", wire::kModelQn6, mac, "01.12"};
  };
  std::vector<std::string> labels;
  std::vector<Identity> identities;
  for (int i = 0; i < 7; ++i) {
    labels.push_back("10.0.0." + std::to_string(i + 1));
    identities.push_back(identity("M" + std::to_string(i)));
  }
  identities[2].mac.clear();  // done before, known by its address
  const struct {
    std::size_t canary, batch;
    std::vector<std::vector<std::size_t>> waves;
    const char* second;  // the second wave's name
  } cases[] = {
      {1, 2, {{0}, {3, 4}, {5, 6}}, "batch 1"},
      {0, 2, {{0, 3}, {4, 5}, {6}}, "batch 2"},
      {3, 10, {{0, 3, 4}, {5, 6}}, "batch 1"},
      {9, 1, {{0, 3, 4, 5, 6}}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.canary) + "/" + std::to_string(c.batch));
    const Plan plan = MakePlan(labels, identities, {"01.13", wire::kModelQn6, c.canary, c.batch},
                               {"M1", "10.0.0.3"});
    EXPECT_EQ(plan.waves, c.waves);
    if (c.second) {
      EXPECT_EQ(plan.WaveName(1), c.second);
    }
    EXPECT_EQ(plan.modules[1].skip, Skip::DoneBefore);
    EXPECT_EQ(plan.modules[2].skip, Skip::DoneBefore);
  }
}

TEST(RolloutHistory, AResumeTakesTheModulesUpdatedAndRefusesWhatIsNoHistory) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("zvk-history-" + std::to_string(std::random_device{}()) + ".jsonl");
  {
    HistoryFile file(path, path.string());
    file.Append({{}, "02:5A:51:36:00:01", "10.0.0.1:13577", "01.12", "01.13", true, ""});
    file.Append({{}, "02:5A:51:36:00:02", "10.0.0.2:13577", "01.12", "01.13", false, "why"});
    file.Append({{}, "", "10.0.0.3:13577", "01.12", "01.13", true, ""});
  }
  EXPECT_EQ(UpdatedModules(path), (std::set<std::string>{"02:5A:51:36:00:01", "10.0.0.3:13577"}));
  std::ofstream(path, std::ios::app) << "not json\n";
  EXPECT_THROW(UpdatedModules(path), HistoryError);
  std::filesystem::remove(path);
  EXPECT_THROW(UpdatedModules(path), HistoryError);
  EXPECT_EQ(
      HistoryLine({{}, "m", "a", "01.12", "01.13", false, "bad \x01 byte \xff"}),
      "{\"time\":\"1970-01-01T00:00:00Z\",\"mac\":\"m\",\"address\":\"a\",\"old\":\"01.12\","
      "\"new\":\"01.13\",\"result\":\"failed\",\"reason\":\"bad \\u0001 byte \xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace zvk::rollout
