// A module's profile: what it reported about itself and every setting the utility can write
// back, saved as a versioned JSON file (see README.md) and compared setting by setting.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "link/wire.h"

namespace zvk {

class App;
struct MainForm;

// A profile file that cannot be used; the message says what is wrong with it.
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kProfileVersion = 1;

struct WifiGroup {
  std::string ssid;  // UTF-8
  std::uint8_t key_type = 0;
  std::optional<std::string> key;  // UTF-8; kept only when asked for

  // A station never set up: no SSID and no key. Restored by deleting the station's files.
  bool IsEmpty() const { return ssid.empty() && key_type == 0; }
};

struct Profile {
  std::uint8_t model_code = 0;
  // Reported only: the module's identity, never written back.
  std::string model_name, address, mac, firmware, rssi;
  std::uint16_t reference_count = 0;  // thermistor module: its reference count

  // Written back. Texts are UTF-8; the module holds them in its 8-bit code page.
  std::string location;
  std::uint8_t wifi_mode = 1;  // 0 station, otherwise access point
  WifiGroup access_point, station;
  bool static_ip_enabled = false;
  std::array<std::uint8_t, 4> static_ip{}, subnet_mask{}, gateway{};
  std::uint32_t modbus_port = 0, idle_timeout = 0;
  // Voltage module.
  std::uint8_t sampling_mode = 0;
  std::array<std::uint8_t, wire::kAnalogChannels> ranges{};
  std::array<std::uint8_t, wire::kAnalogRefBlockSize> analog_ref_block{};
  // Thermistor module.
  std::array<std::uint8_t, 8> sensor_types{}, fahrenheit{};
  std::array<std::int8_t, 8> offsets{};
  std::array<std::uint8_t, 144> user_curves{};  // the module's user curve record

  bool IsVoltageModule() const { return model_code == wire::kModelKm3; }
  // A user curve never defined: all three resistances 0, as the module keeps it from the start.
  bool UserCurveUndefined(int curve) const;
};

// The profile of the identified module as the main window decoded its identity record. Keys
// are kept only with `with_keys`.
Profile ProfileOfModule(const App& app, const MainForm& form, bool with_keys);

// The JSON text of a profile, indented, ending in a newline.
std::string ProfileToJson(const Profile& profile);
// Reads a profile; throws ProfileError for anything that is not a complete profile of this
// version for a known model (nothing is guessed or filled in).
Profile ProfileFromJson(std::string_view text);

// Every setting of a profile that the commands writing it would refuse, each as
// "profile.field: why"; empty when the whole profile can be written. A restore checks this
// before it sends anything, so a profile is never half applied.
std::vector<std::string> ProfileProblems(const Profile& profile);

// One setting in which a module differs from a profile, in the file's terms.
struct ProfileChange {
  std::string setting;  // "location", "station", "TH2 offset", "user curve 3" ...
  std::string module_value;
  std::string file_value;
};

// What restoring `file` onto a module that reports `module` would change, in the order of the
// file. Keys are compared only when the file holds them, and never shown; a key longer than the
// identity record's 14 bytes matches when the module reports its first 14. Addresses of a
// static IP that is off on both sides are not compared. Both must be of the same model.
std::vector<ProfileChange> DiffProfiles(const Profile& module, const Profile& file);

// The name a person knows a model by ("zVK-QN6"), or the code in hex.
std::string ModelShortName(std::uint8_t model_code);

}  // namespace zvk
