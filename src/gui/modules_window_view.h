// The "Modules" window: scans the network for modules, lists them in a sortable table with a live
// state, and on a double click makes a module the one the main window watches, as typing its
// address and pressing "Static IP" does. The scan runs on a worker thread of its own (with a
// network of its own), so the window and the main window's polling go on meanwhile; each module
// found is posted back to the window as it answers. The state of the watched module follows the
// main window's own polls; the others are asked again now and then, the same way.
// "Record…" and "Publish…" run the engine over every listed module (ModulesRun), each on a
// worker thread of its own: the long form of a CSV recording, the MQTT gateway. The "Run" column
// shows what each run does with each module; stopping finishes the sink on the run's thread.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "fleet/scan.h"
#include "fleet/scan_list.h"
#include "gui/firmware_rollout.h"
#include "gui/modules_run.h"
#include "gui/publish_dialog.h"
#include "gui/qt_seams.h"
#include "link/host_interfaces.h"
#include "link/tcp.h"
#include "rollout/rollout.h"

namespace zvk {
class App;
}  // namespace zvk

namespace zvk::gui {

class ModulesWindowView final : public QWidget {
  Q_OBJECT

 public:
  // `network` carries the connections of the scan and the runs (on their worker threads, several
  // at once); `hosts` gives
  // the default ranges. `watch` makes an address the main window's module.
  ModulesWindowView(App& app, Network& network, HostInterfaces& hosts,
                    std::function<void(const std::string& address)> watch,
                    QWidget* parent = nullptr);
  ~ModulesWindowView() override;

  // Starts a scan of the ranges typed (default: the host's subnets); false with the reason on
  // the status line when there is nothing to scan or a scan is running.
  bool StartScan();
  void StopScan();
  bool scanning() const { return worker_.joinable() && !finished_; }
  // Asks the listed modules other than the watched one whether they still answer, on a worker
  // thread; the timer does so every kProbeIntervalMs while the window is open. False when it is
  // closed, a scan or a probe is running, or there is nothing to ask.
  bool ProbeListed();
  bool probing() const { return probe_.joinable() && !probe_finished_; }
  static constexpr int kProbeIntervalMs = 30000;

  // "Update firmware…": the staged rollout over the selected modules, in a dialog of its own
  // (gui/firmware_rollout.h); null, with the reason on the status line, when none is selected.
  FirmwareRolloutDialog* OpenFirmwareRollout();
  std::vector<std::string> SelectedAddresses() const;
  // The rollout's waits, and the sleeper of its protocol waits (null: real); tests shorten them.
  rollout::Waits rollout_waits;
  Sleeper* rollout_sleeper = nullptr;
  // The interfaces of the rollout sessions' Wi-Fi check, as the main window's (null: the scan's).
  HostInterfaces* rollout_hosts = nullptr;

  const ScanList& list() const { return list_; }
  QTableWidget& table() { return *table_; }
  QLineEdit& ranges() { return *ranges_; }
  QLabel& status() { return *status_; }
  // The hint an empty table shows.
  QLabel& empty_hint() { return *empty_hint_; }

  // The runs over the listed modules. Each button starts its run, or stops the one running.
  enum class RunKind { Record, Publish };
  QPushButton& run_button(RunKind kind) { return *runs_[Slot(kind)].button; }
  // "Recording to fleet.csv: 12 rows, 0 gaps", "Publishing to mqtt://…: …", or how it ended.
  QLabel& run_status() { return *run_status_; }
  bool running(RunKind kind) const { return runs_[Slot(kind)].run != nullptr; }
  // Records every listed module to `path`, the long form; false with the reason shown when the
  // file is refused or nothing is listed.
  bool StartRecording(const QString& path);
  // Publishes every listed module through one gateway (a connection of its own to the broker,
  // made on the run's thread); false with the reason shown when nothing is listed or the build
  // has no MQTT client.
  bool StartPublishing(PublishChoice choice);
  // Asks the run to end; its sink is finished on the run's thread and `runFinished` follows.
  void StopRun(RunKind kind);
  // Asks for the broker: none when the user cancelled. The dialog offers the last choice of the
  // program's run, never the password. Tests put their own here.
  std::function<std::optional<PublishChoice>(QWidget* parent)> ask_publish;

  // The save dialog and the error box; tests put their own here.
  SaveFileChooser choose_file;
  ErrorReporter show_error;

  // Column of each field in the table.
  enum Column { kAddress, kModel, kName, kLocation, kFirmware, kMac, kRssi, kWifi, kState, kRun };

 signals:
  void scanFinished();
  void probeFinished();
  // A round of a run was shown.
  void runProgressed();
  void runFinished();

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  // Closing the window ends its runs (their sinks finished in the background).
  void closeEvent(QCloseEvent* e) override;

 private:
  void Build();
  void ShowRow(const ListedModule& module);
  void RefreshStates();
  void Finished(ScanResult result, std::string ranges);
  void ProbeFinished(ScanResult result, std::vector<std::string> addresses);
  void StopProbe();
  // Every column as wide as its contents, and the window wide enough for all of them.
  void FitColumns();
  void PlaceEmptyHint();
  std::string StateOf(const ListedModule& module) const;

  struct ActiveRun {
    QPushButton* button = nullptr;
    QString idle_text;     // "Record…"
    QString running_text;  // "Stop recording"
    std::string doing;     // "recording"
    std::string target;    // the file or the broker, for the status line
    std::unique_ptr<engine::Sink> sink;
    std::unique_ptr<ModulesRun> run;  // destroyed (joined) before the sink
    std::vector<std::string> addresses;
    RunProgress last;
    bool stopping = false;
    std::string ended;  // how the last run ended, for the status line
  };
  static std::size_t Slot(RunKind kind) { return kind == RunKind::Record ? 0 : 1; }
  // The listed modules as the run names them: by name where it is unique, else by address.
  std::vector<RunTarget> Targets() const;
  void StartRun(RunKind kind, std::unique_ptr<engine::Sink> sink, engine::EngineOptions options,
                std::function<void()> prepare);
  void Progressed(RunKind kind, RunProgress progress);
  void Ended(RunKind kind, RunEnd end);
  void ShowRuns();
  // Wires "Publish…" where the build has the MQTT client; hides it elsewhere.
  void SetUpPublishing();
  // "recording, publishing", "recording (lost)"; why it is lost or waiting into `why`.
  std::string RunOf(const std::string& address, std::string* why = nullptr) const;

  App& app_;
  Network& network_;
  HostInterfaces& hosts_;
  std::function<void(const std::string&)> watch_;
  ScanList list_;
  QLineEdit* ranges_ = nullptr;
  QPushButton* scan_button_ = nullptr;
  QPushButton* update_button_ = nullptr;
  std::unique_ptr<FirmwareRolloutDialog> rollout_;
  QTableWidget* table_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* empty_hint_ = nullptr;
  QTimer state_timer_;
  QTimer probe_timer_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  bool finished_ = true;
  std::thread probe_;
  std::atomic<bool> probe_stop_{false};
  bool probe_finished_ = true;
  ActiveRun runs_[2];
  std::optional<PublishChoice> last_publish_;  // without the password
  QLabel* run_status_ = nullptr;
};

}  // namespace zvk::gui
