// The small whole-module commands: Wi-Fi mode, reset to defaults, reboot, the web login key and
// the notice that the Modbus settings file was written. Each first checks the connection
// (SelectDevice) and sends nothing when it fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zvk {

class App;

// Whether a command is done: it went out and, where the module answers, the module
// acknowledged it. When it is not, why (for the result box).
struct Sent {
  bool ok = false;
  std::string why;        // "the module was not found", "Connect Timeout", ...
  bool went_out = false;  // the frame was written, but the answer was not an acknowledgement
  explicit operator bool() const { return ok; }
};

inline constexpr std::uint8_t kWifiModeAccessPoint = 2;
inline constexpr std::uint8_t kWifiModeStation = 0;
inline constexpr std::size_t kMaxWebKey = 249;  // 6 + 249 bytes: the longest frame Transact sends

// CMD_SET_WIFI_MODE, 6 bytes: 2 access point, 0 station. Clears RetryCount.
Sent SendWifiMode(App& app, bool access_point);
// CMD_RESET_CONFIG, 6 bytes (the setup window passes 1).
Sent SendResetDefaults(App& app, std::uint8_t p);
// CMD_RESET_MODULE, 5 bytes by SendOnly: no reply is read. Also the re-issuer of 45.
Sent SendReboot(App& app);
// CMD_SET_WEB_KEY: the key's length, then its bytes (8-bit, as the module keeps them).
Sent SendWebKey(App& app, const std::string& key);
// CMD_MBPORT_CFG, 5 bytes.
Sent SendMbportWritten(App& app);

}  // namespace zvk
