// The periodic poll of a long run (`log`, `publish`): one poll of the window's supervision tick,
// taken as a sample; while the module is lost, its identity first, as the Refresh button asks
// for it. Losing the module and getting it back are told once each on standard error.
#pragma once

#include <optional>
#include <string>

#include "record/sample.h"

namespace zvk::cli {

class LiveStatus;
class Session;

class ModulePoller {
 public:
  // `gap_note` ends the line that tells the module was lost: what becomes of the gaps.
  ModulePoller(Session& session, LiveStatus& status, std::string gap_note);
  ModulePoller(const ModulePoller&) = delete;
  ModulePoller& operator=(const ModulePoller&) = delete;

  Sample Poll();
  // The module did not answer at the start: its samples are gaps until it does.
  void StartLost(const std::string& why) { Lost(why); }
  bool lost() const { return lost_; }
  const std::string& lost_reason() const { return lost_reason_; }

 private:
  void Lost(const std::string& why);

  Session& s_;
  LiveStatus& status_;
  std::optional<Sample> last_sample_;
  PollSampler sampler_;
  bool lost_ = false;
  std::string lost_reason_;
  std::string gap_note_;
};

}  // namespace zvk::cli
