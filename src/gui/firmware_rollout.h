// "Update firmware…" of the Modules window: the staged rollout (src/rollout) over the modules
// selected there. The dialog takes the image, the version and the model, identifies the modules
// and shows the plan (the same as `zvk firmware --version --dry-run` prints) for confirmation;
// "Start" runs it. Identification and rollout run on a worker thread with sessions and sockets
// of their own, so the main window and its watched module go on undisturbed; each step reaches
// the dialog through the event loop, into the module's "Firmware" cell.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_limits.h"
#include "link/host_interfaces.h"
#include "link/seams.h"
#include "link/tcp.h"
#include "rollout/rollout.h"

namespace zvk::gui {

struct RolloutSeams {
  Network& network;                 // the sessions' sockets, from the worker thread
  HostInterfaces* hosts = nullptr;  // the Wi-Fi check's interfaces; null: the platform's
  std::uint16_t port = 0;           // the modules' command port
  Sleeper* sleeper = nullptr;       // the protocol's waits (shared by threads); null: real
  rollout::Waits waits;             // the return bound, its interval, the pause
};

class FirmwareRolloutDialog final : public QDialog {
  Q_OBJECT

 public:
  FirmwareRolloutDialog(std::vector<std::string> addresses, RolloutSeams seams,
                        QWidget* parent = nullptr);
  // Asks the worker to start no new module and waits for those under way.
  ~FirmwareRolloutDialog() override;

  // "Plan": checks the input, then identifies the modules on the worker; planReady() once the
  // plan is shown. False, with the reason on the status line, when the input is refused.
  bool MakePlan();
  // "Start": runs the plan shown; finished() at the end. False when there is no plan to run.
  bool Start();
  // "Stop": no further module is started.
  void Stop();
  bool busy() const { return worker_.joinable() && !worker_done_; }

  QLineEdit& image() { return *image_; }
  QLineEdit& version() { return *version_; }
  QComboBox& model() { return *model_; }
  QSpinBox& canary() { return *canary_; }
  QSpinBox& batch() { return *batch_; }
  QTableWidget& table() { return *table_; }
  QLabel& status() { return *status_; }
  QPushButton& start_button() { return *start_; }
  const std::optional<rollout::Report>& report() const { return report_; }

  enum Column { kAddress, kMac, kVersion, kStage, kFirmware };

 signals:
  void planReady();
  void finished();

 private:
  void Build();
  void ShowPlan(rollout::Plan plan);
  void ShowProgress(const rollout::Progress& progress);
  void Done(rollout::Report report);
  void SetCell(int row, int column, const std::string& text);
  // Every column as wide as its contents, and the dialog wide enough for all of them.
  void FitColumns();
  std::unique_ptr<ops::ModuleSession> Open(std::size_t i) const;
  void Join();

  std::vector<std::string> addresses_;
  RolloutSeams seams_;
  QLineEdit* image_ = nullptr;
  QLineEdit* version_ = nullptr;
  QComboBox* model_ = nullptr;
  QSpinBox* canary_ = nullptr;
  QSpinBox* batch_ = nullptr;
  QPushButton* plan_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* status_ = nullptr;

  std::optional<rollout::Plan> plan_made_;
  std::optional<rollout::Report> report_;
  std::unique_ptr<engine::StopFlag> stop_flag_;  // one a rollout
  std::thread worker_;
  bool worker_done_ = true;
};

}  // namespace zvk::gui
