// Decoding the module's self-description (reply to CMD_GET_DEVICE) into the reported
// configuration and the main window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/device_config.h"
#include "link/identity_record.h"

namespace zvk {

class App;
struct MainForm;

// Model names as the module family calls them.
inline constexpr const char* kKm3ModelText = "zVK-KM3 Analog Input Module";
inline constexpr const char* kQn6ModelText = "zVK-QN6 Thermistor Input Module";
inline constexpr const char* kUnknownModelText = "Unknow Device??";

void DecodeDeviceInfo(App& app, MainForm& f);
// "RSSI: -61dBm" for the raw value 0xFFC3 (the value minus 65536).
std::string RssiText(std::uint16_t raw);

}  // namespace zvk
