#include "calibration/ad_cal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "admin/remote_files.h"
#include "calibration/commands.h"
#include "link/wire.h"
#include "state/app.h"
#include "util/byte_order.h"
#include "util/format_fixed.h"

namespace zvk {

namespace {

constexpr std::uint8_t kCalibrationRange = 2;  // "2:-/+2.5V"
constexpr std::uint8_t kNormalSampling = 0;
constexpr std::size_t kBlockLineBytes = 16;

// Each byte as two upper-case hex digits and a comma: "1F,A0,".
std::string HexBytes(const std::uint8_t* bytes, std::size_t n) {
  std::string text;
  char group[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(group, sizeof group, "%02X,", unsigned{bytes[i]});
    text += group;
  }
  return text;
}

std::string Channel(std::uint8_t n) {
  return "AI" + std::to_string(n);
}

// Disables the ten buttons for the length of an operation, however it ends.
class ButtonsBusy {
 public:
  explicit ButtonsBusy(std::function<void(bool)> set) : set_(std::move(set)) { set_(false); }
  ~ButtonsBusy() { set_(true); }
  ButtonsBusy(const ButtonsBusy&) = delete;
  ButtonsBusy& operator=(const ButtonsBusy&) = delete;

 private:
  std::function<void(bool)> set_;
};

}  // namespace

AnalogCalibrationForm::AnalogCalibrationForm() {
  for (std::size_t n = 0; n < 5; ++n) {
    channel_label[n].caption = "AI" + std::to_string(n) + ":";
    result[n].color = kBlue;
    cal_button[n].caption = "Cal.";
    reset_button[n].caption = "Rst.";
  }
}

AnalogCalibrationWindow::AnalogCalibrationWindow(App& app, AnalogCalibrationUses uses)
    : app_(app), uses_(std::move(uses)) {
  for (int n = 0; n < 5; ++n) {
    form.cal_button[n].on_click = [this, n] { CalButtonClick(n); };
    form.reset_button[n].on_click = [this, n] { RstButtonClick(n); };
  }
}

void AnalogCalibrationWindow::FormActivate() {
  for (Label& result : form.result) result.caption.clear();
}

void AnalogCalibrationWindow::FormClose() {
  app_.discovery.PollingEnabled = true;
}

void AnalogCalibrationWindow::CalButtonClick(int n) {
  // Only AI4 checks the model: the voltage module is the one with a fifth input.
  if (n == 4 && app_.device.ModelCode != wire::kModelKm3) return;
  if (CalibrateAnalogChannel(static_cast<std::uint8_t>(n)))
    form.result[n].caption = "Calibration Done!";
}

void AnalogCalibrationWindow::RstButtonClick(int n) {
  if (ResetAnalogReference(static_cast<std::uint8_t>(n)))
    form.result[n].caption = "Reference reset Done!";
}

void AnalogCalibrationWindow::SetButtonsEnabled(bool enabled) {
  for (Button& b : form.cal_button) b.enabled = enabled;
  for (Button& b : form.reset_button) b.enabled = enabled;
}

bool AnalogCalibrationWindow::Ask(const std::string& question) {
  return app_.seams.dialogs.MessageBox("Information", question, MsgIcon::Information,
                                       MsgButtons::YesNo) == MsgResult::Yes;
}

bool AnalogCalibrationWindow::Stop(const std::string& operation, const std::string& why) {
  app_.seams.dialogs.MessageBox("Information",
                                operation + " stopped, nothing written:\n    . " + why,
                                MsgIcon::Information, MsgButtons::Ok);
  return false;
}

std::string AnalogCalibrationWindow::WriteRefFile() {
  const AnalogRefBlock& block = app_.meas.AnalogRefBlock;
  std::copy(block.begin(), block.end(), app_.transfer.data());
  for (std::size_t at = 0; at < block.size(); at += kBlockLineBytes)
    app_.Log(HexBytes(block.data() + at, kBlockLineBytes));
  return WriteAndReload(app_, wire::kAnalogRefFile, block.size());
}

bool AnalogCalibrationWindow::CalibrateAnalogChannel(std::uint8_t n) {
  const ButtonsBusy busy([this](bool on) { SetButtonsEnabled(on); });
  const std::string ch = Channel(n);
  if (!Ask(ch + " calibration?\n    . 1. Please connect " + ch + "+ to Vref pin\n" +
           "    . 2. Connect " + ch + "- to AGND pin\n" + "    . 3. Press Yes when ready."))
    return false;

  MeasurementState& m = app_.meas;
  const std::string operation = ch + " calibration";
  m.RangeCode[n] = kCalibrationRange;
  m.SamplingMode = kNormalSampling;
  // The reference is computed only from this calibration's own reading at range 2: a reading
  // left from before, at another range or from no reply at all would store a wrong reference.
  if (!uses_.SendRangeConfig())
    return Stop(operation, "the range setting could not be sent to the module");
  app_.seams.sleeper.SleepMs(kRangeSettleMs);
  if (!uses_.SendDataPoll() || app_.link.PendingCommand != 0 ||
      app_.device.ModelCode != wire::kModelKm3)
    return Stop(operation, "no data reply came from the voltage module");
  if (m.RangeCode[n] != kCalibrationRange)
    return Stop(operation, "the module reports " + ch + " at range " +
                               std::to_string(m.RangeCode[n]) + ", not at 2:-/+2.5V");

  const auto raw = static_cast<std::int16_t>(m.RawReading[n]);
  app_.Log("ii=>" + std::to_string(raw));
  if (raw == 0)
    return Stop(operation, ch + " reads 0; please check that " + ch + "+ is connected to Vref pin");
  const double v = m.VrefCount * VREF_VOLTS_PER_COUNT;
  app_.Log("di=>" + FormatFixed(v, 10, 8));
  const double q = v / raw;  // volts per count at range 2
  app_.Log("di=>" + FormatFixed(q, 10, 8));
  const double ref = q / 2.0;  // volts per count at range 3
  if (ref == 0.0 || !std::isfinite(ref))
    return Stop(operation, "the module reports no reference voltage (Vref count 0)");

  m.AnalogRefBlock.SetActiveRef(n, ref);
  std::uint8_t bytes[8];
  PutLeDouble(bytes, ref);
  app_.Log(HexBytes(bytes, sizeof bytes));
  if (const std::string why = WriteRefFile(); !why.empty()) {
    ShowCalibrationFailure(app_, operation, why);
    return false;
  }
  return true;
}

bool AnalogCalibrationWindow::ResetAnalogReference(std::uint8_t n) {
  const ButtonsBusy busy([this](bool on) { SetButtonsEnabled(on); });
  const std::string ch = Channel(n);
  if (!Ask(ch + " Reference reset to default?\n    . Press Yes when ready.")) return false;
  AnalogRefBlock& block = app_.meas.AnalogRefBlock;
  // Writing a block the module never reported would wipe every reference in its file.
  if (block.AllZero())
    return Stop(ch + " reference reset",
                "no reference block has been read from the voltage module yet");
  block.ResetActiveRef(n);
  if (const std::string why = WriteRefFile(); !why.empty()) {
    ShowCalibrationFailure(app_, ch + " reference reset", why);
    return false;
  }
  return true;
}

}  // namespace zvk
