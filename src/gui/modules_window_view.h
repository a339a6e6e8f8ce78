// The "Modules" window: scans the network for modules, lists them in a sortable table with a live
// state, and on a double click makes a module the one the main window watches, as typing its
// address and pressing "Static IP" does. The scan runs on a worker thread of its own (with a
// network of its own), so the window and the main window's polling go on meanwhile; each module
// found is posted back to the window as it answers. The state of the watched module follows the
// main window's own polls; the others are asked again now and then, the same way.
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

#include "fleet/scan.h"
#include "fleet/scan_list.h"
#include "gui/firmware_rollout.h"
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
  // `network` carries the scan's connections (used on the worker thread only); `hosts` gives
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

  // Column of each field in the table.
  enum Column { kAddress, kModel, kName, kLocation, kFirmware, kMac, kRssi, kWifi, kState };

 signals:
  void scanFinished();
  void probeFinished();

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

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
};

}  // namespace zvk::gui
