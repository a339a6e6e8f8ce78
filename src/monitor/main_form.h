// The controls of the main window TForm1, with their captions, hints, colours and start states.
#pragma once

#include <array>

#include "util/controls.h"

namespace zvk {

inline constexpr const char* kMainCaption = "zVK-Analog V1.00(20200213)";
inline constexpr int kMainClientWidth = 528;
inline constexpr int kMainClientHeight = 479;
// The limits of a thermistor channel's display offset spin edit, in tenths of a degree.
inline constexpr int kMinTempOffset = -127;
inline constexpr int kMaxTempOffset = 127;

struct MainForm {
  MainForm();

  std::string Caption = kMainCaption;

  // Identity area.
  GroupBox GroupBox3{.caption = "Status"};
  Label Label4{.color = kRed, .bold = true};
  Label Label5{.color = kNavy, .bold = true};
  Label Label12{.caption = "RSSI:", .color = kPurple};
  Label Label6{.caption = "Device  IP:"};
  Edit Edit2;
  Button SpeedButton5{.caption = "Static IP"};
  Button Image1{.hint = "Setup"};
  Button Image2{.hint = "Refresh"};
  Button Image3{.hint = "Find me"};
  Button Image4{.hint = "Trend"};  // the trend window, beside the three images of the window

  // Voltage module channels.
  GroupBox GroupBox1{.visible = false};
  Label Label14{.caption = "Analog Input"};
  Label Label21{.caption = "Sampling Rate:"};
  std::array<Label, 5> AnalogCaption;  // Label1, Label2, Label3, Label8, Label9
  std::array<Label, 5> AnalogValue;    // Label16 .. Label20
  std::array<ComboBox, 5> RangeCombo;  // ComboBox1 .. ComboBox5
  RadioGroup SamplingGroup;
  RadioButton RadioButton1;
  RadioButton RadioButton2;
  Button SpeedButton1{.caption = "Cal."};

  // Thermistor module channels.
  GroupBox GroupBox2{.visible = false};
  Label Label27{.caption = "Thermistor Input"};
  std::array<Label, 8> ThermistorCaption;  // Label22 .. Label26, Label38 .. Label40
  std::array<Label, 8> ThermistorValue;    // Label28 .. Label35
  GroupBox GroupBox4{.caption = "Sensor Type"};
  std::array<ComboBox, 8> SensorCombo;  // ComboBox6 .. ComboBox13
  GroupBox GroupBox5{.caption = "\u2109"};
  std::array<CheckBox, 8> FahrenheitCheck;  // CheckBox1 .. CheckBox8
  GroupBox GroupBox6{.caption = "Offset"};
  std::array<SpinEdit, 8> OffsetSpin;  // SpinEdit1 .. SpinEdit8
  Label Label36{.caption = "x 0.1\u00B0", .color = kRed};
  Button SpeedButton2{.caption = "Cal./User Define"};

  // Panel 0 shows the state's status line (App::Status); panel 1: firmware version.
  StatusBar StatusBar2;
  StatusBar StatusBar1;  // panel 0: link and MAC; panel 1: "IP: " and the module address
  // Memo1, the hidden log, is the state's App::log_lines: every window appends to it.
};

}  // namespace zvk
