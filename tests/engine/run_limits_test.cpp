// The rounds of a long run on a clock the test moves: when each is due, and what ends the run.
#include "engine/run_limits.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

namespace zvk::engine {
namespace {

using namespace std::chrono_literals;

// A stop signal whose waits move the test's clock to the due time at once; the `stop_at_wait`-th
// wait (from 1) ends in a stop request.
struct FakeStop final : StopSignal {
  Clock::time_point now{};
  std::vector<Clock::duration> waits;  // the due times waited for, after the start
  int stop_at_wait = 0;
  bool stopped = false;
  bool WaitUntil(Clock::time_point due) override {
    waits.push_back(due - Clock::time_point{});
    if (static_cast<int>(waits.size()) == stop_at_wait) stopped = true;
    if (!stopped) now = std::max(now, due);
    return stopped;
  }
  bool requested() override { return stopped; }
};

TEST(RunLimits, RoundsAreDueAnIntervalAfterTheStartOfTheRoundBeforeAndEndByTheLimits) {
  using Ms = std::chrono::milliseconds;
  struct Case {
    const char* what;
    RunLimits limits;
    int stop_at_wait;
    std::size_t rounds;
    std::vector<Ms> waits;
  };
  const std::vector<Case> cases = {
      {"count", {2.0, 0.05, 3, std::nullopt}, 0, 3, {2000ms, 4000ms}},
      {"duration: none due at 5 s or later",
       {2.0, 0.05, std::nullopt, 5.0},
       0,
       3,
       {2000ms, 4000ms}},
      {"the floor", {0.01, 0.05, 2, std::nullopt}, 0, 2, {50ms}},
      {"stop during the second wait", {2.0, 0.05, 10, std::nullopt}, 2, 2, {2000ms, 4000ms}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeStop stop;
    stop.stop_at_wait = c.stop_at_wait;
    RoundTimer timer(c.limits, stop, [&stop] { return stop.now; });
    std::size_t rounds = 0;
    while (timer.Next()) {
      ++rounds;
      stop.now += 300ms;  // the round's polls take time: the next is still due from its start
    }
    EXPECT_EQ(rounds, c.rounds);
    EXPECT_EQ(timer.rounds(), c.rounds);
    std::vector<Ms> waits;
    for (Clock::duration d : stop.waits) waits.push_back(std::chrono::duration_cast<Ms>(d));
    EXPECT_EQ(waits, c.waits);
  }
}

TEST(RunLimits, AStopRequestedBeforeTheStartRunsNoRound) {
  StopFlag stop;
  stop.Request();
  int rounds = 0;
  RunRounds({0.05, 0.05, std::nullopt, std::nullopt}, stop, [&rounds] { ++rounds; });
  EXPECT_EQ(rounds, 0);
}

TEST(RunLimits, StopFlagEndsAWaitAtOnceFromAnotherThread) {
  StopFlag stop;
  const auto start = Clock::now();
  std::thread requester([&stop] { stop.Request(); });
  EXPECT_TRUE(stop.WaitUntil(start + 1h));
  requester.join();
  EXPECT_LT(Clock::now() - start, 30s);
  EXPECT_TRUE(stop.requested());
}

}  // namespace
}  // namespace zvk::engine
