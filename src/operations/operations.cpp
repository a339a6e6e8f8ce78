#include "operations/operations.h"

#include <algorithm>
#include <cstdio>

#include "admin/remote_files.h"
#include "link/acknowledgement.h"
#include "monitor/channel_config.h"

namespace zvk::ops {

namespace {

constexpr const char* kNoReply = "Wait RX Timeout!";
constexpr const char* kDeleteDone = "Kill file in Flash Done!";

// A box's text on one line: its "    . " rule marks and line breaks become spaces.
std::string OneLine(std::string text) {
  for (const std::string mark : {",\n    . ", "\n    . ", "\n    .", "    . ", "\n"}) {
    const std::string with = mark.front() == ',' ? ": " : " ";
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
      text.replace(at, mark.size(), at == 0 ? "" : with);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Whether the window took the input: a refusal, a No, a failed connection check or something
// that did not go out ends the operation with its reason.
void RequireDone(Operator& op, const std::string& what) {
  const auto [caption, text] = op.LastBox();
  switch (op.setup().last_outcome) {
    case SetupOutcome::Done:
      return;
    case SetupOutcome::Refused:
      throw OperationFailed("input refused: " + OneLine(text) + " (" + caption + "); nothing sent");
    case SetupOutcome::Declined:
      throw OperationFailed(what + " not confirmed; nothing sent");
    case SetupOutcome::NotFound:
      throw OperationFailed(op.NotFoundReason());
    case SetupOutcome::NotSent:
      throw OperationFailed(OneLine(text));
    case SetupOutcome::None:
      break;
  }
  throw OperationFailed(what + " did not run");
}

// The module's answers to what the action sent: every exchange answered, every file announce
// and delete acknowledged, and the last command (`code`, when not 0) acknowledged.
void RequireAcknowledgements(Operator& op, const ExchangeRecord& r, std::uint8_t code,
                             const std::string& what) {
  if (std::find(r.logs.begin(), r.logs.end(), kNoReply) != r.logs.end())
    throw OperationFailed("no reply from the module to " + what + " (" + kNoReply + ")");
  for (const auto& [name, acknowledged] : r.file_announces)
    if (!acknowledged) throw OperationFailed("the module refused the file " + name);
  const std::string kDeleting = "Del File: ";
  for (std::size_t i = 0; i < r.statuses.size(); ++i) {
    if (r.statuses[i].rfind(kDeleting, 0) != 0) continue;
    if (i + 1 >= r.statuses.size() || r.statuses[i + 1] != kDeleteDone)
      throw OperationFailed("the module refused to delete " +
                            r.statuses[i].substr(kDeleting.size()));
  }
  if (code == 0) return;
  if (const std::string refused = NotAcknowledgedReason(op.app().link, code); !refused.empty())
    throw OperationFailed(what + " not acknowledged: " + refused);
}

// Opens the setup window, lets `fill` set its controls, clicks `button`, closes the window and
// checks the module's answers (`code`: the command that must be acknowledged, 0 for none).
void RunSetupAction(Operator& op, const std::string& what, Button SetupForm::*button,
                    const std::function<void(SetupForm&)>& fill, std::uint8_t code,
                    bool answered = true) {
  op.OpenSetupWindow();
  SetupForm& f = op.setup().form;
  fill(f);
  const ExchangeRecord r = op.Observe([&] { (f.*button).UserClick(); });
  op.setup().FormClose();
  RequireDone(op, what);
  if (answered) RequireAcknowledgements(op, r, code, what);
}

}  // namespace

void WriteLocation(Operator& op, const std::string& text) {
  RunSetupAction(
      op, "the location", &SetupForm::Image6, [&](SetupForm& f) { f.Edit5.text = text; }, 0);
}

void WriteAccessPoint(Operator& op, const std::string& ssid,
                      const std::optional<std::string>& key) {
  RunSetupAction(
      op, "the access point settings", &SetupForm::Image2,
      [&](SetupForm& f) {
        f.Edit1.text = ssid;
        f.Edit2.text = key.value_or(std::string());
        (key ? f.RadioButton2 : f.RadioButton1).UserClick();
      },
      0);
}

void WriteStation(Operator& op, const std::string& ssid, const std::string& key,
                  StationKeyType type) {
  RunSetupAction(
      op, "the station settings", &SetupForm::Image3,
      [&](SetupForm& f) {
        f.Edit3.text = ssid;
        f.Edit4.text = key;
        (type == StationKeyType::Open  ? f.RadioButton3
         : type == StationKeyType::Wep ? f.RadioButton4
                                       : f.RadioButton5)
            .UserClick();
      },
      0);
}

void WriteStaticIp(Operator& op, const std::optional<std::array<std::string, 3>>& addresses) {
  RunSetupAction(
      op, "the static IP settings", &SetupForm::Image10,
      [&](SetupForm& f) {
        if (f.CheckBox1.checked() != addresses.has_value()) f.CheckBox1.UserClick();
        if (!addresses) return;
        f.Edit8.text = (*addresses)[0];
        f.Edit9.text = (*addresses)[1];
        f.Edit10.text = (*addresses)[2];
      },
      0);
}

void WriteModbus(Operator& op, const std::string& port, const std::string& timeout) {
  RunSetupAction(
      op, "the Modbus settings", &SetupForm::Image9,
      [&](SetupForm& f) {
        f.Edit7.text = port;
        f.Edit11.text = timeout;
      },
      wire::CMD_MBPORT_CFG);
}

void WriteWebKey(Operator& op, const std::string& key) {
  RunSetupAction(
      op, "the web key", &SetupForm::Image5, [&](SetupForm& f) { f.Edit6.text = key; },
      wire::CMD_SET_WEB_KEY);
}

void SetWifiMode(Operator& op, bool access_point) {
  RunSetupAction(
      op, "the Wi-Fi mode", &SetupForm::Image4,
      [&](SetupForm& f) { (access_point ? f.RadioButton6 : f.RadioButton7).UserClick(); },
      wire::CMD_SET_WIFI_MODE);
}

void ResetToDefaults(Operator& op) {
  RunSetupAction(
      op, "the reset to defaults", &SetupForm::Image7, [](SetupForm&) {}, wire::CMD_RESET_CONFIG);
}

void Reboot(Operator& op) {
  RunSetupAction(
      op, "the reboot", &SetupForm::Image8, [](SetupForm&) {}, 0, false);
}

void WriteModuleFile(Operator& op, const std::string& name, std::span<const std::uint8_t> bytes,
                     const std::function<void()>& repaint) {
  App& app = op.app();
  if (bytes.size() > app.transfer.size())
    throw OperationFailed("the file " + name + " has " + std::to_string(bytes.size()) +
                          " bytes, more than the " + std::to_string(app.transfer.size()) +
                          " a transfer holds; nothing sent");
  std::copy(bytes.begin(), bytes.end(), app.transfer.data());
  app.repaint_main_window = repaint;
  ExchangeRecord r;
  try {
    r = op.Observe([&] { WriteRemoteFile(app, name, bytes.size()); });
  } catch (...) {
    app.repaint_main_window = nullptr;
    throw;
  }
  app.repaint_main_window = nullptr;
  RequireAcknowledgements(op, r, 0, "the file " + name);
}

void DeleteModuleFile(Operator& op, const std::string& name) {
  const ExchangeRecord r = op.Observe([&] { DeleteRemoteFile(op.app(), name); });
  op.RequireAcknowledged(r, wire::CMD_DELETE_FILE, "the delete of " + name);
}

void SetRange(Operator& op, int channel, int code) {
  ComboBox& combo = op.window().form.RangeCombo[channel];
  const ExchangeRecord r = op.Observe([&] { combo.UserPick(code); });
  op.RequireAcknowledged(r, wire::CMD_SET_RANGE_CONFIG, "the range setting");
}

bool SetSampling(Operator& op, bool fast) {
  MainForm& f = op.window().form;
  RadioButton& button = fast ? f.RadioButton2 : f.RadioButton1;
  if (button.checked()) return false;
  const ExchangeRecord r = op.Observe([&] { button.UserClick(); });
  op.RequireAcknowledged(r, wire::CMD_SET_RANGE_CONFIG, "the sampling setting");
  return true;
}

void SetSensor(Operator& op, int channel, std::uint8_t code) {
  ComboBox& combo = op.window().form.SensorCombo[channel];
  const int item = SensorItemIndex(code);
  const ExchangeRecord r = op.Observe([&] {
    if (item != 0 || code == 0) {
      combo.UserPick(item);
    } else {
      // A code without an item goes out as the user would type it.
      char typed[3];
      std::snprintf(typed, sizeof typed, "%02X", unsigned{code});
      combo.UserType(typed);
    }
  });
  op.RequireAcknowledged(r, wire::CMD_SET_TH_CONFIG, "the thermistor setting");
}

bool SetUnit(Operator& op, int channel, bool fahrenheit) {
  CheckBox& box = op.window().form.FahrenheitCheck[channel];
  if (box.checked() == fahrenheit) return false;
  const ExchangeRecord r = op.Observe([&] { box.UserClick(); });
  op.RequireAcknowledged(r, wire::CMD_SET_TH_CONFIG, "the thermistor setting");
  return true;
}

bool SetOffset(Operator& op, int channel, int offset) {
  SpinEdit& spin = op.window().form.OffsetSpin[channel];
  if (spin.value() == offset) return false;
  const ExchangeRecord r = op.Observe([&] { spin.UserSetValue(offset); });
  op.RequireAcknowledged(r, wire::CMD_SET_TH_CONFIG, "the thermistor setting");
  return true;
}

}  // namespace zvk::ops
