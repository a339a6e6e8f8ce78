// The host's network interfaces, as the connection check needs them: IPv4 adapters with their
// first address, and the wireless interfaces with whether each is connected. The network scan
// takes its default ranges from the adapters' prefix lengths and states.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zvk {

struct AdapterInfo {
  std::string name;        // identifier that pairs the adapter with a wireless interface
  std::string address;     // first IPv4 address as dotted text, empty when it has none
  int prefix_length = -1;  // of that address's subnet; -1 when not known
  bool up = true;          // administratively up
  bool loopback = false;   // the host's own loopback interface
};

struct WirelessInterface {
  std::string id;  // same identifier form as AdapterInfo::name
  bool connected = false;
};

class HostInterfaces {
 public:
  virtual ~HostInterfaces() = default;
  // IPv4 adapters in host order; nullopt when the query failed (with a reason in *error).
  virtual std::optional<std::vector<AdapterInfo>> Adapters(std::string* error) = 0;
  // Wireless interfaces in host order; nullopt when the wireless service is unavailable.
  virtual std::optional<std::vector<WirelessInterface>> Wireless() = 0;
  // A provider that stands for a known answer gives the match count itself, with no scan.
  virtual std::optional<int> FixedMatchCount() const { return std::nullopt; }
};

// Stands in for the scan when the user said where the module is: the connection check counts
// exactly one match and touches no host interface.
class SkipWifiCheckInterfaces final : public HostInterfaces {
 public:
  std::optional<std::vector<AdapterInfo>> Adapters(std::string*) override { return {}; }
  std::optional<std::vector<WirelessInterface>> Wireless() override { return {}; }
  std::optional<int> FixedMatchCount() const override { return 1; }
};

// The platform's own interfaces (Linux: getifaddrs and sysfs; Windows: adapter and Wi-Fi APIs).
std::unique_ptr<HostInterfaces> MakePlatformHostInterfaces();

}  // namespace zvk
