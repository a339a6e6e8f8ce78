#include "cli/fleet_run.h"

#include <algorithm>
#include <sstream>
#include <thread>

#include "cli/cli_error.h"
#include "cli/term/stop_request.h"

namespace zvk::cli {

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct ModuleRun {
  ModuleResult result;
  std::string out;
  std::string err;
};

void RunModule(const FleetPlan& plan, const InventoryEntry& module, CliEnv& shared,
               Sleeper* sleeper, ModuleRun& run) {
  // Nothing is asked per module: the one question was asked before anything was sent.
  CliEnv env{.network = shared.network, .hosts = shared.hosts, .sleeper = sleeper};
  std::ostringstream out, err;
  run.result.module = module.Label();
  try {
    GlobalOptions options = plan.options;
    options.host = module.host;
    options.port = module.port.value_or(plan.default_port);
    run.result.status = plan.run(options, out, err, env);
  } catch (const std::exception& e) {
    err << "zvk: " << e.what() << '\n';
    run.result.status = kExitFailed;
  }
  run.out = out.str();
  run.err = err.str();
  const std::vector<std::string> out_lines = Lines(run.out);
  const std::vector<std::string> err_lines = Lines(run.err);
  if (run.result.status == kExitOk) {
    const auto last = std::find_if(out_lines.rbegin(), out_lines.rend(),
                                   [](const std::string& line) { return !line.empty(); });
    std::string message = last == out_lines.rend() ? "done" : *last;
    // A box's text lines are indented ("    . Manual Reboot to take effect!").
    message.erase(0, message.find_first_not_of(" ."));
    run.result.message = message;
  } else {
    static const std::string kPrefix = "zvk: ";
    const auto reason =
        std::find_if(err_lines.rbegin(), err_lines.rend(),
                     [](const std::string& line) { return line.rfind(kPrefix, 0) == 0; });
    run.result.message = reason == err_lines.rend() ? "failed" : reason->substr(kPrefix.size());
  }
}

}  // namespace

const char* ResultWord(const ModuleResult& r) {
  if (!r.started) return "not started";
  if (r.status == kExitOk) return "ok";
  // A restore says which of its settings were written before the request stopped it.
  return r.message.find(kInterruptedBy) != std::string::npos ? "stopped" : "failed";
}

void PrintResultTable(const std::vector<ModuleResult>& results, std::ostream& out) {
  std::size_t width = std::string("module").size();
  std::size_t result_width = std::string("result").size();
  for (const ModuleResult& r : results) {
    width = std::max(width, r.module.size());
    result_width = std::max(result_width, std::string(ResultWord(r)).size());
  }
  const auto row = [&](const std::string& module, const std::string& result,
                       const std::string& message) {
    out << module << std::string(width - module.size() + 2, ' ') << result
        << std::string(result_width - result.size() + 2, ' ') << message << '\n';
  };
  row("module", "result", "message");
  std::size_t failed = 0, not_started = 0;
  for (const ModuleResult& r : results) {
    failed += r.status != kExitOk;
    not_started += !r.started;
    row(r.module, ResultWord(r), r.message);
  }
  out << results.size() - failed << " of " << results.size() << " modules succeeded";
  if (not_started > 0) out << ", " << not_started << " not started";
  out << '\n';
}

int RunFleet(const FleetPlan& plan, std::ostream& out, std::ostream& err, CliEnv& env) {
  const std::size_t count = plan.modules.size();
  std::vector<ModuleRun> runs(count);
  std::optional<LockedSleeper> locked;
  if (env.sleeper) locked.emplace(*env.sleeper);
  Sleeper* sleeper = locked ? &*locked : nullptr;

  // SIGINT and SIGTERM start no further module; each one under way ends its step and says where
  // it stopped, and the table is printed.
  const StopScope scope;
  StopRequest& stop = StopRequest::Get();
  FleetPool pool(count, [&](std::size_t i) {
    if (stop.requested()) {
      runs[i].result = {plan.modules[i].Label(), kExitFailed,
                        "the run was stopped (" + stop.what() + ") before this module", false};
      return;
    }
    RunModule(plan, plan.modules[i], env, sleeper, runs[i]);
  });

  // Printed in the inventory's order as soon as each module and all before it are done.
  std::vector<ModuleResult> results;
  int worst = kExitOk;
  for (std::size_t i = 0; i < count; ++i) {
    pool.WaitFor(i);
    ModuleRun& run = runs[i];
    out << "== " << run.result.module << " ==\n" << run.out;
    out.flush();
    for (const std::string& line : Lines(run.err)) err << run.result.module << ": " << line << '\n';
    err.flush();
    worst = std::max(worst, run.result.status);
    results.push_back(std::move(run.result));
  }
  out << '\n';
  PrintResultTable(results, out);
  out.flush();
  if (stop.requested()) {
    const auto not_started = std::count_if(results.begin(), results.end(),
                                           [](const ModuleResult& r) { return !r.started; });
    err << "zvk: interrupted by " << stop.what() << ": the modules under way finished their step; "
        << not_started << " of " << count << " not started\n";
    err.flush();
    worst = std::max(worst, kExitFailed);
  }
  return worst;
}

void TellLabelled(const std::vector<std::string>& labels, std::vector<std::ostringstream>& outs,
                  std::vector<std::ostringstream>& errs, std::ostream& err) {
  for (std::size_t i = 0; i < labels.size(); ++i) {
    std::istringstream lines(errs[i].str());
    for (std::string line; std::getline(lines, line);) err << labels[i] << ": " << line << '\n';
    errs[i].str("");
    outs[i].str("");
  }
  err.flush();
}

}  // namespace zvk::cli
