// The calibration commands: each opens its calibration window from the main window's button,
// clicks what the user would click there, and closes the window again (which hands the periodic
// poll back), however the command ends.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>

#include "calibration/ad_cal.h"
#include "calibration/th_cal.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "link/wire.h"
#include "operations/operations.h"
#include "thermistor/user_curves.h"

namespace zvk::cli {

namespace {

constexpr const char* kCalibration = "Calibration";

// "AI2" or "ai2" to 2.
int ParseAnalogChannel(const std::string& text, const std::string& command) {
  if (text.size() == 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'A' &&
      std::toupper(static_cast<unsigned char>(text[1])) == 'I' && text[2] >= '0' && text[2] <= '4')
    return text[2] - '0';
  throw UsageError(command + ": the channel is AI0 to AI4, not '" + text + "'");
}

void RequireModel(Session& s, std::uint8_t model, const std::string& command,
                  const std::string& which) {
  if (s.app().device.ModelCode != model)
    throw Failed(command + " needs " + which + "; this is the " +
                 s.window().form.module_state.caption);
}

// A calibration window opened by its main window button, closed when the command ends.
class OpenWindow {
 public:
  OpenWindow(Session& s, const std::function<void()>& click, std::function<void()> close)
      : close_(std::move(close)) {
    click();
    // The button stops the periodic poll when it opens its window.
    if (s.app().discovery.PollingEnabled) throw Failed("the calibration window did not open");
  }
  ~OpenWindow() { close_(); }
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;

 private:
  std::function<void()> close_;
};

// Why an action of a window did not reach its "Done" result: the user said No, or the window
// told why in its last box ("... stopped, nothing written:\n    . why").
[[noreturn]] void NotDone(Session& s, const ExchangeRecord& r, int declined_before,
                          const std::string& what) {
  if (s.dialogs().declined() > declined_before) throw Failed(what + " declined; nothing sent");
  std::string why = s.dialogs().last_text();
  if (const std::size_t item = why.rfind("\n    . "); item != std::string::npos)
    why = why.substr(item + 7);
  throw Failed(what + (r.failures.empty() ? " did not run: " : " failed: ") + why);
}

// Tenths of an ohm exactly as the file holds them: 3360001.9, not a rounded double.
std::string TenthsText(std::int32_t tenths) {
  const std::int64_t value = tenths;
  const std::int64_t magnitude = value < 0 ? -value : value;
  return (value < 0 ? "-" : "") + std::to_string(magnitude / 10) + "." +
         std::to_string(magnitude % 10);
}

class AnalogReferenceCommand final : public CopyableCommand<AnalogReferenceCommand> {
 public:
  explicit AnalogReferenceCommand(bool reset) : reset_(reset) {}
  void Define(CLI::App& sub) override {
    sub.add_option("channel", channel_text_, "AI0 to AI4")->required();
  }
  void CheckArguments() override { channel_ = ParseAnalogChannel(channel_text_, Name()); }
  void Run(Session& s) override {
    RequireModel(s, wire::kModelKm3, Name(), "the voltage module (AI0 to AI4)");
    AnalogCalibrationWindow& w = s.system().analog_calibration;
    const OpenWindow open(
        s, [&s] { s.window().SpeedButton1Click(); }, [&w] { w.FormClose(); });
    const int declined = s.dialogs().declined();
    Button& button = reset_ ? w.form.reset_button[channel_] : w.form.cal_button[channel_];
    const ExchangeRecord r = s.Observe([&button] { button.UserClick(); });
    const std::string& result = w.form.result[channel_].caption;
    const std::string what =
        "AI" + std::to_string(channel_) + (reset_ ? " reference reset" : " calibration");
    if (result.empty()) NotDone(s, r, declined, what);
    s.RequireAcknowledged(r, wire::CMD_RELOAD_AD_REF, "the reference reload");
    s.out << w.form.channel_label[channel_].caption << ' ' << result << '\n';
  }

 private:
  std::string Name() const { return reset_ ? "reset-ref" : "calibrate"; }

  bool reset_;
  std::string channel_text_;
  int channel_ = 0;
};

class ThermistorReferenceCommand final : public CopyableCommand<ThermistorReferenceCommand> {
 public:
  explicit ThermistorReferenceCommand(bool reset) : reset_(reset) {}
  void Define(CLI::App&) override {}
  void Run(Session& s) override {
    const std::string name = reset_ ? "reset-th-ref" : "calibrate-th";
    RequireModel(s, wire::kModelQn6, name, "the thermistor module (TH0 to TH7)");
    ThermistorCalibrationWindow& w = s.system().thermistor_calibration;
    const OpenWindow open(
        s, [&s] { s.window().SpeedButton2Click(); }, [&w] { w.FormClose(); });
    const int declined = s.dialogs().declined();
    Button& button = reset_ ? w.form.reference_reset_button : w.form.reference_cal_button;
    const ExchangeRecord r = s.Observe([&button] { button.UserClick(); });
    const std::string what = reset_ ? "the reference reset" : "the reference calibration";
    if (w.form.reference_result.caption.empty()) NotDone(s, r, declined, what);
    s.RequireAcknowledged(r, wire::CMD_CALIBRATE_TH_REF, what);
    char count[8];
    std::snprintf(count, sizeof count, "%04X", unsigned{s.app().meas.ThermistorRefCount});
    s.out << w.form.channel_label.caption << ' ' << w.form.reference_result.caption << '\n'
          << "Reference count: " << count << '\n';
  }

 private:
  bool reset_;
};

// One point of a user curve as typed: "T:OHMS".
using ops::TypedPoint;

TypedPoint SplitPoint(const std::string& text, const std::string& option) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    throw UsageError("user-curve: " + option + " is TEMPERATURE:OHMS, not '" + text + "'");
  return {text.substr(0, colon), text.substr(colon + 1)};
}

class UserCurveCommand final : public CopyableCommand<UserCurveCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("curve", curve_text_, "User curve 0 to 7 (sensor type 70 to 77)")->required();
    const char* kPoint = "Whole degrees Celsius and ohms: 25:10000, -40:336000";
    sub.add_option("--hi", points_text_[0], kPoint)->required();
    sub.add_option("--mid", points_text_[1], kPoint)->required();
    sub.add_option("--low", points_text_[2], kPoint)->required();
  }
  void CheckArguments() override {
    if (curve_text_.size() != 1 || curve_text_[0] < '0' || curve_text_[0] > '7')
      throw UsageError("user-curve: the curve is 0 to 7, not '" + curve_text_ + "'");
    curve_ = curve_text_[0] - '0';
    const char* options[3] = {"--hi", "--mid", "--low"};
    for (int p = 0; p < 3; ++p) points_[p] = SplitPoint(points_text_[p], options[p]);
  }
  void Run(Session& s) override {
    RequireModel(s, wire::kModelQn6, "user-curve", "the thermistor module (TH0 to TH7)");
    const bool fitted = ops::SaveUserCurve(s, curve_, points_);

    // What the module now holds: whole degrees and tenths of an ohm.
    const UserCurvePoints& c = s.app().curves;
    const std::size_t i = static_cast<std::size_t>(curve_);
    const auto point = [](std::int16_t t, std::int32_t tenths) {
      return std::to_string(t) + ":" + TenthsText(tenths);
    };
    s.out << "User curve " << curve_ << " saved: Hi " << point(c.TempHi[i], c.ResHi[i]) << ", Mid "
          << point(c.TempMid[i], c.ResMid[i]) << ", Low " << point(c.TempLow[i], c.ResLow[i])
          << '\n';
    if (!fitted)
      throw Failed("user curve " + curve_text_ +
                   " was saved but cannot be fitted: its three points admit no curve (two equal "
                   "resistances or temperatures?), so sensor type 7" +
                   curve_text_ + " has no curve to convert with");
  }

 private:
  std::string curve_text_;
  std::string points_text_[3];
  int curve_ = 0;
  std::array<TypedPoint, 3> points_;
};

}  // namespace

void AddCalibrationCommands(std::vector<CommandEntry>& table) {
  const CommandEntry entries[] = {
      {"calibrate", kCalibration,
       "Calibrate an analog channel against the Vref pin: calibrate AI<n>", true, true,
       []() -> std::unique_ptr<Command> {
         return std::make_unique<AnalogReferenceCommand>(false);
       }},
      {"reset-ref", kCalibration,
       "Reset an analog channel's reference to its factory value: reset-ref AI<n>", true, true,
       []() -> std::unique_ptr<Command> { return std::make_unique<AnalogReferenceCommand>(true); }},
      {"calibrate-th", kCalibration, "Calibrate the thermistor module's reference (TH0 on Vref)",
       true, true,
       []() -> std::unique_ptr<Command> {
         return std::make_unique<ThermistorReferenceCommand>(false);
       }},
      {"reset-th-ref", kCalibration, "Reset the thermistor module's reference to its default", true,
       true,
       []() -> std::unique_ptr<Command> {
         return std::make_unique<ThermistorReferenceCommand>(true);
       }},
      {"user-curve", kCalibration,
       "Set and save a user thermistor curve: user-curve <0-7> --hi T:OHMS --mid T:OHMS --low "
       "T:OHMS",
       true, true,
       []() -> std::unique_ptr<Command> { return std::make_unique<UserCurveCommand>(); }},
  };
  table.insert(table.end(), std::begin(entries), std::end(entries));
}

}  // namespace zvk::cli
