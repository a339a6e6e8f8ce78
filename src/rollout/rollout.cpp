#include "rollout/rollout.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "admin/firmware.h"
#include "engine/pool.h"
#include "util/file_writer.h"

namespace zvk::rollout {

namespace {

// What the identified session's module said of itself.
Identity ReadIdentity(ops::ModuleSession& s) {
  const DeviceConfig& device = s.app().link.device;
  Identity id;
  id.identified = true;
  id.model = device.ModelCode;
  id.mac = device.DevMac;
  id.version = device.DevFirmware;
  return id;
}

// "60 s", "0.2 s".
std::string Seconds(int ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

// A failure that ends the module's turn at once, whatever is left of its waits.
class Final : public ops::OperationFailed {
 public:
  using ops::OperationFailed::OperationFailed;
};

class Runner {
 public:
  Runner(const Plan& plan, const std::string& image, const Waits& waits, const RolloutSeams& seams)
      : plan_(plan), image_(image), waits_(waits), seams_(seams) {}

  Report Run() {
    report_.results.resize(plan_.modules.size());
    for (std::size_t i = 0; i < plan_.modules.size(); ++i)
      if (plan_.modules[i].skip != Skip::None)
        report_.results[i] = {Outcome::Skipped, plan_.modules[i].reason};
    std::size_t w = 0;
    for (; w < plan_.waves.size(); ++w) {
      if (w > 0 && waits_.pause_ms > 0 &&
          seams_.stop.WaitUntil(engine::Clock::now() +
                                std::chrono::milliseconds(waits_.pause_ms))) {
        report_.stopped = true;
      }
      if (seams_.stop.requested()) report_.stopped = true;
      if (report_.stopped) break;
      RunWave(plan_.waves[w]);
      if (report_.failed || !report_.history_error.empty()) {
        ++w;
        break;
      }
    }
    const std::string why = report_.stopped ? "the rollout was stopped before its turn"
                            : !report_.history_error.empty()
                                ? "the rollout stopped: the history could not be written"
                                : "the rollout stopped after a failure";
    for (; w < plan_.waves.size(); ++w)
      for (const std::size_t i : plan_.waves[w]) report_.results[i] = {Outcome::NotTouched, why};
    return std::move(report_);
  }

 private:
  void Tell(std::size_t i, Progress::Step step, const std::string& text) {
    if (seams_.progress) seams_.progress({i, step, text});
  }

  void RunWave(const std::vector<std::size_t>& wave) {
    engine::ForEachConcurrently(wave.size(), [&](std::size_t k) {
      const std::size_t i = wave[k];
      if (seams_.stop.requested()) {
        std::lock_guard lock(mutex_);
        report_.stopped = true;
        report_.results[i] = {Outcome::NotTouched, "the rollout was stopped before its turn"};
        return;
      }
      const ModuleResult result = UpdateOne(i);
      std::lock_guard lock(mutex_);
      report_.results[i] = result;
      if (result.outcome == Outcome::Failed) report_.failed = true;
    });
  }

  ModuleResult UpdateOne(std::size_t i) {
    const PlannedModule& m = plan_.modules[i];
    const std::string& version = plan_.target.version;
    Tell(i, Progress::Step::Started, "updating from " + m.identity.version + " to " + version);
    ModuleResult result{Outcome::Failed, ""};
    try {
      const std::unique_ptr<ops::ModuleSession> s = seams_.open(i);
      s->Identify();
      const Identity now = ReadIdentity(*s);
      // Another module may have taken the address since the plan was made.
      if (!m.identity.mac.empty() && now.mac != m.identity.mac)
        throw ops::OperationFailed("the module at " + m.label + " is now " + now.mac +
                                   ", not the planned " + m.identity.mac + "; nothing sent");
      const FirmwareOutcome outcome = ops::UpdateFirmware(
          *s, image_, nullptr, [&] { Tell(i, Progress::Step::Uploaded, "image sent"); });
      if (outcome != FirmwareOutcome::Verified)
        throw ops::OperationFailed("the module took the image unverified");
      if (!s->system().firmware.reboot_sent)
        throw ops::OperationFailed("the image was verified, but the reboot was not sent (" +
                                   s->app().Status() + ")");
      Tell(i, Progress::Step::Returning, "verified, rebooting");
      const std::string back = AwaitReturn(i, *s);
      result = {Outcome::Updated, "now runs " + back};
      Tell(i, Progress::Step::Updated, result.message);
    } catch (const std::exception& e) {
      result.message = e.what();
      Tell(i, Progress::Step::Failed, result.message);
    }
    Record(m, result);
    return result;
  }

  // Asks the rebooted module for its identity until it answers or the bound has passed; returns
  // the version it reports, which must be the new one.
  std::string AwaitReturn(std::size_t i, ops::ModuleSession& updated) {
    Sleeper& sleeper = updated.app().seams.sleeper;
    Network& network = updated.network();
    const auto start = network.Now();
    const auto bound = std::chrono::milliseconds(waits_.return_bound_ms);
    std::string last;
    for (int waited = 0;;) {
      sleeper.SleepMs(waits_.return_interval_ms);
      waited += waits_.return_interval_ms;
      try {
        const std::unique_ptr<ops::ModuleSession> s = seams_.open(i);
        s->Identify();
        const Identity back = ReadIdentity(*s);
        if (back.version != plan_.target.version)
          throw Final("came back running " + back.version + ", not " + plan_.target.version);
        return back.version;
      } catch (const Final&) {
        throw;
      } catch (const std::exception& e) {
        last = e.what();
      }
      if (waited >= waits_.return_bound_ms || network.Now() - start >= bound)
        throw ops::OperationFailed("did not come back within " + Seconds(waits_.return_bound_ms) +
                                   " after the reboot (" + last + ")");
    }
  }

  void Record(const PlannedModule& m, const ModuleResult& result) {
    if (!seams_.history) return;
    HistoryEntry entry{std::chrono::system_clock::now(),
                       m.identity.mac,
                       m.label,
                       m.identity.version,
                       plan_.target.version,
                       result.outcome == Outcome::Updated,
                       result.outcome == Outcome::Updated ? "" : result.message};
    try {
      seams_.history->Append(entry);
    } catch (const FileWriteError& e) {
      std::lock_guard lock(mutex_);
      if (report_.history_error.empty()) report_.history_error = e.what();
    }
  }

  const Plan& plan_;
  const std::string& image_;
  const Waits& waits_;
  const RolloutSeams& seams_;
  std::mutex mutex_;
  Report report_;
};

std::string Padded(const std::string& text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

Identity IdentifyModule(const SessionOpener& open, std::size_t i) {
  try {
    const std::unique_ptr<ops::ModuleSession> s = open(i);
    s->Identify();
    return ReadIdentity(*s);
  } catch (const std::exception& e) {
    Identity id;
    id.failure = e.what();
    return id;
  }
}

std::vector<Identity> IdentifyAll(std::size_t count, const SessionOpener& open) {
  std::vector<Identity> identities(count);
  engine::ForEachConcurrently(count,
                              [&](std::size_t i) { identities[i] = IdentifyModule(open, i); });
  return identities;
}

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::Skipped:
      return "skipped";
    case Outcome::Updated:
      return "updated";
    case Outcome::Failed:
      return "failed";
    case Outcome::NotTouched:
      return "not touched";
  }
  return "?";
}

Report Run(const Plan& plan, const std::string& image, const Waits& waits,
           const RolloutSeams& seams) {
  return Runner(plan, image, waits, seams).Run();
}

std::vector<std::string> ResultLines(const Plan& plan, const Report& report) {
  std::size_t width = std::string("module").size();
  std::size_t result_width = std::string("not touched").size();
  for (const PlannedModule& m : plan.modules) width = std::max(width, m.label.size());
  std::vector<std::string> lines;
  const auto row = [&](const std::string& module, const std::string& result,
                       const std::string& message) {
    std::string line = Padded(module, width) + "  " + Padded(result, result_width) + "  " + message;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  };
  row("module", "result", "message");
  std::size_t counts[4] = {};
  for (std::size_t i = 0; i < plan.modules.size(); ++i) {
    const ModuleResult& r = report.results[i];
    ++counts[static_cast<int>(r.outcome)];
    row(plan.modules[i].label, OutcomeWord(r.outcome), r.message);
  }
  lines.push_back(std::to_string(counts[static_cast<int>(Outcome::Updated)]) + " updated, " +
                  std::to_string(counts[static_cast<int>(Outcome::Skipped)]) + " skipped, " +
                  std::to_string(counts[static_cast<int>(Outcome::Failed)]) + " failed, " +
                  std::to_string(counts[static_cast<int>(Outcome::NotTouched)]) + " not touched");
  return lines;
}

}  // namespace zvk::rollout
