// The process-wide state of one running utility: the seams to the outside, the link, what the
// module reported, the measurements, the thermistor tables, the log and the status line. No
// window's controls live here. Created once at start and handed to the window models by
// reference; tests build as many as they need.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/device_config.h"
#include "link/discovery.h"
#include "link/host_interfaces.h"
#include "link/link.h"
#include "link/seams.h"
#include "link/tcp.h"
#include "state/measurement_state.h"
#include "state/transfer_buffer.h"
#include "thermistor/sensor_table.h"
#include "thermistor/user_curves.h"
#include "util/controls.h"

namespace zvk {

// What became of a supervision tick's data poll, for observers that follow the readings over time.
enum class PollOutcome {
  Readings,    // the poll was answered: the window shows fresh values
  NoReadings,  // the poll was due but brought nothing: not sent (module not found, not yet
               // identified, an earlier command still pending) or sent and not answered
  Paused,      // polling is paused while a modal window is open
};

struct Seams {
  Network& network;
  EventPump& pump;
  Sleeper& sleeper;
  HostInterfaces& hosts;
  Dialogs& dialogs;
};

class App final : public LinkReporter {
 public:
  explicit App(Seams seams)
      : seams(seams), link({seams.network, seams.pump, seams.hosts}, *this, device, discovery) {}
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  Seams seams;
  DiscoveryState discovery;
  DeviceConfig device;
  Link link;
  MeasurementState meas;
  SensorTable sensors = DefaultSensorTable();
  UserCurvePoints curves{};
  double VoltsPerCount = kDefaultVoltsPerCount;
  TransferBuffer transfer;  // TransferBuffer: the content of file writes and firmware uploads
  // How long a content's connection waits for the module's close before the content counts as
  // not delivered (kDeliveryWaitMs of admin/remote_files.h; tests shorten it).
  int delivery_wait_ms = 10000;

  // The progress gauge of file writes and firmware uploads: the setup window shows it as its
  // CGauge1, and the transfers drive it whether that window is on screen or not.
  Gauge gauge;

  // The hidden log (the main window's invisible memo Memo1): appended to, never shown. Only the
  // newest kLogLines are kept, so a module polled for days does not fill the memory.
  static constexpr std::size_t kLogLines = 10000;
  std::vector<std::string> log_lines;

  // Observers for a front end that mirrors the log and the status line (the command line's
  // --verbose, the tests).
  std::function<void(const std::string&)> on_log;
  std::function<void(const std::string&)> on_status;
  // Told after every supervision tick that was not put off by a busy link.
  std::function<void(PollOutcome)> on_poll;
  // The window that shows the status line (the main window's StatusBar2 panel 0).
  std::function<void(const std::string&)> show_status;
  // Repaints the main window (and what it shows of the gauge) in the middle of a transfer.
  std::function<void()> repaint_main_window;

  void Log(const std::string& line) override { Log(std::string(line)); }
  // A line made for the log is moved into it, not copied. The observer is told first, while the
  // line is still the caller's.
  void Log(std::string&& line) {
    if (on_log) on_log(line);
    log_lines.push_back(std::move(line));
    if (log_lines.size() > kLogLines) log_lines.erase(log_lines.begin());
  }
  void SetStatus(const std::string& text) override {
    status_ = text;
    if (show_status) show_status(text);
    if (on_status) on_status(text);
  }
  const std::string& Status() const override { return status_; }

 private:
  std::string status_;
};

}  // namespace zvk
