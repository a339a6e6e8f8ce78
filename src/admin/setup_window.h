// The setup window TForm2 as a model: the module's network and service settings as it last
// reported them, the six write actions (AP, station, static IP, web key, location, Modbus), the
// Wi-Fi mode, reset-to-defaults and reboot buttons, and the firmware button's hook. Opened
// modally from the main window, which clears PollingEnabled first.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "admin/device_control.h"
#include "admin/setup_form.h"

namespace zvk {

class App;

// How the last action of the window ended, for front ends that report it (the command line).
enum class SetupOutcome {
  None,      // no action yet
  Refused,   // an input check failed: its error box was shown, nothing sent
  Declined,  // No at the question: nothing sent
  NotFound,  // the connection check failed: nothing sent, the main window shows why
  NotSent,   // a file or command did not reach the module: its box or error says why
  Done,      // every step ran and the success box was shown
};

class SetupWindow {
 public:
  explicit SetupWindow(App& app);
  SetupWindow(const SetupWindow&) = delete;
  SetupWindow& operator=(const SetupWindow&) = delete;

  void FormCreate();
  void FormActivate();
  void FormClose();
  void CheckBox1Click();
  void SetStaticIpControls(bool on);

  void Image1Click();   // firmware update: runs run_firmware_update
  void Image2Click();   // AP settings
  void Image3Click();   // station settings
  void Image4Click();   // Wi-Fi mode
  void Image5Click();   // web login key
  void Image6Click();   // location
  void Image7Click();   // reset to defaults
  void Image8Click();   // reboot
  void Image9Click();   // Modbus port and idle timeout
  void Image10Click();  // static IP

  // The firmware update, plugged in when the system is assembled.
  std::function<void()> run_firmware_update;

  // What the user last typed, as the module's 8-bit bytes; kept for the whole run.
  std::string ApSsidEntry, ApKeyEntry;
  std::string StaSsidEntry, StaKeyEntry;
  std::string WebKeyEntry;

  SetupOutcome last_outcome = SetupOutcome::None;

  SetupForm form;

 private:
  struct WifiAction;

  void ConnectHandlers();
  void RunWifiAction(const WifiAction& a);
  // The edit's text in the module's 8-bit code; nullopt, after its error box, when it holds a
  // character the module cannot keep.
  std::optional<std::string> ModuleText(const Edit& edit, const std::string& field);
  void InputError(const std::string& text);
  bool Confirm(const std::string& text);
  bool Locate();
  void WriteFile(const std::string& name, const std::string& content);
  void Pause(int ms);
  void Succeed(const std::string& text);
  // The result box of a command: the success text when it went out, else what was not sent.
  void Result(const Sent& sent, const std::string& success, const std::string& what);

  App& app_;
};

// Error texts of the input checks.
inline constexpr const char* kSsidKeyRules =
    "    . SSID must less then 31 chars.\n    . Key must around chars  8~14.\n"
    "    . If Open type selected, Key can be ignore.";

}  // namespace zvk
