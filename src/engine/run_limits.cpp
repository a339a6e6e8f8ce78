#include "engine/run_limits.h"

#include <algorithm>

namespace zvk::engine {

bool StopFlag::WaitUntil(Clock::time_point due) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, due, [this] { return requested_; });
}

bool StopFlag::requested() {
  std::lock_guard lock(mutex_);
  return requested_;
}

void StopFlag::Request() {
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  changed_.notify_all();
}

RoundTimer::RoundTimer(const RunLimits& limits, StopSignal& stop,
                       std::function<Clock::time_point()> now)
    : limits_(limits),
      stop_(stop),
      now_(std::move(now)),
      interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(std::max(limits.interval_s, limits.shortest_interval_s)))),
      start_(now_()),
      due_(start_) {}

bool RoundTimer::Next() {
  if (limits_.count && rounds_ >= *limits_.count) return false;
  if (limits_.duration_s && due_ - start_ >= std::chrono::duration<double>(*limits_.duration_s))
    return false;
  if (rounds_ > 0 && stop_.WaitUntil(due_)) return false;
  if (stop_.requested()) return false;
  due_ = now_() + interval_;
  ++rounds_;
  return true;
}

void RunRounds(const RunLimits& limits, StopSignal& stop, const std::function<void()>& round) {
  RoundTimer timer(limits, stop);
  while (timer.Next()) round();
}

}  // namespace zvk::engine
