// Reading the module's identity record (the reply to CMD_GET_DEVICE) into plain fields. The main
// window's decoding and the network scan both read it through here, so the record has one reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zvk {

// A text field: up to the first zero byte, never past its width.
std::string FieldText(const std::uint8_t* field, std::size_t width);

struct IdentityRecord {
  std::uint8_t model_code = 0;  // as reported, whether the family knows it or not
  std::string address;          // the module's own IPv4 address, "192.168.77.1"
  std::string mac;              // "02:5A:51:36:00:01"
  std::string firmware;         // "01.12"
  // The module's 8-bit texts, as on the wire (util/text_codec converts them for a person).
  std::string location;
  std::string ap_ssid;
  std::uint8_t ap_key_type = 0;
  std::string ap_key;  // read only when ap_key_type is not 0
  std::string sta_ssid;
  std::uint8_t sta_key_type = 0;
  std::string sta_key;         // read only when sta_key_type is not 0
  std::uint8_t wifi_mode = 0;  // not 0: access point
  std::uint16_t modbus_port = 0;
  bool static_ip_enabled = false;
  std::array<std::uint8_t, 4> static_ip{};
  std::array<std::uint8_t, 4> subnet_mask{};
  std::array<std::uint8_t, 4> gateway{};
  std::uint16_t rssi_raw = 0;  // 0: not reported; else the value minus 65536 is dBm
  std::uint16_t idle_timeout = 0;
};

// The common part of a record (offsets 6 to 197); `reply` holds at least that much.
IdentityRecord ReadIdentityRecord(const std::uint8_t* reply);

}  // namespace zvk
