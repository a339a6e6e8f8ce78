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
  Label Label1{.caption = "TH0:"};
  Label Label2{.color = kBlue};  // result of the reference buttons
  Button SpeedButton1{.caption = "Cal."};
  Button SpeedButton6{.caption = "Rst."};

  GroupBox Panel1;  // frame of the user-define area, holding the controls below
  Label Label3{.caption = "User Define:"};
  ComboBox ComboBox1;  // "70:User-defined0 -50°C ~ 150°C" .. "77:User-defined7 -50°C ~ 150°C"
  Label Label5{.caption = "Temperature"};
  Label Label7{.caption = "Resistance"};
  Label Label9{.caption = "Hi"};
  Label Label11{.caption = "Mid"};
  Label Label12{.caption = "Low"};
  Edit Edit1, Edit2, Edit3;  // Hi, Mid, Low temperature, whole degrees Celsius
  Edit Edit4, Edit5, Edit6;  // Hi, Mid, Low resistance, ohms
  Button SpeedButton2{.caption = "Save"};
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
