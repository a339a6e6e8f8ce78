// The module's self-description (reply to CMD_GET_DEVICE) and the configuration it reports,
// kept for the setup window.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zvk {

class App;

struct DeviceConfig {
  std::uint8_t ModelCode = 0;
  bool ModelKnown = false;
  bool Identified = false;
  bool DeviceInfoLoaded = false;
  std::string DeviceLocation;
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

// Model names as the module family calls them.
inline constexpr const char* kKm3ModelText = "zVK-KM3 Analog Input Module";
inline constexpr const char* kQn6ModelText = "zVK-QN6 Thermistor Input Module";
inline constexpr const char* kUnknownModelText = "Unknow Device??";

// A text field: up to the first zero byte, never past its width.
std::string FieldText(const std::uint8_t* field, std::size_t width);

void DecodeDeviceInfo(App& app);
// "RSSI: -61dBm" for the raw value 0xFFC3 (the value minus 65536).
std::string RssiText(std::uint16_t raw);

}  // namespace zvk
