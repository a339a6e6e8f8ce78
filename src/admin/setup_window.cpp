#include "admin/setup_window.h"

#include <algorithm>

#include "admin/remote_files.h"
#include "admin/setup_input.h"
#include "link/discovery.h"
#include "link/exchange.h"
#include "state/app.h"
#include "util/byte_order.h"
#include "util/text_codec.h"

namespace zvk {

namespace {

constexpr std::size_t kMaxSsid = kMaxSsidBytes;
constexpr std::size_t kMinKey = kMinKeyBytes;
constexpr std::size_t kMaxKey = kMaxKeyBytes;
constexpr std::size_t kMaxLocation = kMaxLocationBytes;
constexpr std::size_t kMaxWebKeyTyped = 5;
constexpr int kBetweenFilesMs = 200;
constexpr int kBeforeModbusNoticeMs = 300;

constexpr const char* kConfirm = "Confirm";
constexpr const char* kInformation = "Information";
constexpr const char* kErrorFound = "Error found!";
constexpr const char* kNotDone = "Error";
constexpr const char* kReboot = ",\n    . Manual Reboot to take effect!";

std::string Utf8(const std::string& module_text) {
  return ModuleTextToUtf8(module_text);
}

std::string Dotted(const std::array<std::uint8_t, 4>& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

}  // namespace

// The AP and station actions differ only in their controls, names and files.
struct SetupWindow::WifiAction {
  const Edit& ssid_edit;
  const Edit& key_edit;
  std::string& ssid_entry;
  std::string& key_entry;
  std::uint8_t key_type;
  const char* type_name;
  const char* label;  // "AP" or "STA"
  const char* key_file;
  const char* key_type_file;  // null: the type is not written
  const char* ssid_file;
  const char* key_log;
  const char* ssid_log;
};

SetupWindow::SetupWindow(App& app) : form(app.gauge), app_(app) {
  ConnectHandlers();
}

void SetupWindow::ConnectHandlers() {
  SetupForm& f = form;
  f.static_ip.on_click = [this] { CheckBox1Click(); };
  f.firmware_update.on_click = [this] { Image1Click(); };
  f.ap_write.on_click = [this] { Image2Click(); };
  f.station_write.on_click = [this] { Image3Click(); };
  f.wifi_mode_write.on_click = [this] { Image4Click(); };
  f.web_key_write.on_click = [this] { Image5Click(); };
  f.location_write.on_click = [this] { Image6Click(); };
  f.reset_defaults.on_click = [this] { Image7Click(); };
  f.reboot.on_click = [this] { Image8Click(); };
  f.modbus_write.on_click = [this] { Image9Click(); };
  f.static_ip_write.on_click = [this] { Image10Click(); };
}

void SetupWindow::FormCreate() {
  SetStaticIpControls(false);
}

void SetupWindow::SetStaticIpControls(bool on) {
  SetupForm& f = form;
  f.static_ip_address_label.enabled = on;
  f.static_ip_mask_label.enabled = on;
  f.static_ip_gateway_label.enabled = on;
  f.static_ip_address.enabled = on;
  f.static_ip_mask.enabled = on;
  f.static_ip_gateway.enabled = on;
  f.static_ip.SetChecked(on);
}

void SetupWindow::CheckBox1Click() {
  SetStaticIpControls(form.static_ip.checked());
}

void SetupWindow::FormActivate() {
  SetupForm& f = form;
  const DeviceConfig& d = app_.device;
  f.ap_ssid.text = Utf8(d.DevApSsid);
  if (d.DevApKeyType == 0) {
    f.ap_key_open.SetChecked(true);
    f.ap_key.text.clear();
  } else {
    f.ap_key_wpa.SetChecked(true);
  }
  f.station_ssid.text = Utf8(d.DevStaSsid);
  if (d.DevStaKeyType == 0) {
    f.station_key_open.SetChecked(true);
    f.station_key.text.clear();
  } else if (d.DevStaKeyType == 1) {
    f.station_key_wep.SetChecked(true);
  } else {
    f.station_key_wpa.SetChecked(true);
  }
  f.location.text = Utf8(d.DeviceLocation);
  f.modbus_port.text = std::to_string(d.DevModbusPort);
  f.modbus_timeout.text = std::to_string(d.DevIdleTimeout);
  (d.DevWifiMode != 0 ? f.wifi_mode_ap : f.wifi_mode_station).SetChecked(true);
  SetStaticIpControls(d.DevStaticIpEnabled);
  if (d.DevStaticIpEnabled) {
    f.static_ip.SetChecked(true);
    f.static_ip_address.text = Dotted(d.DevStaticIp);
    f.static_ip_mask.text = Dotted(d.DevSubnetMask);
    f.static_ip_gateway.text = Dotted(d.DevGateway);
  } else {
    f.static_ip_address.text.clear();
    f.static_ip_gateway.text.clear();
  }
  f.gauge.SetProgress(0);
}

void SetupWindow::FormClose() {
  // The settings may have changed: a module that has described itself is asked again. One that
  // has not is found by the supervision tick, which needs polling back to run at all.
  if (app_.device.DeviceInfoLoaded) QueueCommand(app_.link, wire::CMD_GET_DEVICE);
  app_.discovery.PollingEnabled = true;
}

// ---- the steps every action shares ----

std::optional<std::string> SetupWindow::ModuleText(const Edit& edit, const std::string& field) {
  std::string bytes;
  try {
    bytes = Utf8ToModuleText(edit.text);
  } catch (const TextCodecError& e) {
    InputError("    . " + field + ": " + e.what() + ".");
    return std::nullopt;
  }
  // A line break or another control character in a name or a key is a typing or pasting
  // accident; the module would keep it and show it back garbled.
  if (HasControlCharacter(bytes)) {
    InputError("    . " + field + ": control characters (line breaks, tabs) are not allowed.");
    return std::nullopt;
  }
  return bytes;
}

void SetupWindow::InputError(const std::string& text) {
  last_outcome = SetupOutcome::Refused;
  app_.seams.dialogs.FailureBox(kErrorFound, text, MsgIcon::Error);
}

bool SetupWindow::Confirm(const std::string& text) {
  if (app_.seams.dialogs.MessageBox(kConfirm, text, MsgIcon::Question, MsgButtons::YesNo) ==
      MsgResult::Yes)
    return true;
  last_outcome = SetupOutcome::Declined;
  return false;
}

bool SetupWindow::Locate() {
  if (!SelectDevice(app_.link)) {
    last_outcome = SetupOutcome::NotFound;
    return false;
  }
  // From here on, anything that stops the action (a file that did not go out raises) leaves it
  // not sent.
  last_outcome = SetupOutcome::NotSent;
  return true;
}

void SetupWindow::WriteFile(const std::string& name, const std::string& content) {
  std::copy(content.begin(), content.end(), app_.transfer.data());
  WriteRemoteFile(app_, name, content.size());
}

void SetupWindow::Pause(int ms) {
  app_.seams.sleeper.SleepMs(ms);
}

void SetupWindow::Succeed(const std::string& text) {
  last_outcome = SetupOutcome::Done;
  app_.seams.dialogs.MessageBox(kInformation, text, MsgIcon::Information, MsgButtons::Ok);
}

void SetupWindow::Result(const Sent& sent, const std::string& success, const std::string& what) {
  if (sent) {
    Succeed(success);
    return;
  }
  last_outcome = SetupOutcome::NotSent;
  const char* outcome = sent.went_out ? " not acknowledged,\n    . " : " not sent,\n    . ";
  app_.seams.dialogs.FailureBox(kNotDone, what + outcome + sent.why, MsgIcon::Error);
}

// ---- the write actions ----

void SetupWindow::RunWifiAction(const WifiAction& a) {
  bool ssid_passes = false;
  bool key_passes = false;
  if (!a.ssid_edit.text.empty()) {
    const auto text = ModuleText(a.ssid_edit, "SSID");
    if (!text) return;
    a.ssid_entry = *text;
    app_.Log(std::to_string(text->size()));
    ssid_passes = text->size() <= kMaxSsid;
  }
  if (!a.key_edit.text.empty()) {
    const auto text = ModuleText(a.key_edit, "Key");
    if (!text) return;
    a.key_entry = *text;
    app_.Log(std::to_string(text->size()));
    key_passes = text->size() >= kMinKey && text->size() <= kMaxKey;
  }
  if (!ssid_passes || (a.key_type != 0 && !key_passes)) return InputError(kSsidKeyRules);
  const std::string question = std::string("Modify ") + a.label +
                               " SSID, execute?\n    . SSID: " + Utf8(a.ssid_entry) +
                               "\n    . Type: [" + std::to_string(a.key_type) + "] " + a.type_name +
                               "\n    . KEY: " + Utf8(a.key_entry);
  if (!Confirm(question) || !Locate()) return;

  if (a.key_type != 0) {
    WriteFile(a.key_file, a.key_entry);
    app_.Log(a.key_log + Utf8(a.key_entry));
  } else {
    DeleteRemoteFile(app_, a.key_file);
  }
  if (a.key_type_file) {
    Pause(kBetweenFilesMs);
    WriteFile(a.key_type_file, std::string(1, static_cast<char>(a.key_type)));
    app_.Log("STA_KTYPE =" + std::to_string(a.key_type));
  }
  Pause(kBetweenFilesMs);
  WriteFile(a.ssid_file, a.ssid_entry);
  app_.Log(a.ssid_log + Utf8(a.ssid_entry));
  Succeed(std::string(a.label) + " SSID write complete" + kReboot);
}

void SetupWindow::Image2Click() {
  const bool open = form.ap_key_open.checked();
  RunWifiAction({form.ap_ssid, form.ap_key, ApSsidEntry, ApKeyEntry, std::uint8_t(open ? 0 : 2),
                 open ? "OPEN" : "WPA/WPA2", "AP", "/local/ap_key.cfg", nullptr,
                 "/local/ap_ssid.cfg", "AP_KEY =", "AP_SSID ="});
}

void SetupWindow::Image3Click() {
  const SetupForm& f = form;
  const std::uint8_t type = f.station_key_open.checked() ? 0 : f.station_key_wep.checked() ? 1 : 2;
  static constexpr const char* kTypeNames[] = {"OPEN", "WEP", "WPA/WPA2"};
  RunWifiAction({f.station_ssid, f.station_key, StaSsidEntry, StaKeyEntry, type, kTypeNames[type],
                 "STA", "/local/sta_key.cfg", "/local/sta_keyT.cfg", "/local/sta_ssid.cfg",
                 "STA_KEY =", "STA_SSID ="});
}

void SetupWindow::Image10Click() {
  const SetupForm& f = form;
  if (!f.static_ip.checked()) {
    if (!Confirm("Delete Station Static IP config, execute?\n") || !Locate()) return;
    DeleteRemoteFile(app_, "/local/sta_ip.cfg");
    return Succeed(std::string("Station Static IP delete complete") + kReboot);
  }
  std::string content;
  for (const Edit* edit : {&f.static_ip_address, &f.static_ip_mask, &f.static_ip_gateway}) {
    const auto bytes = DottedQuadBytes(edit->text);
    if (!bytes) return InputError("    . IP, Mask, Gateway input error.\n");
    content.append(bytes->begin(), bytes->end());
  }
  if (!Confirm("Modify Station Static IP, Mask, Gateway, execute?\n    . IP: " +
               f.static_ip_address.text + "\n    . Mask: " + f.static_ip_mask.text +
               "\n    . Gateway: " + f.static_ip_gateway.text) ||
      !Locate())
    return;
  WriteFile("/local/sta_ip.cfg", content);
  Succeed(std::string("Station Static IP write complete") + kReboot);
}

void SetupWindow::Image5Click() {
  bool passes = false;
  if (!form.web_key.text.empty()) {
    const auto text = ModuleText(form.web_key, "WEB Key");
    if (!text) return;
    WebKeyEntry = *text;
    app_.Log(std::to_string(text->size()));
    passes = text->size() <= kMaxWebKeyTyped;
  }
  if (!passes) return InputError("    . WEB Key must be 5 chars.");
  const std::string key = Utf8(WebKeyEntry);
  if (!Confirm("Modify WEB Key, execute?\n    . WEB Key: " + key + ".\n") || !Locate()) return;
  const Sent sent = SendWebKey(app_, WebKeyEntry);
  if (sent) app_.Log("WEB Key =" + key);
  Result(sent, "WEB Key write complete,\n    .Take effect immediately.", "WEB Key");
}

void SetupWindow::Image6Click() {
  std::optional<std::string> location;
  if (!form.location.text.empty()) {
    location = ModuleText(form.location, "Location");
    if (!location) return;
    app_.Log(std::to_string(location->size()));
  }
  if (!location || location->size() > kMaxLocation)
    return InputError("    . Location string must less then 31 chars.");
  const std::string text = Utf8(*location);
  if (!Confirm("Modify Location string, execute?\n    . Location: " + text + ".\n") || !Locate())
    return;
  WriteFile("/local/locate.cfg", *location);
  app_.Log("Location =" + text);
  Succeed(std::string("Location string write complete") + kReboot);
}

void SetupWindow::Image9Click() {
  const auto refuse = [this](const std::string& caption, const std::string& text) {
    last_outcome = SetupOutcome::Refused;
    app_.seams.dialogs.FailureBox(caption, text, MsgIcon::None);
  };
  constexpr const char* kPortInput = "Modbus port input Error";
  constexpr const char* kTimeoutInput = "Modbus Idle Timeout input Error";
  std::string error;
  const std::optional<std::int32_t> port = StrToInt(form.modbus_port.text, &error);
  if (!port) return refuse(kPortInput, error);
  if (*port == wire::kDefaultPort || *port == kWebServerPort)
    return refuse(kPortInput, "Port already used!");
  if (*port < 1 || *port > 65535)
    return refuse("Modbus port range Error", "Port number over range!");
  const std::optional<std::int32_t> timeout = StrToInt(form.modbus_timeout.text, &error);
  if (!timeout) return refuse(kTimeoutInput, error);
  if (*timeout < 1 || *timeout > kMaxIdleTimeout)
    return refuse(kTimeoutInput, "Timeout range must in 1 ~ 65000 Sec! Recommend 30 Sec.");

  const std::string numbers = std::to_string(*port) + ", Idle Timeout: " + std::to_string(*timeout);
  if (!Confirm("Modify Modbus Port & Idle Timeout, execute?\n    . Port: " + numbers + ".") ||
      !Locate())
    return;
  std::string content(10, '\0');
  PutBe16(reinterpret_cast<std::uint8_t*>(content.data()), static_cast<std::uint16_t>(*port));
  PutBe16(reinterpret_cast<std::uint8_t*>(content.data()) + 2,
          static_cast<std::uint16_t>(*timeout));
  WriteFile("/local/mbport.cfg", content);
  app_.Log("Modbus Port =" + numbers);
  Pause(kBeforeModbusNoticeMs);
  Result(SendMbportWritten(app_),
         std::string("Modify Modbus Port, Timeout write complete") + kReboot,
         "Modbus settings written, but their notice");
}

// ---- device control ----

void SetupWindow::Image4Click() {
  const bool access_point = form.wifi_mode_ap.checked();
  const std::string mode = access_point ? "AP Mode" : "Station Mode";
  if (!Confirm("Modify Wi-Fi Mode, execute?\n    . Wi-Fi Mode: " + mode +
               ".\n    . Device will Reboot immediately!"))
    return;
  Result(SendWifiMode(app_, access_point), "Wi-Fi Mode write complete,\n    . Reboot complete.",
         "Wi-Fi Mode");
}

void SetupWindow::Image7Click() {
  if (!Confirm("Reset to default setting, execute?\n    . Device will Reboot immediately!")) return;
  Result(SendResetDefaults(app_, 1), "Reset default complete,\n    . Reboot complete.",
         "Reset to defaults");
}

void SetupWindow::Image8Click() {
  if (!Confirm("Reboot device, execute?")) return;
  Result(SendReboot(app_), "Reboot complete.", "Reboot");
}

void SetupWindow::Image1Click() {
  if (run_firmware_update) run_firmware_update();
}

}  // namespace zvk
