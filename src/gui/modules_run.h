// A long run over the modules the Modules window lists: the engine over a session of each module
// (its own connections, its own window model), polled together at the interval, every sample
// handed to one sink (the long form of a CSV recording, or the MQTT gateway). The run goes on a
// worker thread of its own; what it has to say comes to `progress` after every round and to
// `finished` once the sink was finished, on that thread: the window posts both to its event
// loop. Destroying the run stops it and waits for its thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/module_lines.h"
#include "engine/run_limits.h"
#include "engine/sink.h"
#include "link/tcp.h"

namespace zvk::gui {

// One module of the run, and how the sink names it.
struct RunTarget {
  std::string label;
  std::string host;
  std::uint16_t port = 0;
};

// Where one module of the run stands.
struct RunModuleState {
  // LeftOut: the sink refused it (the gateway, a module without a MAC); its lines say why.
  enum class What { Starting, Running, Lost, Waiting, LeftOut };
  What what = What::Starting;
  std::string why;  // Lost, Waiting: the reason
};

struct RunProgress {
  std::size_t rounds = 0;
  std::vector<RunModuleState> modules;
  std::string sink_status;  // the sink's Status()
  std::vector<std::string>
      lines;  // what the modules said since the last report ("LABEL: zvk: ...")
};

struct RunEnd {
  std::string error;    // why the run could not start or a sink ended it; empty when stopped
  std::string summary;  // the sink's Summary()
  bool delivered = true;
  std::vector<std::string> lines;
};

class ModulesRun {
 public:
  struct Hooks {
    // On the run's thread before the modules are asked anything (the gateway's connection);
    // throws std::runtime_error when the run cannot go on.
    std::function<void()> prepare;
    std::function<void(RunProgress)> progress;
    std::function<void(RunEnd)> finished;
  };
  // `network` carries the sessions' connections (several threads at once). The sink outlives
  // the run.
  ModulesRun(Network& network, std::vector<RunTarget> targets, engine::Sink& sink,
             engine::EngineOptions options, Hooks hooks);
  ~ModulesRun();
  ModulesRun(const ModulesRun&) = delete;
  ModulesRun& operator=(const ModulesRun&) = delete;

  void Start();
  // Asks the run to end after the round it is in; the sink is finished on the run's thread.
  void Stop() { stop_.Request(); }
  bool done() const { return done_; }
  // A line of the sink (the gateway's news), of one module or of the run; only on the run's
  // thread, from the sink.
  void Tell(std::optional<std::size_t> module, const std::string& line);
  const std::vector<RunTarget>& targets() const { return targets_; }

 private:
  void Run();

  Network& network_;
  std::vector<RunTarget> targets_;
  engine::Sink& sink_;
  engine::EngineOptions options_;
  Hooks hooks_;
  engine::StopFlag stop_;
  std::ostringstream said_;  // the lines told since the last report
  engine::ModuleLines* lines_ = nullptr;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace zvk::gui
