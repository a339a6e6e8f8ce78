// The process-wide state of one running utility: link state, reported configuration,
// measurements, thermistor tables, the main window's controls and the seams to the outside.
// Created once at start and handed to the windows by reference; tests build as many as they need.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/device_info.h"
#include "link/host_interfaces.h"
#include "link/link_state.h"
#include "link/seams.h"
#include "link/tcp.h"
#include "monitor/main_form.h"
#include "monitor/measurement.h"
#include "thermistor/sensor_table.h"
#include "thermistor/user_curves.h"

namespace zvk {

struct Seams {
  Network& network;
  EventPump& pump;
  Sleeper& sleeper;
  HostInterfaces& hosts;
  Dialogs& dialogs;
};

struct DiscoveryState {
  std::string SubnetPrefix = wire::kDefaultSubnetPrefix;
  bool PollingEnabled = false;
  std::uint8_t SupervisionTicks = 0;
  // Scan results; a failed wireless query leaves the previous scan's list in place.
  std::vector<AdapterInfo> adapters;
  std::vector<WirelessInterface> wireless;
};

class App;

struct LinkHooks {
  std::array<std::function<void(App&)>, 256> reissuers;
  std::vector<std::function<void(App&)>> after_exchange;
};

class App {
 public:
  explicit App(Seams seams) : seams(seams) {}
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  Seams seams;
  LinkState link;
  DiscoveryState discovery;
  DeviceConfig device;
  MeasurementState meas;
  SensorTable sensors = DefaultSensorTable();
  UserCurvePoints curves{};
  double VoltsPerCount = kDefaultVoltsPerCount;
  MainForm form;
  LinkHooks hooks;

  // Observers for a front end that mirrors the log and the status line (the command line's
  // --verbose); the window itself reads the controls.
  std::function<void(const std::string&)> on_log;
  std::function<void(const std::string&)> on_status;

  void Log(std::string line) {
    form.Memo1.lines.push_back(std::move(line));
    if (on_log) on_log(form.Memo1.lines.back());
  }
  void SetStatus(const std::string& text) {
    form.StatusBar2.panels[0] = text;
    if (on_status) on_status(text);
  }
  const std::string& Status() const { return form.StatusBar2.panels[0]; }
};

}  // namespace zvk
