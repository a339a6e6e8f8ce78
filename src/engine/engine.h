// A long run over one module or many: each module's session with its poller, identified at the
// start on the pool, then polled round by round (all modules at once), every round's samples
// handed to the sinks in the modules' order, until the run's limits end it; then the sinks are
// finished. What each module says goes to its lines; the front end builds its live status from
// the report after each round.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/module_lines.h"
#include "engine/poller.h"
#include "engine/run_limits.h"
#include "engine/sink.h"
#include "operations/module_session.h"

namespace zvk::engine {

// A module that has not described itself is asked again after this, then after twice as long
// each time, up to the longest wait.
inline constexpr std::chrono::seconds kFirstRetry{1};
inline constexpr std::chrono::seconds kLongestRetry{30};

// The sinks of a run, and which of them took which module. The engine uses one; a front end that
// polls a module itself (the main window's watched module) hands its samples to one directly.
// Not for several threads at once.
class SinkSet {
 public:
  void Add(Sink& sink) { sinks_.push_back({&sink, {}}); }
  // Between rounds: a sink that joins a run under way, asked to take module `index` (the other
  // sinks are not asked again); returns its refusal, empty when it took it.
  std::string AddTaking(Sink& sink, std::size_t index, const ModuleEntry& module,
                        const ModuleIdentity& identity);
  // Between rounds: the sink is told nothing more (its Finish is the caller's).
  void Remove(Sink& sink);
  // Each sink's Admit; returns the reasons of the sinks that left the module out.
  std::vector<std::string> Admit(std::size_t index, const ModuleEntry& module,
                                 const ModuleIdentity& identity);
  // To every sink that took the module; a SinkError ends the run.
  void Receive(std::size_t index, const Sample& sample);
  void EndRound();
  // Every sink's Finish (all of them, whatever one says); false when one left something undone.
  bool Finish(Clock::time_point deadline);
  std::size_t size() const { return sinks_.size(); }
  Sink& sink(std::size_t i) { return *sinks_[i].sink; }
  // Whether the sink `i` took module `index` (false before it was asked).
  bool Takes(std::size_t i, std::size_t index) const {
    return index < sinks_[i].takes.size() && sinks_[i].takes[index];
  }

 private:
  struct Entry {
    Sink* sink;
    std::vector<char> takes;  // per module index
  };
  std::vector<Entry> sinks_;
};

// One module of a run: how the sinks name it, and its session, opened (Open) and possibly already
// identified.
struct EngineModule {
  ModuleEntry entry;
  ops::ModuleSession* session = nullptr;
};

struct EngineOptions {
  RunLimits limits;
  // Ends the message that tells a module was lost: what becomes of its samples meanwhile.
  std::string gap_note;
  // False: a module that does not describe itself at the start is taken at once and starts lost
  // (its samples are gaps until it answers). True: it is not polled and not admitted until it
  // describes itself, asked again with a back-off (kFirstRetry doubling to kLongestRetry).
  bool identity_first = false;
  // With identity_first: ends the line that tells a module did not describe itself at the start
  // ("not answering yet (WHY); " and this): what the run does about it.
  std::string waiting_note = "asked again until it describes itself";
  // How long the sinks have to deliver what they still hold when the run ends.
  std::chrono::milliseconds finish_wait{5000};
};

struct ModuleState {
  bool waiting = false;     // has not described itself yet (identity_first): not polled
  std::string why_waiting;  // why, while waiting
  bool admitted = false;    // the sinks were asked to take it
  bool answered = false;    // a poll brought readings at least once during the run
  Sample last;              // the sample of the last round (a gap while waiting)
};

class Engine {
 public:
  Engine(std::vector<EngineModule> modules, ModuleLines& lines, SinkSet& sinks,
         EngineOptions options);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Identifies every module not yet identified, all at once, and admits those the options let
  // in. Run calls it when it was not called before.
  void Start();
  // The rounds until the limits or `stop` end the run; `after_round` is called after each, once
  // its samples went to the sinks. Then every sink is finished (also when a SinkError ends the
  // run, which is then thrown again). Returns what the sinks' Finish said.
  bool Run(StopSignal& stop, const std::function<void()>& after_round = nullptr);

  std::size_t size() const { return modules_.size(); }
  std::size_t rounds() const { return rounds_; }
  const ModuleState& state(std::size_t i) const { return states_[i]; }
  const ModulePoller& poller(std::size_t i) const { return *pollers_[i]; }

 private:
  void Admit(std::size_t i);
  void AskWaiting();
  void PollAll();

  std::vector<EngineModule> modules_;
  ModuleLines& lines_;
  SinkSet& sinks_;
  EngineOptions options_;
  std::vector<std::unique_ptr<ModulePoller>> pollers_;
  std::vector<ModuleState> states_;
  std::vector<Clock::time_point> next_ask_;
  std::vector<Clock::duration> backoff_;
  bool started_ = false;
  std::size_t rounds_ = 0;
};

}  // namespace zvk::engine
