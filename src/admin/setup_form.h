// The controls of the setup window TForm2, with their captions, hints and start states.
#pragma once

#include "util/controls.h"

namespace zvk {

inline constexpr const char* kSetupCaption = "zVK.Setup";

struct SetupForm {
  // The gauge is the one the transfers drive (App::gauge).
  explicit SetupForm(Gauge& gauge);
  SetupForm(const SetupForm&) = delete;
  SetupForm& operator=(const SetupForm&) = delete;

  std::string Caption = kSetupCaption;

  // Access point.
  GroupBox GroupBox1{.caption = "AP "};
  Label Label1{.caption = "SSID Name:"};
  Edit Edit1{.text = "LMV-260-AP"};
  Label Label3{.caption = "Key Type:"};
  RadioGroup ApKeyGroup;
  RadioButton RadioButton1;  // "Open", checked
  RadioButton RadioButton2;  // "WPA/WPA2"
  Label Label2{.caption = "SSID Key:"};
  Edit Edit2;
  Button Image2;

  // Station.
  GroupBox GroupBox2{.caption = "Station"};
  Label Label4{.caption = "SSID Name:"};
  Edit Edit3{.text = "GlowNET"};
  Label Label5{.caption = "Key Type:"};
  RadioGroup StaKeyGroup;
  RadioButton RadioButton3;  // "Open"
  RadioButton RadioButton4;  // "WEP"
  RadioButton RadioButton5;  // "WPA/WPA2", checked
  Label Label6{.caption = "SSID Key:"};
  Edit Edit4;
  Button Image3;
  CheckBox CheckBox1;  // "Static IP"
  Panel Panel1;        // the static IP controls and Image10
  Label Label10{.caption = "IP:"};
  Edit Edit8{.hint = "Station mode Static IP"};
  Label Label11{.caption = "Net mask:"};
  Edit Edit9{.text = "255.255.255.0", .hint = "Station mode Subnet mask"};
  Label Label12{.caption = "Gate way:"};
  Edit Edit10{.hint = "Station mode Gateway"};
  Button Image10;

  // Wi-Fi mode.
  GroupBox GroupBox5{.caption = "WiFi Mode "};
  RadioGroup WifiModeGroup;
  RadioButton RadioButton6;  // "AP "
  RadioButton RadioButton7;  // "Station", checked
  Button Image4;

  // Web login.
  GroupBox GroupBox4{.caption = "WEB"};
  Label Label7{.caption = "Login Key:"};
  Edit Edit6;
  Button Image5;

  // Modbus.
  GroupBox GroupBox6{.caption = "Modbus"};
  Label Label9{.caption = "Port:"};
  Edit Edit7;
  Label Label13{.caption = "Idle Timeout:"};
  Edit Edit11;
  Label Label14{.caption = "Sec"};
  Button Image9;

  // Location.
  GroupBox GroupBox3{.caption = "Location"};
  Label Label8{.caption = "String:"};
  Edit Edit5;
  Button Image6;

  Button Image7;                    // reset to defaults
  Button Image1;                    // firmware update
  Button Image8{.hint = "Reboot"};  // reboot
  Gauge& CGauge1;                   // across the bottom edge
};

}  // namespace zvk
