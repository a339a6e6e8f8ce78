// What the module reported about itself in its identity record: the plain data the setup window
// shows and the link consults (the model selects the length of a data reply).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace zvk {

struct DeviceConfig {
  std::uint8_t ModelCode = 0;
  bool ModelKnown = false;
  bool Identified = false;
  bool DeviceInfoLoaded = false;
  std::string DeviceLocation;
  // "02:5A:51:36:00:01" from the last identity record that was whole; empty before one.
  std::string DevMac;
  // "01.12" from the same record; empty before one.
  std::string DevFirmware;
  // The signal strength in dBm, as the last record that reported one gave it (a record with none
  // leaves it, as it leaves the window's RSSI label).
  std::optional<int> DevRssiDbm;
  std::string DevApSsid;
  std::string DevStaSsid;
  std::uint8_t DevApKeyType = 0;
  std::uint8_t DevStaKeyType = 0;
  std::string DevApKey;
  std::string DevStaKey;
  std::uint8_t DevWifiMode = 0;
  std::uint32_t DevModbusPort = 502;
  bool DevStaticIpEnabled = false;
  std::array<std::uint8_t, 4> DevStaticIp{};
  std::array<std::uint8_t, 4> DevSubnetMask{};
  std::array<std::uint8_t, 4> DevGateway{};
  std::uint32_t DevIdleTimeout = 120;
};

}  // namespace zvk
