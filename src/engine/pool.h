// The bounded pool of threads the runs over many modules work on: the identification and the
// polls of a long run, and each module's run of a command over many.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "link/seams.h"

namespace zvk::engine {

// At most how many modules are worked on at once; the rest wait for a free worker. A run starts
// with a worker per processor and adds one, up to this many, whenever no module finished for
// kFleetGrowAfterMs while others still wait: on a network a run waits on the modules, so 50 slow
// modules take two turns of their time; on loopback, where the processor limits, a thread for
// each module cost more than it gained.
inline constexpr std::size_t kFleetWorkers = 32;
inline constexpr int kFleetGrowAfterMs = 2;

// The waits of many modules' runs go through one sleeper a test may have given; a test's
// sleeper keeps a record and is not made for several threads.
class LockedSleeper final : public Sleeper {
 public:
  explicit LockedSleeper(Sleeper& inner) : inner_(inner) {}
  void SleepMs(int ms) override {
    std::lock_guard lock(mutex_);
    inner_.SleepMs(ms);
  }

 private:
  Sleeper& inner_;
  std::mutex mutex_;
};

// Runs work(i) for i in 0..count-1 on at most kFleetWorkers threads (started as above); the
// destructor waits for all of it.
class FleetPool {
 public:
  FleetPool(std::size_t count, std::function<void(std::size_t)> work);
  ~FleetPool();
  FleetPool(const FleetPool&) = delete;
  FleetPool& operator=(const FleetPool&) = delete;
  // Returns once work(i) has returned; what it wrote is then visible to the caller.
  void WaitFor(std::size_t i);

 private:
  void Work();

  const std::size_t count_;
  const std::function<void(std::size_t)> work_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::size_t next_ = 0;  // the next item a worker takes
  std::vector<bool> done_;
  std::chrono::steady_clock::time_point last_finished_;
  std::vector<std::thread> workers_;
};

// Runs work(i) for i in 0..count-1 on a FleetPool; returns when all are done.
void ForEachConcurrently(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace zvk::engine
