// One command over many modules: each module gets a run of its own, exactly as `zvk` runs it
// against one module, concurrently on a bounded pool of threads; their output is printed in the
// inventory's order and the run ends with one table of the results.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "cli/session.h"
#include "fleet/inventory.h"

namespace zvk::cli {

// How many modules are worked on at once; the rest wait for a free worker. On a real network a
// run waits on the modules, so 50 modules take two turns of their time; on loopback, where it
// is the processor that limits, starting a thread for each module cost more than it gained.
inline constexpr std::size_t kFleetWorkers = 32;

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

// Runs work(i) for i in 0..count-1 on at most kFleetWorkers threads; returns when all are done.
void ForEachConcurrently(std::size_t count, const std::function<void(std::size_t)>& work);

struct FleetPlan {
  std::vector<InventoryEntry> modules;
  std::uint16_t default_port = 0;         // for modules listed without a port
  GlobalOptions options;                  // yes set once the one question was answered
  std::vector<std::string> command_args;  // the command's name and its own arguments
};

struct ModuleResult {
  std::string module;  // the inventory's label
  int status = -1;
  std::string message;  // the reason of a failure, or the last line printed on success
};

// Runs the plan; prints each module's output under a heading "== MODULE ==" (standard error
// lines as "MODULE: LINE"), then the result table. Returns 0 when every module succeeded,
// otherwise the worst exit status of a module.
int RunFleet(const FleetPlan& plan, std::ostream& out, std::ostream& err, CliEnv& env);

// The table: one row a module (module, result, message) and a closing count.
void PrintResultTable(const std::vector<ModuleResult>& results, std::ostream& out);

}  // namespace zvk::cli
