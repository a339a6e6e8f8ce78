// A staged firmware rollout over many modules: every module identified first (concurrently),
// then the plan's waves one after the other: the canary alone, then the batches, the modules of
// a wave at once. Each module gets the update as the setup window runs it (delivery confirmed,
// checksum verified, reboot), then is asked for its identity until it comes back, which must
// report the new version. The first wave with a module that failed is the last: the rest are
// left untouched. A stop request starts no new module; those under way finish.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/run_limits.h"
#include "operations/module_session.h"
#include "rollout/history.h"
#include "rollout/plan.h"

namespace zvk::rollout {

// A session on the i-th listed module, opened (Open() done), nothing sent. Called from several
// threads at once; each call gives a fresh session. The session's questions must be answered
// Yes (the rollout was confirmed as a whole).
using SessionOpener = std::function<std::unique_ptr<ops::ModuleSession>(std::size_t i)>;

// The i-th module's identity, asked on a fresh session; never throws.
Identity IdentifyModule(const SessionOpener& open, std::size_t i);
// Every module's identity, asked concurrently on the engine's pool.
std::vector<Identity> IdentifyAll(std::size_t count, const SessionOpener& open);

struct Waits {
  // How long a rebooted module has to come back, and the pause between its identity requests
  // (through the session's sleeper, as the protocol's waits).
  int return_bound_ms = 60000;
  int return_interval_ms = 1000;
  // Between two waves (a stop request ends it early).
  int pause_ms = 0;
};

enum class Outcome { Skipped, Updated, Failed, NotTouched };
// "skipped", "updated", "failed", "not touched".
const char* OutcomeWord(Outcome outcome);

struct ModuleResult {
  Outcome outcome = Outcome::NotTouched;
  std::string message;
};

// What a front end is told as the rollout goes, from the threads that do the work.
struct Progress {
  enum class Step { Started, Uploaded, Returning, Updated, Failed };
  std::size_t module = 0;
  Step step = Step::Started;
  std::string text;  // one line: what happens, or why it failed
};

struct RolloutSeams {
  SessionOpener open;
  engine::StopSignal& stop;
  std::function<void(const Progress&)> progress;  // may be null
  HistoryFile* history = nullptr;                 // may be null
};

struct Report {
  std::vector<ModuleResult> results;  // one a module of the plan, in its order
  bool failed = false;                // a module failed: the rollout stopped after its wave
  bool stopped = false;               // a stop request ended it early
  std::string history_error;          // the history could not be written: ended after the wave
  bool complete() const { return !failed && !stopped && history_error.empty(); }
};

// Runs the plan with `image` (checked before: CheckImageFile). A module's failure is in the
// report, and so is a history that could not be written, which ends the rollout after the wave
// under way.
Report Run(const Plan& plan, const std::string& image, const Waits& waits,
           const RolloutSeams& seams);

// The result table, as the runs over many modules print theirs: module, result, message, and a
// closing count.
std::vector<std::string> ResultLines(const Plan& plan, const Report& report);

}  // namespace zvk::rollout
