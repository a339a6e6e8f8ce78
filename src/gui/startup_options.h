// The command line of zvk-analog. The utility itself has none; these options serve scripts and
// machines whose Wi-Fi check cannot succeed (a module on loopback or in another subnet).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>

namespace zvk::gui {

struct StartupOptions {
  std::optional<std::string> host;  // applied like the "Static IP" button
  std::optional<std::uint16_t> port;
  bool skip_wifi_check = false;
  std::optional<int> quit_after_ms;
  std::optional<int> setup_after_ms;  // clicks the setup button then
  QString screenshot;                 // empty: none
  // A window to open from the main window's button once the module is identified, as a user
  // would (the screenshot then shows it): "analog-calibration", "thermistor-calibration" or
  // "trend".
  QString open_window;  // empty: none
};

inline constexpr const char* kOpenAnalogCalibration = "analog-calibration";
inline constexpr const char* kOpenThermistorCalibration = "thermistor-calibration";
inline constexpr const char* kOpenTrend = "trend";

struct ParsedCommandLine {
  std::optional<StartupOptions> options;  // set when the program should run
  int exit_code = 0;                      // otherwise: 0 after --help, 2 on a usage error
  QString message;  // what to print before exiting (stderr when exit_code != 0)
};

// `arguments` includes the program name first, as QCoreApplication::arguments() has it.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace zvk::gui
