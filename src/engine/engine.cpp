#include "engine/engine.h"

#include <algorithm>
#include <stdexcept>

#include "engine/pool.h"
#include "monitor/main_form.h"
#include "record/timestamp.h"

namespace zvk::engine {

namespace {

// work(i) for every module: a lone module's on the run's own thread, many at once on the pool.
void OnEach(std::size_t count, const std::function<void(std::size_t)>& work) {
  if (count == 1) {
    work(0);
    return;
  }
  ForEachConcurrently(count, work);
}

}  // namespace

std::vector<std::string> SinkSet::Admit(std::size_t index, const ModuleEntry& module,
                                        const ModuleIdentity& identity) {
  std::vector<std::string> refusals;
  for (Entry& e : sinks_) {
    if (e.takes.size() <= index) e.takes.resize(index + 1, 0);
    std::string why = e.sink->Admit(index, module, identity);
    e.takes[index] = why.empty();
    if (!why.empty()) refusals.push_back(std::move(why));
  }
  return refusals;
}

std::string SinkSet::AddTaking(Sink& sink, std::size_t index, const ModuleEntry& module,
                               const ModuleIdentity& identity) {
  std::string why = sink.Admit(index, module, identity);
  std::vector<char> takes(index + 1, 0);
  takes[index] = why.empty();
  sinks_.push_back({&sink, std::move(takes)});
  return why;
}

void SinkSet::Remove(Sink& sink) {
  std::erase_if(sinks_, [&](const Entry& e) { return e.sink == &sink; });
}

void SinkSet::Receive(std::size_t index, const Sample& sample) {
  for (Entry& e : sinks_)
    if (index < e.takes.size() && e.takes[index]) e.sink->Receive(index, sample);
}

void SinkSet::EndRound() {
  for (Entry& e : sinks_) e.sink->EndRound();
}

bool SinkSet::Finish(Clock::time_point deadline) {
  bool all = true;
  for (Entry& e : sinks_) all = e.sink->Finish(deadline) && all;
  return all;
}

Engine::Engine(std::vector<EngineModule> modules, ModuleLines& lines, SinkSet& sinks,
               EngineOptions options)
    : modules_(std::move(modules)),
      lines_(lines),
      sinks_(sinks),
      options_(std::move(options)),
      states_(modules_.size()),
      next_ask_(modules_.size()),
      backoff_(modules_.size(), kFirstRetry) {
  for (std::size_t i = 0; i < modules_.size(); ++i)
    pollers_.push_back(std::make_unique<ModulePoller>(
        *modules_[i].session, [this, i](const std::string& m) { lines_.Tell(i, m); },
        options_.gap_note));
}

Engine::~Engine() = default;

void Engine::Admit(std::size_t i) {
  states_[i].admitted = true;
  states_[i].waiting = false;
  states_[i].why_waiting.clear();
  const DeviceConfig& device = modules_[i].session->app().device;
  const ModuleIdentity identity = device.Identified ? ModuleOf(device) : ModuleIdentity{};
  for (const std::string& why : sinks_.Admit(i, modules_[i].entry, identity)) lines_.Tell(i, why);
}

void Engine::Start() {
  if (started_) return;
  started_ = true;
  const std::size_t n = modules_.size();
  std::vector<std::string> failures(n);
  OnEach(n, [&](std::size_t i) {
    ops::ModuleSession& s = *modules_[i].session;
    if (s.app().device.Identified) return;
    try {
      s.Identify();
    } catch (const std::runtime_error& e) {
      failures[i] = e.what();
    }
  });
  for (std::size_t i = 0; i < n; ++i) {
    if (failures[i].empty()) {
      Admit(i);
    } else if (options_.identity_first) {
      states_[i].waiting = true;
      states_[i].why_waiting = failures[i];
      next_ask_[i] = Clock::now() + kFirstRetry;
      lines_.Tell(i, "not answering yet (" + failures[i] + "); " + options_.waiting_note);
    } else {
      pollers_[i]->StartLost(failures[i]);
      Admit(i);
    }
  }
  lines_.Flush();
}

void Engine::AskWaiting() {
  for (std::size_t i = 0; i < modules_.size(); ++i) {
    ModuleState& st = states_[i];
    if (!st.waiting || Clock::now() < next_ask_[i]) continue;
    try {
      pollers_[i]->AskIdentity();
    } catch (const std::runtime_error& e) {
      st.why_waiting = e.what();
      next_ask_[i] = Clock::now() + backoff_[i];
      backoff_[i] = std::min<Clock::duration>(backoff_[i] * 2, kLongestRetry);
      continue;
    }
    lines_.Tell(i, LocalTimestamp(std::chrono::system_clock::now()) +
                       " the module describes itself now (" +
                       modules_[i].session->window().form.module_state.caption + ")");
    Admit(i);
  }
}

void Engine::PollAll() {
  const auto poll = [this](std::size_t i) {
    ModuleState& st = states_[i];
    if (st.waiting) {
      st.last = Sample();
      st.last.time = std::chrono::system_clock::now();
      return;
    }
    st.last = pollers_[i]->Poll();
    st.answered |= st.last.kind == SampleKind::Readings;
  };
  OnEach(modules_.size(), poll);
}

bool Engine::Run(StopSignal& stop, const std::function<void()>& after_round) {
  Start();
  RoundTimer timer(options_.limits, stop);
  try {
    while (timer.Next()) {
      ++rounds_;
      AskWaiting();
      PollAll();
      lines_.Flush();
      for (std::size_t i = 0; i < modules_.size(); ++i)
        if (states_[i].admitted) sinks_.Receive(i, states_[i].last);
      sinks_.EndRound();
      lines_.Flush();
      if (after_round) after_round();
    }
  } catch (const SinkError&) {
    lines_.Flush();
    sinks_.Finish(Clock::now() + options_.finish_wait);
    throw;
  }
  return sinks_.Finish(Clock::now() + options_.finish_wait);
}

}  // namespace zvk::engine
