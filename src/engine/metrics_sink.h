// The readings of a run as metrics a Prometheus server scrapes: each module's last values, whether
// it answers, its polls and failed polls, and the time of its last reading, in the text
// exposition format. The run's thread updates a snapshot under a lock; the server's thread
// renders it whenever it is asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/sink.h"

namespace zvk::engine {

// The content type of the text Exposition renders.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// A label value as the exposition format quotes it: the module's text cut to a bounded length
// (on a character's boundary), control characters shown as \xNN, then backslash and double
// quote escaped.
std::string MetricsLabelValue(const std::string& text);

class MetricsSink final : public Sink {
 public:
  std::string Admit(std::size_t index, const ModuleEntry& module,
                    const ModuleIdentity& identity) override;
  void Receive(std::size_t index, const Sample& sample) override;
  bool Finish(std::chrono::steady_clock::time_point) override { return true; }
  // "2 of 3 modules up"
  std::string Status() const override;
  std::string Summary() const override { return Status(); }

  // Every metric of every admitted module, in the modules' order. A channel without a number
  // (disabled, out of range, a failed poll) is absent, never 0.
  std::string Exposition() const;

 private:
  struct Channel {
    std::string name;
    std::string unit;
    double value = 0;
  };
  struct Module {
    bool admitted = false;
    std::string address;
    ModuleIdentity identity;
    bool up = false;
    std::uint64_t polls = 0;
    std::uint64_t failed = 0;
    std::optional<TimePoint> last_reading;
    std::vector<Channel> channels;  // of the last answered poll, with a number
  };

  mutable std::mutex mutex_;
  std::vector<Module> modules_;  // by the run's index
};

}  // namespace zvk::engine
