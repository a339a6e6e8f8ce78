#include "gui/modules_run.h"

#include <memory>
#include <sstream>
#include <stdexcept>

#include "operations/module_session.h"

namespace zvk::gui {

namespace {

std::vector<std::string> TakeLines(std::ostringstream& out) {
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  out.str("");
  return lines;
}

}  // namespace

ModulesRun::ModulesRun(Network& network, std::vector<RunTarget> targets, engine::Sink& sink,
                       engine::EngineOptions options, Hooks hooks)
    : network_(network),
      targets_(std::move(targets)),
      sink_(sink),
      options_(std::move(options)),
      hooks_(std::move(hooks)) {}

ModulesRun::~ModulesRun() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void ModulesRun::Start() {
  thread_ = std::thread([this] { Run(); });
}

void ModulesRun::Tell(std::optional<std::size_t> module, const std::string& line) {
  if (module && lines_)
    lines_->Tell(*module, line);
  else
    said_ << "zvk: " << line << '\n';
}

void ModulesRun::Run() {
  RunEnd end;
  std::ostringstream& said = said_;
  try {
    if (hooks_.prepare) hooks_.prepare();
    std::vector<std::string> labels;
    for (const RunTarget& t : targets_) labels.push_back(t.label);
    engine::ModuleLines lines(said, labels);
    lines_ = &lines;
    // Each module's own session: nobody to answer a box, and the Wi-Fi check is the main
    // window's (the scan found every listed module answering).
    std::vector<std::unique_ptr<ops::RecordedDialogs>> dialogs;
    std::vector<std::unique_ptr<ops::ModuleSession>> sessions;
    std::vector<engine::EngineModule> modules;
    for (const RunTarget& t : targets_) {
      dialogs.push_back(std::make_unique<ops::RecordedDialogs>());
      ops::ModuleOptions options;
      options.host = t.host;
      options.port = t.port;
      options.skip_wifi_check = true;
      sessions.push_back(std::make_unique<ops::ModuleSession>(
          ops::ModuleSeams{network_, *dialogs.back()}, std::move(options)));
      sessions.back()->Open();
      modules.push_back({{t.label, t.host + ":" + std::to_string(t.port)}, sessions.back().get()});
    }
    engine::SinkSet sinks;
    sinks.Add(sink_);
    engine::Engine run(std::move(modules), lines, sinks, options_);
    const auto report = [&] {
      RunProgress progress;
      progress.rounds = run.rounds();
      for (std::size_t i = 0; i < run.size(); ++i) {
        RunModuleState m;
        const engine::ModuleState& st = run.state(i);
        if (st.admitted && !sinks.Takes(0, i)) {
          m.what = RunModuleState::What::LeftOut;
        } else if (st.waiting) {
          m.what = RunModuleState::What::Waiting;
          m.why = st.why_waiting;
        } else if (run.poller(i).lost()) {
          m.what = RunModuleState::What::Lost;
          m.why = run.poller(i).lost_reason();
        } else if (run.rounds() > 0) {
          m.what = RunModuleState::What::Running;
        }
        progress.modules.push_back(std::move(m));
      }
      progress.sink_status = sink_.Status();
      progress.lines = TakeLines(said);
      if (hooks_.progress) hooks_.progress(std::move(progress));
    };
    run.Start();
    report();
    try {
      end.delivered = run.Run(stop_, report);
    } catch (const engine::SinkError& e) {
      end.error = e.what();
    }
    lines.Flush();
    lines_ = nullptr;
  } catch (const std::runtime_error& e) {
    lines_ = nullptr;
    end.error = e.what();
  }
  end.summary = sink_.Summary();
  end.lines = TakeLines(said);
  done_ = true;
  if (hooks_.finished) hooks_.finished(std::move(end));
}

}  // namespace zvk::gui
