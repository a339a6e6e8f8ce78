#include "cli/staged_firmware.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>

#include "admin/firmware.h"
#include "cli/cli_error.h"
#include "cli/session.h"
#include "cli/term/stop_request.h"
#include "cli/term/text.h"
#include "rollout/rollout.h"
#include "util/file_path.h"
#include "util/file_writer.h"

namespace zvk::cli {

namespace {

// What a module's session would print: no part of a rollout's output (its failures come back
// as exceptions, its boxes are answered Yes).
class Discarded {
 public:
  std::ostream& stream() { return stream_; }

 private:
  std::ostream stream_{nullptr};
};

}  // namespace

void CheckStagedInput(const StagedOptions& o) {
  const ImageFileCheck check = CheckImageFile(o.image);
  if (check.error) {
    if (check.opened && check.length > kMaxImageLength)
      throw Failed("input refused: " + o.image + " holds " + std::to_string(check.length) +
                   " bytes, more than the " + std::to_string(kMaxImageLength) +
                   " a module takes (" + kImageTooLong + "); nothing sent");
    throw Failed("input refused: " + *check.error + "; nothing sent");
  }
  if (o.history && !o.dry_run) {
    try {
      WriteTargetOf(PathFromUtf8(*o.history));
    } catch (const FileWriteError& e) {
      throw Failed(std::string("input refused: --history: ") + e.what() + "; nothing sent");
    }
  }
}

int RunStagedFirmware(const StagedOptions& o, const std::vector<std::string>& labels,
                      const Command::SessionMaker& open, std::ostream& out, std::ostream& err) {
  std::set<std::string> done;
  if (o.resume) {
    try {
      done = rollout::UpdatedModules(PathFromUtf8(*o.resume));
    } catch (const rollout::HistoryError& e) {
      throw Failed("--resume " + *o.resume + ": " + e.what() + "; nothing sent");
    }
  }
  std::optional<rollout::HistoryFile> history;
  if (o.history && !o.dry_run) {
    try {
      history.emplace(PathFromUtf8(*o.history), *o.history);
    } catch (const FileWriteError& e) {
      throw Failed(std::string("--history: ") + e.what() + "; nothing sent");
    }
  }

  std::mutex sessions_mutex;
  std::vector<std::unique_ptr<Discarded>> sinks;
  const rollout::SessionOpener opener = [&](std::size_t i) -> std::unique_ptr<ops::ModuleSession> {
    Discarded* sink;
    {
      std::lock_guard lock(sessions_mutex);
      sinks.push_back(std::make_unique<Discarded>());
      sink = sinks.back().get();
    }
    return open(i, sink->stream(), sink->stream());
  };

  const rollout::Target target{o.version, o.model, o.canary, o.batch};
  const rollout::Plan plan =
      rollout::MakePlan(labels, rollout::IdentifyAll(labels.size(), opener), target, done);
  for (const std::string& line : rollout::PlanLines(plan)) out << TextForTerminal(line) << '\n';
  const bool unreached = std::any_of(
      plan.modules.begin(), plan.modules.end(),
      [](const rollout::PlannedModule& m) { return m.skip == rollout::Skip::NotIdentified; });
  if (o.dry_run) {
    out << "Dry run: nothing sent but identity requests\n";
    return kExitOk;
  }
  out << '\n';
  out.flush();

  // SIGINT and SIGTERM start no further module; those under way finish.
  const StopScope scope;
  StopRequestSignal stop(StopRequest::Get());
  std::mutex print;
  const auto progress = [&](const rollout::Progress& p) {
    std::lock_guard lock(print);
    out << plan.modules[p.module].label << ": " << TextForTerminal(p.text) << '\n';
    out.flush();
  };
  const rollout::Waits waits{static_cast<int>(o.return_wait_s * 1000), 1000,
                             static_cast<int>(o.pause_s * 1000)};
  const rollout::Report report =
      rollout::Run(plan, o.image, waits, {opener, stop, progress, history ? &*history : nullptr});

  out << '\n';
  for (const std::string& line : rollout::ResultLines(plan, report))
    out << TextForTerminal(line) << '\n';
  out.flush();
  if (!report.history_error.empty()) err << "zvk: " << report.history_error << '\n';
  if (report.stopped)
    err << "zvk: interrupted by " << StopRequest::Get().what()
        << ": the modules under way finished; no further module was started\n";
  else if (report.failed)
    err << "zvk: the rollout stopped at the first failure; the modules not touched keep their "
           "firmware\n";
  if (unreached) err << "zvk: not every listed module identified itself; those were skipped\n";
  err.flush();
  return report.complete() && !unreached ? kExitOk : kExitFailed;
}

}  // namespace zvk::cli
