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
  GroupBox status_group{.caption = "Status"};         // GroupBox3
  Label module_state{.color = kRed, .bold = true};    // Label4
  Label location_text{.color = kNavy, .bold = true};  // Label5
  Label rssi{.caption = "RSSI:", .color = kPurple};   // Label12
  Label device_ip_label{.caption = "Device  IP:"};    // Label6
  Edit device_ip;                                     // Edit2
  Button static_ip_button{.caption = "Static IP"};    // SpeedButton5
  Button setup_button{.hint = "Setup"};               // Image1
  Button refresh_button{.hint = "Refresh"};           // Image2
  Button find_me_button{.hint = "Find me"};           // Image3
  // Image4: the trend window, beside the three images of the window.
  Button trend_button{.hint = "Trend"};

  // Voltage module channels.
  GroupBox analog_group{.visible = false};                 // GroupBox1
  Label analog_title{.caption = "Analog Input"};           // Label14
  Label sampling_rate_label{.caption = "Sampling Rate:"};  // Label21
  std::array<Label, 5> analog_caption;                     // Label1, Label2, Label3, Label8, Label9
  std::array<Label, 5> analog_value;                       // Label16 .. Label20
  std::array<ComboBox, 5> range;                           // ComboBox1 .. ComboBox5
  RadioGroup sampling;
  RadioButton sampling_normal;                          // RadioButton1
  RadioButton sampling_fast;                            // RadioButton2
  Button analog_calibration_button{.caption = "Cal."};  // SpeedButton1

  // Thermistor module channels.
  GroupBox thermistor_group{.visible = false};            // GroupBox2
  Label thermistor_title{.caption = "Thermistor Input"};  // Label27
  std::array<Label, 8> thermistor_caption;                // Label22 .. Label26, Label38 .. Label40
  std::array<Label, 8> thermistor_value;                  // Label28 .. Label35
  GroupBox sensor_type_group{.caption = "Sensor Type"};   // GroupBox4
  std::array<ComboBox, 8> sensor_type;                    // ComboBox6 .. ComboBox13
  GroupBox fahrenheit_group{.caption = "\u2109"};         // GroupBox5
  std::array<CheckBox, 8> fahrenheit;                     // CheckBox1 .. CheckBox8
  GroupBox offset_group{.caption = "Offset"};             // GroupBox6
  std::array<SpinEdit, 8> offset;                         // SpinEdit1 .. SpinEdit8
  Label offset_unit{.caption = "x 0.1\u00B0", .color = kRed};           // Label36
  Button thermistor_calibration_button{.caption = "Cal./User Define"};  // SpeedButton2

  // Panel 0 shows the state's status line (App::Status); panel 1: firmware version.
  StatusBar status_bar;  // StatusBar2
  StatusBar link_bar;  // StatusBar1: panel 0: link and MAC; panel 1: "IP: " and the module address
  // Memo1, the hidden log, is the state's App::log_lines: every window appends to it.
};

}  // namespace zvk
