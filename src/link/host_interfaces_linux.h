// Host interfaces on Linux: IPv4 adapters from getifaddrs, wireless interfaces from sysfs. The
// identifier that pairs the two is the interface name.
#pragma once

#ifndef _WIN32

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/host_interfaces.h"

struct ifaddrs;

namespace zvk {

// The IPv4 adapters of a getifaddrs list: each name once, in list order, with the address of its
// first IPv4 entry.
std::vector<AdapterInfo> Ipv4AdaptersFromList(const ifaddrs* head);

// IPv4 interfaces in the order getifaddrs reports them, each name once with its first IPv4
// address; nullopt with the system's reason in *error when getifaddrs fails.
std::optional<std::vector<AdapterInfo>> ListIpv4AdaptersFromGetifaddrs(std::string* error);

class LinuxHostInterfaces final : public HostInterfaces {
 public:
  using AdapterLister = std::function<std::optional<std::vector<AdapterInfo>>(std::string*)>;

  explicit LinuxHostInterfaces(std::string sysfs_net_root = "/sys/class/net",
                               AdapterLister list_adapters = ListIpv4AdaptersFromGetifaddrs);

  std::optional<std::vector<AdapterInfo>> Adapters(std::string* error) override;
  // Interfaces under the sysfs root with a `wireless` or `phy80211` entry, sorted by name;
  // connected when their operstate is "up".
  std::optional<std::vector<WirelessInterface>> Wireless() override;

 private:
  std::string sysfs_net_root_;
  AdapterLister list_adapters_;
};

}  // namespace zvk

#endif  // _WIN32
