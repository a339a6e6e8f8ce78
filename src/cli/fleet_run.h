// One command over many modules: each module gets a run of its own (a session, the command's
// copy of the parsed arguments), exactly as `zvk` runs it against one module, concurrently on a
// bounded pool of threads; their output is printed in the inventory's order and the run ends with
// one table of the results.
#pragma once

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/session.h"
#include "engine/pool.h"
#include "fleet/inventory.h"

namespace zvk::cli {

using engine::FleetPool;
using engine::ForEachConcurrently;
using engine::kFleetGrowAfterMs;
using engine::kFleetWorkers;
using engine::LockedSleeper;

// One module's run: `options` name the module; what it prints goes to `out` and `err`, its
// failure as one last line "zvk: REASON" on `err`; returns its exit status.
using ModuleRunner = std::function<int(const GlobalOptions& options, std::ostream& out,
                                       std::ostream& err, CliEnv& env)>;

struct FleetPlan {
  std::vector<InventoryEntry> modules;
  std::uint16_t default_port = 0;  // for modules listed without a port
  GlobalOptions options;           // yes set once the one question was answered
  ModuleRunner run;                // the command, parsed once
};

struct ModuleResult {
  std::string module;  // the inventory's label
  int status = -1;
  std::string message;  // the reason of a failure, or the last line printed on success
  bool started = true;  // false: a stop request came before its turn
};

// What the reason of a run that a stop request ended says: such a module is "stopped" in the
// table, with the step it stopped after.
inline constexpr const char* kInterruptedBy = "interrupted by ";

// Runs the plan; prints each module's output under a heading "== MODULE ==" (standard error
// lines as "MODULE: LINE"), then the result table. Returns 0 when every module succeeded,
// otherwise the worst exit status of a module. SIGINT or SIGTERM meanwhile starts no further
// module: those under way end their step, the table says which were done, stopped or not
// started, and the run ends with status 1 or worse.
int RunFleet(const FleetPlan& plan, std::ostream& out, std::ostream& err, CliEnv& env);

// What each module of a run that keeps its sessions open said on standard error so far, on `err`
// line by line as "MODULE: LINE"; both buffers of every module are emptied for the next round.
void TellLabelled(const std::vector<std::string>& labels, std::vector<std::ostringstream>& outs,
                  std::vector<std::ostringstream>& errs, std::ostream& err);

// The table: one row a module (module, result: ok, failed, stopped or not started; message) and
// a closing count.
void PrintResultTable(const std::vector<ModuleResult>& results, std::ostream& out);

}  // namespace zvk::cli
