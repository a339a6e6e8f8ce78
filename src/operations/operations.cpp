#include "operations/operations.h"

#include <algorithm>
#include <cstdio>

#include "admin/firmware.h"
#include "admin/remote_files.h"
#include "calibration/th_cal.h"
#include "link/acknowledgement.h"
#include "monitor/channel_config.h"
#include "thermistor/user_curves.h"
#include "util/byte_order.h"

namespace zvk::ops {

namespace {

constexpr const char* kNoReply = "Wait RX Timeout!";
constexpr const char* kDeleteDone = "Kill file in Flash Done!";
// The main window's Timer1 period: its retry step re-issues an unanswered checksum request
// 40 ticks (4 s) after the wait ran out, at most three times.
constexpr int kTimer1Ms = 100;

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

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
      op, "the location", &SetupForm::location_write, [&](SetupForm& f) { f.location.text = text; },
      0);
}

void WriteAccessPoint(Operator& op, const std::string& ssid,
                      const std::optional<std::string>& key) {
  RunSetupAction(
      op, "the access point settings", &SetupForm::ap_write,
      [&](SetupForm& f) {
        f.ap_ssid.text = ssid;
        f.ap_key.text = key.value_or(std::string());
        (key ? f.ap_key_wpa : f.ap_key_open).UserClick();
      },
      0);
}

void WriteStation(Operator& op, const std::string& ssid, const std::string& key,
                  StationKeyType type) {
  RunSetupAction(
      op, "the station settings", &SetupForm::station_write,
      [&](SetupForm& f) {
        f.station_ssid.text = ssid;
        f.station_key.text = key;
        (type == StationKeyType::Open  ? f.station_key_open
         : type == StationKeyType::Wep ? f.station_key_wep
                                       : f.station_key_wpa)
            .UserClick();
      },
      0);
}

void WriteStaticIp(Operator& op, const std::optional<std::array<std::string, 3>>& addresses) {
  RunSetupAction(
      op, "the static IP settings", &SetupForm::static_ip_write,
      [&](SetupForm& f) {
        if (f.static_ip.checked() != addresses.has_value()) f.static_ip.UserClick();
        if (!addresses) return;
        f.static_ip_address.text = (*addresses)[0];
        f.static_ip_mask.text = (*addresses)[1];
        f.static_ip_gateway.text = (*addresses)[2];
      },
      0);
}

void WriteModbus(Operator& op, const std::string& port, const std::string& timeout) {
  RunSetupAction(
      op, "the Modbus settings", &SetupForm::modbus_write,
      [&](SetupForm& f) {
        f.modbus_port.text = port;
        f.modbus_timeout.text = timeout;
      },
      wire::CMD_MBPORT_CFG);
}

void WriteWebKey(Operator& op, const std::string& key) {
  RunSetupAction(
      op, "the web key", &SetupForm::web_key_write, [&](SetupForm& f) { f.web_key.text = key; },
      wire::CMD_SET_WEB_KEY);
}

void SetWifiMode(Operator& op, bool access_point) {
  RunSetupAction(
      op, "the Wi-Fi mode", &SetupForm::wifi_mode_write,
      [&](SetupForm& f) { (access_point ? f.wifi_mode_ap : f.wifi_mode_station).UserClick(); },
      wire::CMD_SET_WIFI_MODE);
}

void ResetToDefaults(Operator& op) {
  RunSetupAction(
      op, "the reset to defaults", &SetupForm::reset_defaults, [](SetupForm&) {},
      wire::CMD_RESET_CONFIG);
}

void Reboot(Operator& op) {
  RunSetupAction(
      op, "the reboot", &SetupForm::reboot, [](SetupForm&) {}, 0, false);
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
  ComboBox& combo = op.window().form.range[channel];
  const ExchangeRecord r = op.Observe([&] { combo.UserPick(code); });
  op.RequireAcknowledged(r, wire::CMD_SET_RANGE_CONFIG, "the range setting");
}

bool SetSampling(Operator& op, bool fast) {
  MainForm& f = op.window().form;
  RadioButton& button = fast ? f.sampling_fast : f.sampling_normal;
  if (button.checked()) return false;
  const ExchangeRecord r = op.Observe([&] { button.UserClick(); });
  op.RequireAcknowledged(r, wire::CMD_SET_RANGE_CONFIG, "the sampling setting");
  return true;
}

void SetSensor(Operator& op, int channel, std::uint8_t code) {
  ComboBox& combo = op.window().form.sensor_type[channel];
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
  CheckBox& box = op.window().form.fahrenheit[channel];
  if (box.checked() == fahrenheit) return false;
  const ExchangeRecord r = op.Observe([&] { box.UserClick(); });
  op.RequireAcknowledged(r, wire::CMD_SET_TH_CONFIG, "the thermistor setting");
  return true;
}

bool SetOffset(Operator& op, int channel, int offset) {
  SpinEdit& spin = op.window().form.offset[channel];
  if (spin.value() == offset) return false;
  const ExchangeRecord r = op.Observe([&] { spin.UserSetValue(offset); });
  op.RequireAcknowledged(r, wire::CMD_SET_TH_CONFIG, "the thermistor setting");
  return true;
}

namespace {

// A calibration window opened by its main window button, closed when the operation ends.
class OpenWindow {
 public:
  OpenWindow(Operator& op, const std::function<void()>& click, std::function<void()> close)
      : close_(std::move(close)) {
    click();
    // The button stops the periodic poll when it opens its window.
    if (op.app().discovery.PollingEnabled)
      throw OperationFailed("the calibration window did not open");
  }
  ~OpenWindow() { close_(); }
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;

 private:
  std::function<void()> close_;
};

}  // namespace

bool SaveUserCurve(Operator& op, int curve, const std::array<TypedPoint, 3>& points) {
  const std::string name = "user curve " + std::to_string(curve);
  ThermistorCalibrationWindow& w = op.system().thermistor_calibration;
  ThermistorCalibrationForm& f = w.form;
  const OpenWindow open(
      op, [&op] { op.window().SpeedButton2Click(); }, [&w] { w.FormClose(); });
  if (w.SelectedUserCurve != curve) f.user_curve.UserPick(curve);
  if (w.SelectedUserCurve != curve) throw OperationFailed(name + " not shown");

  Edit* temps[3] = {&f.hi_degrees, &f.mid_degrees, &f.low_degrees};
  Edit* ohms[3] = {&f.hi_ohms, &f.mid_ohms, &f.low_ohms};
  for (std::size_t p = 0; p < 3; ++p) {
    temps[p]->text = points[p].degrees;
    ohms[p]->text = points[p].ohms;
  }
  const int declined = op.Declined();
  const ExchangeRecord r = op.Observe([&f] { f.save_button.UserClick(); });
  if (!r.errors.empty())
    throw OperationFailed("input refused: " + r.errors.front() + "; nothing sent");
  if (op.Declined() > declined) throw OperationFailed("saving " + name + " declined; nothing sent");
  const std::string fit = KeptCurvesLogLine(curve);
  const bool fitted = std::find(r.logs.begin(), r.logs.end(), fit) == r.logs.end();
  // The save's own failure (the announce, the reload); a refused fit comes after the save. The
  // window told why in its last box ("... stopped, nothing written:\n    . why").
  if (!r.failures.empty() && fitted) {
    std::string why = op.LastBox().second;
    if (const std::size_t item = why.rfind("\n    . "); item != std::string::npos)
      why = why.substr(item + 7);
    throw OperationFailed("saving " + name + " failed: " + why);
  }
  op.RequireAcknowledged(r, wire::CMD_RELOAD_AD_REF, "the reload of the user curves");
  return fitted;
}

FirmwareOutcome UpdateFirmware(Operator& op, const std::string& image,
                               const std::function<void()>& repaint,
                               const std::function<void()>& uploaded) {
  App& app = op.app();
  op.AnswerFileDialog(image);
  op.OpenSetupWindow();
  ExchangeRecord record;
  app.repaint_main_window = repaint;
  try {
    record = op.Observe([&op] { op.setup().form.firmware_update.UserClick(); });
  } catch (...) {
    app.repaint_main_window = nullptr;
    throw;
  }
  app.repaint_main_window = nullptr;
  if (uploaded) uploaded();

  // A module that needs longer to sum the image than one reply wait is asked again, by the
  // window's own retry step, until it answers or the step gives up.
  const FirmwareUpdate& fw = op.system().firmware;
  int reissues = 0;
  while (fw.outcome == FirmwareOutcome::Verifying && app.link.ReplyTimedOut &&
         app.link.PendingCommand == wire::CMD_GET_IMAGE_CHECKSUM) {
    app.seams.sleeper.SleepMs(kTimer1Ms);
    op.window().Timer1Timer();
    reissues = std::max(reissues, static_cast<int>(app.link.RetryCount));
  }
  op.setup().FormClose();

  const std::uint8_t* reply = app.link.ReplyBuffer.data();
  const std::string sum = Hex(static_cast<unsigned>(fw.ImageChecksum), 8);
  switch (fw.outcome) {
    case FirmwareOutcome::Verified:
    case FirmwareOutcome::Staged:
      return fw.outcome;
    case FirmwareOutcome::Mismatch:
      throw OperationFailed("the module's checksum of the stored image is " +
                            Hex(GetBe32(reply + wire::image::kReplyChecksum), 8) +
                            ", the file's is " + sum);
    case FirmwareOutcome::Refused:
      throw OperationFailed("the module refused the image checksum request (reply code 0x" +
                            Hex(reply[wire::kReplyCode], 2) + ", status 0x" +
                            Hex(reply[wire::kReplyStatus], 2) + ")");
    case FirmwareOutcome::Verifying:
      if (reissues > 0)
        throw OperationFailed("no reply from the module to the image checksum request, sent " +
                              std::to_string(reissues + 1) + " times 4 s apart (Wait RX Timeout!)");
      op.RequireAcknowledged(record, wire::CMD_GET_IMAGE_CHECKSUM, "the image checksum request");
      throw OperationFailed("the module did not answer the image checksum request");
    case FirmwareOutcome::FinalNotSent:
      throw OperationFailed("the image was sent, but not the command that ends the upload (" +
                            app.Status() + ")");
    case FirmwareOutcome::HeaderNotSent:
      throw OperationFailed(app.Status());
    case FirmwareOutcome::FileRefused:
      throw OperationFailed("input refused: " + app.Status() + "; nothing sent");
    case FirmwareOutcome::NotFound:
      throw OperationFailed(op.NotFoundReason());
    case FirmwareOutcome::Declined:
      throw OperationFailed("the update was not confirmed; nothing sent");
    case FirmwareOutcome::Cancelled:
    case FirmwareOutcome::None:
      break;
  }
  throw OperationFailed("the update did not run");
}

}  // namespace zvk::ops
