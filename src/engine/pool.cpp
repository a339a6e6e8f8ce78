#include "engine/pool.h"

#include <algorithm>

namespace zvk::engine {

FleetPool::FleetPool(std::size_t count, std::function<void(std::size_t)> work)
    : count_(count),
      work_(std::move(work)),
      done_(count, false),
      last_finished_(std::chrono::steady_clock::now()) {
  const std::size_t processors = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t first = std::min({count, processors, kFleetWorkers});
  for (std::size_t w = 0; w < first; ++w) workers_.emplace_back([this] { Work(); });
}

FleetPool::~FleetPool() {
  for (std::size_t i = 0; i < count_; ++i) WaitFor(i);
  for (std::thread& worker : workers_) worker.join();
}

void FleetPool::Work() {
  std::unique_lock lock(mutex_);
  while (next_ < count_) {
    const std::size_t i = next_++;
    lock.unlock();
    work_(i);
    lock.lock();
    done_[i] = true;
    last_finished_ = std::chrono::steady_clock::now();
    finished_.notify_all();
  }
}

void FleetPool::WaitFor(std::size_t i) {
  const auto grow_after = std::chrono::milliseconds(kFleetGrowAfterMs);
  std::unique_lock lock(mutex_);
  while (!done_[i]) {
    // Only this thread starts workers, so workers_ needs no lock of its own.
    if (next_ < count_ && workers_.size() < std::min(count_, kFleetWorkers) &&
        std::chrono::steady_clock::now() - last_finished_ >= grow_after) {
      workers_.emplace_back([this] { Work(); });
      last_finished_ = std::chrono::steady_clock::now();
    }
    finished_.wait_for(lock, grow_after);
  }
}

void ForEachConcurrently(std::size_t count, const std::function<void(std::size_t)>& work) {
  FleetPool pool(count, work);
}

}  // namespace zvk::engine
