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
  GroupBox ap_group{.caption = "AP "};              // GroupBox1
  Label ap_ssid_label{.caption = "SSID Name:"};     // Label1
  Edit ap_ssid{.text = "LMV-260-AP"};               // Edit1
  Label ap_key_type_label{.caption = "Key Type:"};  // Label3
  RadioGroup ap_key_type;
  RadioButton ap_key_open;                     // RadioButton1: "Open", checked
  RadioButton ap_key_wpa;                      // RadioButton2: "WPA/WPA2"
  Label ap_key_label{.caption = "SSID Key:"};  // Label2
  Edit ap_key;                                 // Edit2
  Button ap_write;                             // Image2

  // Station.
  GroupBox station_group{.caption = "Station"};          // GroupBox2
  Label station_ssid_label{.caption = "SSID Name:"};     // Label4
  Edit station_ssid{.text = "GlowNET"};                  // Edit3
  Label station_key_type_label{.caption = "Key Type:"};  // Label5
  RadioGroup station_key_type;
  RadioButton station_key_open;                     // RadioButton3: "Open"
  RadioButton station_key_wep;                      // RadioButton4: "WEP"
  RadioButton station_key_wpa;                      // RadioButton5: "WPA/WPA2", checked
  Label station_key_label{.caption = "SSID Key:"};  // Label6
  Edit station_key;                                 // Edit4
  Button station_write;                             // Image3
  CheckBox static_ip;                               // CheckBox1: "Static IP"
  Panel static_ip_panel;                            // Panel1: the static IP controls and Image10
  Label static_ip_address_label{.caption = "IP:"};  // Label10
  Edit static_ip_address{.hint = "Station mode Static IP"};                          // Edit8
  Label static_ip_mask_label{.caption = "Net mask:"};                                // Label11
  Edit static_ip_mask{.text = "255.255.255.0", .hint = "Station mode Subnet mask"};  // Edit9
  Label static_ip_gateway_label{.caption = "Gate way:"};                             // Label12
  Edit static_ip_gateway{.hint = "Station mode Gateway"};                            // Edit10
  Button static_ip_write;                                                            // Image10

  // Wi-Fi mode.
  GroupBox wifi_mode_group{.caption = "WiFi Mode "};  // GroupBox5
  RadioGroup wifi_mode;
  RadioButton wifi_mode_ap;       // RadioButton6: "AP "
  RadioButton wifi_mode_station;  // RadioButton7: "Station", checked
  Button wifi_mode_write;         // Image4

  // Web login.
  GroupBox web_group{.caption = "WEB"};          // GroupBox4
  Label web_key_label{.caption = "Login Key:"};  // Label7
  Edit web_key;                                  // Edit6
  Button web_key_write;                          // Image5

  // Modbus.
  GroupBox modbus_group{.caption = "Modbus"};              // GroupBox6
  Label modbus_port_label{.caption = "Port:"};             // Label9
  Edit modbus_port;                                        // Edit7
  Label modbus_timeout_label{.caption = "Idle Timeout:"};  // Label13
  Edit modbus_timeout;                                     // Edit11
  Label modbus_timeout_unit{.caption = "Sec"};             // Label14
  Button modbus_write;                                     // Image9

  // Location.
  GroupBox location_group{.caption = "Location"};  // GroupBox3
  Label location_label{.caption = "String:"};      // Label8
  Edit location;                                   // Edit5
  Button location_write;                           // Image6

  Button reset_defaults;            // Image7
  Button firmware_update;           // Image1
  Button reboot{.hint = "Reboot"};  // Image8
  Gauge& gauge;                     // CGauge1: across the bottom edge
};

}  // namespace zvk
