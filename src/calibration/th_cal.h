// The thermistor calibration window TForm4 as a model: the module's own reference calibration
// and reset, and the editing of the eight user curves (three temperature/resistance points each),
// saved to the module's user curve file and fitted into the sensor table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "util/controls.h"

namespace zvk {

class App;

struct ThermistorCalibrationForm {
  ThermistorCalibrationForm();

  std::string Caption = "Thermistor Calibration/User Define";
  Label channel_label{.caption = "TH0:"};            // Label1
  Label reference_result{.color = kBlue};            // Label2: result of the reference buttons
  Button reference_cal_button{.caption = "Cal."};    // SpeedButton1
  Button reference_reset_button{.caption = "Rst."};  // SpeedButton6

  GroupBox user_curve_panel;  // Panel1: frame of the user-define area, holding the controls below
  Label user_curve_label{.caption = "User Define:"};  // Label3
  // ComboBox1: "70:User-defined0 -50°C ~ 150°C" .. "77:User-defined7 -50°C ~ 150°C".
  ComboBox user_curve;
  Label temperature_label{.caption = "Temperature"};  // Label5
  Label resistance_label{.caption = "Resistance"};    // Label7
  Label hi_label{.caption = "Hi"};                    // Label9
  Label mid_label{.caption = "Mid"};                  // Label11
  Label low_label{.caption = "Low"};                  // Label12
  // The three points: temperatures in whole degrees Celsius, resistances in ohms.
  Edit hi_degrees;                        // Edit1
  Edit mid_degrees;                       // Edit2
  Edit low_degrees;                       // Edit3
  Edit hi_ohms;                           // Edit4
  Edit mid_ohms;                          // Edit5
  Edit low_ohms;                          // Edit6
  Button save_button{.caption = "Save"};  // SpeedButton2
};

class ThermistorCalibrationWindow {
 public:
  explicit ThermistorCalibrationWindow(App& app);
  ThermistorCalibrationWindow(const ThermistorCalibrationWindow&) = delete;
  ThermistorCalibrationWindow& operator=(const ThermistorCalibrationWindow&) = delete;

  void FormActivate();
  // Clears the result and hands the periodic data poll back to the main window.
  void FormClose();
  void SpeedButton1Click();  // reference calibration
  void SpeedButton6Click();  // reference reset
  void ComboBox1Change();
  void SpeedButton2Click();  // save the user curves

  // Shows the points of the curve ComboBox1 names. A text that names no user curve (its first two
  // characters are not 70 to 77 in hex) is refused with an error box: nothing changes.
  bool ShowUserCurve();
  // Parses the six edits, in order, into curve SelectedUserCurve, each field stored as soon as it
  // parses. The first edit that does not parse, or a resistance of 0 or less or beyond what the
  // module's tenths of an ohm can hold, ends it with an error box naming the field. An edit left
  // as ShowUserCurve filled it keeps the exact value it showed (the text is rounded to 7 digits).
  bool StoreUserCurveEdits();

  // The curve whose points the edits show (0 to 7).
  std::uint8_t SelectedUserCurve = 0;

  ThermistorCalibrationForm form;

 private:
  bool Ask(const std::string& question);
  void ReferenceCommand(std::uint8_t option, const std::string& question, const std::string& done,
                        const std::string& what);

  App& app_;
  std::array<std::string, 6> shown_;  // Edit1 .. Edit6 as ShowUserCurve filled them
};

// Tenths of an ohm as the module stores them: ohms × 10, truncated toward zero; none when that
// does not fit a signed 32-bit integer (or is not a number).
std::optional<std::int32_t> TenthsOfOhm(double ohms);

}  // namespace zvk
