// When a long run polls and when it ends: the interval (never below the front end's floor), a
// count of rounds, a duration, and a stop request. The first round comes at once; each next one
// is due an interval after the start of the one before.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>

namespace zvk::engine {

using Clock = std::chrono::steady_clock;

// A request to end a run from outside (a signal, a window's Stop button).
class StopSignal {
 public:
  virtual ~StopSignal() = default;
  // Waits until `due` unless a stop is requested first; true when one was.
  virtual bool WaitUntil(Clock::time_point due) = 0;
  virtual bool requested() = 0;
};

// A stop signal of its own: a window or a test calls Request().
class StopFlag final : public StopSignal {
 public:
  bool WaitUntil(Clock::time_point due) override;
  bool requested() override;
  void Request();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

struct RunLimits {
  double interval_s = 0;             // from the start of one round to the next
  double shortest_interval_s = 0;    // the front end's floor: a shorter interval is taken as it
  std::optional<std::size_t> count;  // rounds at most
  std::optional<double> duration_s;  // no round is due this long after the start or later
};

class RoundTimer {
 public:
  // `now` is the clock the due times are taken from (a test's own).
  RoundTimer(const RunLimits& limits, StopSignal& stop,
             std::function<Clock::time_point()> now = Clock::now);
  // Waits for the next round to be due; false when the count, the duration or a stop request
  // ended the run.
  bool Next();
  std::size_t rounds() const { return rounds_; }
  Clock::duration interval() const { return interval_; }

 private:
  RunLimits limits_;
  StopSignal& stop_;
  std::function<Clock::time_point()> now_;
  Clock::duration interval_;
  Clock::time_point start_;
  Clock::time_point due_;
  std::size_t rounds_ = 0;
};

// Calls `round` once per round until the run ends.
void RunRounds(const RunLimits& limits, StopSignal& stop, const std::function<void()>& round);

}  // namespace zvk::engine
