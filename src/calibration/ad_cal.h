// The analog calibration window TForm3 as a model: per channel AI0 to AI4, the calibration of the
// channel's reference against the module's Vref pin and the reset to its factory reference, both
// written back to the module's reference file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "calibration/commands.h"
#include "util/controls.h"

namespace zvk {

class App;

struct AnalogCalibrationForm {
  AnalogCalibrationForm();

  std::string Caption = "Analog Calibration";
  std::array<Label, 5> channel_label;  // Label1, Label3, Label5, Label7, Label9: "AI0:" .. "AI4:"
  std::array<Label, 5> result;         // Label2, Label4, Label6, Label8, Label10
  std::array<Button, 5> cal_button;    // SpeedButton1 .. SpeedButton5 "Cal."
  std::array<Button, 5> reset_button;  // SpeedButton6 .. SpeedButton10 "Rst."
};

// What the calibration borrows from the main window: its range command and its data poll, whose
// reply the main window decodes before the call returns. Each is true when its frame went out.
struct AnalogCalibrationUses {
  std::function<bool()> SendRangeConfig;
  std::function<bool()> SendDataPoll;
};

inline constexpr int kRangeSettleMs = 300;

class AnalogCalibrationWindow {
 public:
  AnalogCalibrationWindow(App& app, AnalogCalibrationUses uses);
  AnalogCalibrationWindow(const AnalogCalibrationWindow&) = delete;
  AnalogCalibrationWindow& operator=(const AnalogCalibrationWindow&) = delete;

  void FormActivate();
  // Hands the periodic data poll back to the main window.
  void FormClose();
  void CalButtonClick(int n);  // SpeedButton1Click .. SpeedButton5Click
  void RstButtonClick(int n);  // SpeedButton6Click .. SpeedButton10Click

  // True when the user confirmed and the sequence ran to the reload command; false when the
  // user declined or the calibration stopped before writing (the user was told why). A failed
  // file write escapes as RemoteFileError, with the buttons enabled again.
  bool CalibrateAnalogChannel(std::uint8_t n);
  bool ResetAnalogReference(std::uint8_t n);

  AnalogCalibrationForm form;

 private:
  void SetButtonsEnabled(bool enabled);
  bool Ask(const std::string& question);
  bool Stop(const std::string& operation, const std::string& why);
  // Writes the block and has the module reload it; the reason when the module did not take both.
  std::string WriteRefFile();

  App& app_;
  AnalogCalibrationUses uses_;
};

}  // namespace zvk
