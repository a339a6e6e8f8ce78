#include "calibration/th_cal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "admin/remote_files.h"
#include "calibration/ad_cal.h"
#include "calibration/commands.h"
#include "link/acknowledgement.h"
#include "link/wire.h"
#include "state/app.h"
#include "thermistor/sensor_table.h"
#include "thermistor/user_curves.h"
#include "util/format_fixed.h"
#include "util/message_text.h"

namespace zvk {

namespace {

constexpr std::size_t kUserCurves = 8;
constexpr int kFirstUserCode = 0x70;

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A whole number in the range of a signed 32-bit integer, with an optional sign.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A finite decimal number ("10000.0", "-4", "1e4"); no hex, no infinities.
std::optional<double> ParseNumber(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The user curve a ComboBox1 text names by its first two characters, 70 to 77 in hex.
std::optional<std::uint8_t> CurveOfText(const std::string& text) {
  const std::string_view code = std::string_view(text).substr(0, 2);
  int value = 0;
  const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), value, 16);
  if (code.size() != 2 || ec != std::errc() || end != code.data() + code.size())
    return std::nullopt;
  if (value < kFirstUserCode || value >= kFirstUserCode + static_cast<int>(kUserCurves))
    return std::nullopt;
  return static_cast<std::uint8_t>(value - kFirstUserCode);
}

// The three points of curve i, in the order of the edits.
struct PointFields {
  const char* name;
  std::int16_t& temp;
  double& ohms;
};

std::array<PointFields, 3> Points(UserCurvePoints& c, std::size_t i) {
  return {{{"Hi", c.TempHi[i], c.OhmsHi[i]},
           {"Mid", c.TempMid[i], c.OhmsMid[i]},
           {"Low", c.TempLow[i], c.OhmsLow[i]}}};
}

}  // namespace

std::optional<std::int32_t> TenthsOfOhm(double ohms) {
  const double tenths = std::trunc(ohms * 10.0);
  // The bounds are exact doubles; NaN fails both comparisons.
  if (!(tenths >= -2147483648.0 && tenths <= 2147483647.0)) return std::nullopt;
  return static_cast<std::int32_t>(tenths);
}

ThermistorCalibrationForm::ThermistorCalibrationForm() {
  for (std::size_t i = 0; i < kUserCurves; ++i)
    user_curve.items.emplace_back(kSensorItemTexts[kFirstUserRow + i]);
  user_curve.SetItemIndex(0);
}

ThermistorCalibrationWindow::ThermistorCalibrationWindow(App& app) : app_(app) {
  form.reference_cal_button.on_click = [this] { SpeedButton1Click(); };
  form.reference_reset_button.on_click = [this] { SpeedButton6Click(); };
  form.save_button.on_click = [this] { SpeedButton2Click(); };
  form.user_curve.on_change = [this] { ComboBox1Change(); };
}

void ThermistorCalibrationWindow::FormActivate() {
  ShowUserCurve();
}

void ThermistorCalibrationWindow::FormClose() {
  form.reference_result.caption.clear();
  app_.discovery.PollingEnabled = true;
}

bool ThermistorCalibrationWindow::Ask(const std::string& question) {
  return app_.seams.dialogs.MessageBox("Information", question, MsgIcon::Information,
                                       MsgButtons::YesNo) == MsgResult::Yes;
}

void ThermistorCalibrationWindow::ReferenceCommand(std::uint8_t option, const std::string& question,
                                                   const std::string& done,
                                                   const std::string& what) {
  if (!Ask(question)) return;
  if (!SendThermistorCal(app_, option))
    return ShowCalibrationFailure(app_, what, "it was not sent: the module could not be reached");
  const std::string refused = NotAcknowledgedReason(app_.link, wire::CMD_CALIBRATE_TH_REF);
  if (!refused.empty())
    return ShowCalibrationFailure(app_, what, "the module did not acknowledge it: " + refused);
  form.reference_result.caption = done;
}

void ThermistorCalibrationWindow::SpeedButton1Click() {
  ReferenceCommand(wire::thref::kCalibrate,
                   "Thermistor Reference calibration?\n    . 1. Please connect TH0 to Vref pin\n"
                   "    . 2. Connect TH0's AGND to Vref's AGND pin\n    . 3. Press Yes when ready.",
                   "Reference calibration. Done!", "The reference calibration");
}

void ThermistorCalibrationWindow::SpeedButton6Click() {
  ReferenceCommand(wire::thref::kResetToDefault,
                   "Thermistor Reference reset to default?\n    . Press Yes when ready",
                   "Reference reset Done!", "The reference reset");
}

void ThermistorCalibrationWindow::ComboBox1Change() {
  if (!StoreUserCurveEdits()) return;
  ShowUserCurve();
}

bool ThermistorCalibrationWindow::ShowUserCurve() {
  const std::optional<std::uint8_t> curve = CurveOfText(form.user_curve.text());
  if (!curve) {
    app_.seams.dialogs.ErrorBox("'" + ShortenedForMessage(form.user_curve.text()) +
                                "' names no user curve: the text must start with 70 to 77");
    return false;
  }
  SelectedUserCurve = *curve;
  const UserCurvePoints& c = app_.curves;
  const std::size_t i = SelectedUserCurve;
  shown_ = {std::to_string(c.TempHi[i]),     std::to_string(c.TempMid[i]),
            std::to_string(c.TempLow[i]),    FormatFixed(c.OhmsHi[i], 7, 1),
            FormatFixed(c.OhmsMid[i], 7, 1), FormatFixed(c.OhmsLow[i], 7, 1)};
  Edit* edits[6] = {&form.hi_degrees, &form.mid_degrees, &form.low_degrees,
                    &form.hi_ohms,    &form.mid_ohms,    &form.low_ohms};
  for (std::size_t e = 0; e < 6; ++e) edits[e]->text = shown_[e];
  return true;
}

bool ThermistorCalibrationWindow::StoreUserCurveEdits() {
  const auto points = Points(app_.curves, SelectedUserCurve);
  const std::string* temps[3] = {&form.hi_degrees.text, &form.mid_degrees.text,
                                 &form.low_degrees.text};
  const std::string* resistances[3] = {&form.hi_ohms.text, &form.mid_ohms.text,
                                       &form.low_ohms.text};
  Dialogs& dialogs = app_.seams.dialogs;
  for (std::size_t p = 0; p < 3; ++p) {
    const std::string& text = *temps[p];
    if (text == shown_[p]) continue;
    const std::optional<std::int32_t> degrees = ParseWholeNumber(text);
    if (!degrees) {
      dialogs.ErrorBox(std::string(points[p].name) + " temperature: '" + ShortenedForMessage(text) +
                       "' is not a whole number of degrees");
      return false;
    }
    // The module's file keeps 16 bits: a number beyond them would be saved as another one.
    if (*degrees < INT16_MIN || *degrees > INT16_MAX) {
      dialogs.ErrorBox(std::string(points[p].name) + " temperature: '" + ShortenedForMessage(text) +
                       "' is outside -32768 to 32767 degrees");
      return false;
    }
    points[p].temp = static_cast<std::int16_t>(*degrees);
  }
  for (std::size_t p = 0; p < 3; ++p) {
    const std::string& text = *resistances[p];
    if (text == shown_[3 + p]) continue;
    const std::string field =
        std::string(points[p].name) + " resistance: '" + ShortenedForMessage(text);
    const std::optional<double> ohms = ParseNumber(text);
    if (!ohms) {
      dialogs.ErrorBox(field + "' is not a number of ohms");
      return false;
    }
    if (*ohms <= 0.0) {
      dialogs.ErrorBox(field + "' is not more than 0 ohms");
      return false;
    }
    const std::optional<std::int32_t> tenths = TenthsOfOhm(*ohms);
    if (!tenths) {
      dialogs.ErrorBox(field + "' is too large (at most 214748364.7 ohms)");
      return false;
    }
    // The file keeps tenths of an ohm: less than one would be saved as 0 ohms.
    if (*tenths == 0) {
      dialogs.ErrorBox(field + "' is less than 0.1 ohms, the smallest the module keeps");
      return false;
    }
    points[p].ohms = *ohms;
  }
  return true;
}

void ThermistorCalibrationWindow::SpeedButton2Click() {
  // Stored before the question, so the edits stay in memory even when the answer is No.
  if (!StoreUserCurveEdits()) return;
  if (!Ask("Save User Define?\n    Press Yes when ready.")) return;

  UserCurvePoints& c = app_.curves;
  for (std::size_t i = 0; i < kUserCurves; ++i) {
    for (const auto& [ohms, res] :
         {std::pair{c.OhmsHi[i], &c.ResHi[i]}, std::pair{c.OhmsMid[i], &c.ResMid[i]},
          std::pair{c.OhmsLow[i], &c.ResLow[i]}})
      *res = TenthsOfOhm(ohms).value_or(*res);
  }
  const auto record = SerializeUserCurves(c);
  std::copy(record.begin(), record.end(), app_.transfer.data());
  if (const std::string why = WriteAndReload(app_, wire::kUserCurveFile, record.size());
      !why.empty())
    return ShowCalibrationFailure(app_, "Saving the user curves", why);
  // Fitted on the ohms as typed, not on the tenths just written.
  // A curve left at zero ohms is one never defined: not fitting it is no news.
  const std::size_t shown = SelectedUserCurve;
  const bool shown_defined =
      c.OhmsHi[shown] != 0.0 || c.OhmsMid[shown] != 0.0 || c.OhmsLow[shown] != 0.0;
  bool shown_kept = false;
  for (int curve : FitUserCurves(c, app_.sensors)) {
    app_.Log(KeptCurvesLogLine(curve));
    shown_kept = shown_kept || (shown_defined && curve == SelectedUserCurve);
  }
  // The curve being edited was saved but converts nothing: the user must know it.
  if (shown_kept)
    ShowCalibrationFailure(app_, "Fitting user curve " + std::to_string(SelectedUserCurve),
                           "its three points admit no curve (two equal resistances or "
                           "temperatures?); the points were saved, the old curve is kept");
}

}  // namespace zvk
