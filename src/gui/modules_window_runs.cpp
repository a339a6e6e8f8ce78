// "Record…" and "Publish…" of the Modules window: the runs over the listed modules, their
// buttons, the "Run" column and the line under the table. "Publish…" itself is wired in
// modules_window_publish where the build has the MQTT client.
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <map>

#include "engine/csv_sink.h"
#include "gui/modules_window_view.h"
#include "record/recorder.h"
#include "state/app.h"
#include "util/file_path.h"

namespace zvk::gui {

namespace {

// The runs poll as the main window does.
constexpr double kRunIntervalS = 3.1;

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

std::vector<RunTarget> ModulesWindowView::Targets() const {
  std::map<std::string, int> names;
  for (const ListedModule& m : list_.modules()) ++names[m.row.name];
  std::vector<RunTarget> targets;
  for (const ListedModule& m : list_.modules()) {
    const bool unique = !m.row.name.empty() && names[m.row.name] == 1;
    targets.push_back({unique ? m.row.name : m.row.address, m.row.address, app_.link.DevicePort});
  }
  return targets;
}

bool ModulesWindowView::StartRecording(const QString& path) {
  if (running(RunKind::Record)) return false;
  if (list_.modules().empty()) {
    show_error(QStringLiteral("Record"), QStringLiteral("No modules listed: scan first."));
    return false;
  }
  const std::filesystem::path file = PathFromUtf8(path.toStdString());
  std::unique_ptr<engine::CsvSink> sink;
  try {
    // What it has to tell goes to the run's lines, through the run (it is called on its thread).
    sink = std::make_unique<engine::CsvSink>(file, PathToUtf8(file.filename()),
                                             CsvRecorder::LongForm{},
                                             [this](std::size_t i, const std::string& message) {
                                               runs_[Slot(RunKind::Record)].run->Tell(i, message);
                                             });
  } catch (const RecordError& e) {
    show_error(QStringLiteral("Record"), Text(e.what()));
    return false;
  }
  runs_[Slot(RunKind::Record)].target = PathToUtf8(file.filename());
  engine::EngineOptions options;
  options.gap_note = "the rows are gaps until the module answers";
  StartRun(RunKind::Record, std::move(sink), std::move(options), nullptr);
  return true;
}

void ModulesWindowView::StartRun(RunKind kind, std::unique_ptr<engine::Sink> sink,
                                 engine::EngineOptions options, std::function<void()> prepare) {
  ActiveRun& r = runs_[Slot(kind)];
  options.limits.interval_s = kRunIntervalS;
  options.limits.shortest_interval_s = kRunIntervalS;
  const std::vector<RunTarget> targets = Targets();
  r.addresses.clear();
  for (const RunTarget& t : targets) r.addresses.push_back(t.host);
  r.last = RunProgress();
  r.last.modules.resize(targets.size());
  r.stopping = false;
  r.ended.clear();
  r.sink = std::move(sink);
  QPointer<ModulesWindowView> self(this);
  ModulesRun::Hooks hooks;
  hooks.prepare = std::move(prepare);
  hooks.progress = [self, kind](RunProgress progress) {
    QMetaObject::invokeMethod(
        self,
        [self, kind, progress = std::move(progress)]() mutable {
          if (self) self->Progressed(kind, std::move(progress));
        },
        Qt::QueuedConnection);
  };
  hooks.finished = [self, kind](RunEnd end) {
    QMetaObject::invokeMethod(
        self,
        [self, kind, end = std::move(end)]() mutable {
          if (self) self->Ended(kind, std::move(end));
        },
        Qt::QueuedConnection);
  };
  r.run = std::make_unique<ModulesRun>(network_, targets, *r.sink, std::move(options),
                                       std::move(hooks));
  r.run->Start();
  ShowRuns();
}

void ModulesWindowView::StopRun(RunKind kind) {
  ActiveRun& r = runs_[Slot(kind)];
  if (!r.run || r.stopping) return;
  r.stopping = true;
  r.run->Stop();
  ShowRuns();
}

void ModulesWindowView::Progressed(RunKind kind, RunProgress progress) {
  ActiveRun& r = runs_[Slot(kind)];
  if (!r.run) return;
  std::vector<std::string> lines = std::move(r.last.lines);
  lines.insert(lines.end(), progress.lines.begin(), progress.lines.end());
  r.last = std::move(progress);
  r.last.lines = std::move(lines);
  ShowRuns();
  emit runProgressed();
}

void ModulesWindowView::Ended(RunKind kind, RunEnd end) {
  ActiveRun& r = runs_[Slot(kind)];
  r.run.reset();  // its thread has ended: joined at once
  r.sink.reset();
  r.stopping = false;
  std::string text = std::string(kind == RunKind::Record ? "Recorded " : "Published ") +
                     "the listed modules: " + end.summary;
  if (!end.error.empty()) text += " (" + end.error + ")";
  r.ended = text;
  ShowRuns();
  if (!end.error.empty())
    show_error(kind == RunKind::Record ? QStringLiteral("Record") : QStringLiteral("Publish"),
               Text(end.error));
  emit runFinished();
}

std::string ModulesWindowView::RunOf(const std::string& address, std::string* why) const {
  std::string doing;
  std::string trouble;
  for (const ActiveRun& r : runs_) {
    if (!r.run) continue;
    for (std::size_t i = 0; i < r.addresses.size() && i < r.last.modules.size(); ++i) {
      if (r.addresses[i] != address) continue;
      doing += (doing.empty() ? "" : ", ") + r.doing;
      const RunModuleState& m = r.last.modules[i];
      const char* state = m.what == RunModuleState::What::Lost       ? "lost"
                          : m.what == RunModuleState::What::Waiting  ? "waiting"
                          : m.what == RunModuleState::What::Starting ? "starting"
                          : m.what == RunModuleState::What::LeftOut  ? "left out"
                                                                     : "";
      if (*state && trouble.empty()) trouble = state;
      if (why && !m.why.empty() && why->find(m.why) == std::string::npos)
        *why += (why->empty() ? "" : "\n") + m.why;
    }
  }
  return trouble.empty() ? doing : doing + " (" + trouble + ")";
}

void ModulesWindowView::ShowRuns() {
  QStringList status;
  QStringList said;
  for (ActiveRun& r : runs_) {
    if (!r.button) continue;
    r.button->setText(r.run ? (r.stopping ? QStringLiteral("Stopping\u2026") : r.running_text)
                            : r.idle_text);
    r.button->setEnabled(!r.stopping);
    if (r.run) {
      std::string line = (r.doing == "recording" ? "Recording to " : "Publishing to ") + r.target;
      if (!r.last.sink_status.empty()) line += ": " + r.last.sink_status;
      status << Text(line);
      // What the modules said lately, module texts shown as text.
      const std::size_t from = r.last.lines.size() > 12 ? r.last.lines.size() - 12 : 0;
      for (std::size_t i = from; i < r.last.lines.size(); ++i) said << Text(r.last.lines[i]);
    } else if (!r.ended.empty()) {
      status << Text(r.ended);
    }
  }
  run_status_->setText(status.join(QStringLiteral("\n")));
  run_status_->setToolTip(said.isEmpty() ? QString()
                                         : said.join(QStringLiteral("\n")).toHtmlEscaped());
  const bool any = runs_[0].run || runs_[1].run;
  bool changed = table_->isColumnHidden(kRun) == any;
  table_->setColumnHidden(kRun, !any);
  for (int row = 0; row < table_->rowCount(); ++row) {
    const QTableWidgetItem* item = table_->item(row, kAddress);
    QTableWidgetItem* run = table_->item(row, kRun);
    if (!item || !run) continue;
    std::string why;
    const QString text = Text(RunOf(item->text().toStdString(), &why));
    run->setToolTip(Text(why).toHtmlEscaped());
    if (run->text() != text) {
      run->setText(text);
      changed = true;
    }
  }
  if (changed) FitColumns();
}

#ifndef ZVK_MODULES_PUBLISH
void ModulesWindowView::SetUpPublishing() {
  runs_[Slot(RunKind::Publish)].button->hide();
}

bool ModulesWindowView::StartPublishing(PublishChoice) {
  show_error(QStringLiteral("Publish"),
             QStringLiteral("This build has no MQTT client: publishing is not available."));
  return false;
}
#endif

}  // namespace zvk::gui
