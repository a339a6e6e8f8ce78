// The engine's periodic poll with its messages on a session's standard error, clearing the live
// status line first: for `publish`, whose loop is still its own.
#pragma once

#include <string>

#include "engine/poller.h"
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

  Sample Poll() { return poller_.Poll(); }
  bool lost() const { return poller_.lost(); }
  const std::string& lost_reason() const { return poller_.lost_reason(); }

 private:
  engine::ModulePoller poller_;
};

}  // namespace zvk::cli
