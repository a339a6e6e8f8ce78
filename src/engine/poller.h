// The periodic poll of a long run: one poll of the window's supervision tick, taken as a sample;
// while the module is lost, its identity first, as the Refresh button asks for it. Losing the
// module and getting it back are told once each on the module's lines.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "operations/operations.h"
#include "record/sample.h"

namespace zvk::engine {

class ModulePoller {
 public:
  // Tells one message of the module (without the "zvk: " its lines put before it).
  using Tell = std::function<void(const std::string& message)>;
  // `gap_note` ends the message that tells the module was lost: what becomes of the gaps.
  ModulePoller(ops::Operator& op, Tell tell, std::string gap_note);
  ModulePoller(const ModulePoller&) = delete;
  ModulePoller& operator=(const ModulePoller&) = delete;

  Sample Poll();
  // The module did not answer at the start: its samples are gaps until it does.
  void StartLost(const std::string& why) { Lost(why); }
  // The Refresh button's identity request; throws the reason when the module did not describe
  // itself.
  void AskIdentity();
  bool lost() const { return lost_; }
  const std::string& lost_reason() const { return lost_reason_; }

 private:
  void Lost(const std::string& why);

  ops::Operator& op_;
  Tell tell_;
  std::optional<Sample> last_sample_;
  PollSampler sampler_;
  bool lost_ = false;
  std::string lost_reason_;
  std::string gap_note_;
};

}  // namespace zvk::engine
