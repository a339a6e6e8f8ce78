#ifndef _WIN32

#include "link/host_interfaces_linux.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

namespace zvk {

namespace fs = std::filesystem;

namespace {

// The number of leading one bits of a netmask; -1 when the ones are not contiguous.
int PrefixLength(std::uint32_t mask) {
  int ones = 0;
  while (ones < 32 && (mask & (0x80000000u >> ones)) != 0) ++ones;
  const std::uint32_t expected = ones == 0 ? 0 : ~std::uint32_t{0} << (32 - ones);
  return mask == expected ? ones : -1;
}

}  // namespace

std::vector<AdapterInfo> Ipv4AdaptersFromList(const ifaddrs* head) {
  std::vector<AdapterInfo> adapters;
  for (const ifaddrs* it = head; it != nullptr; it = it->ifa_next) {
    if (it->ifa_name == nullptr || it->ifa_addr == nullptr) continue;
    if (it->ifa_addr->sa_family != AF_INET) continue;
    std::string name = it->ifa_name;
    auto seen = std::find_if(adapters.begin(), adapters.end(),
                             [&](const AdapterInfo& a) { return a.name == name; });
    if (seen != adapters.end()) continue;  // later entries are secondary addresses
    sockaddr_in sin{};
    std::memcpy(&sin, it->ifa_addr, sizeof sin);  // sockaddr may be under-aligned for a cast
    char text[INET_ADDRSTRLEN] = {};
    std::string address;
    if (::inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text) != nullptr) address = text;
    AdapterInfo adapter{std::move(name), std::move(address)};
    if (it->ifa_netmask != nullptr && it->ifa_netmask->sa_family == AF_INET) {
      sockaddr_in mask{};
      std::memcpy(&mask, it->ifa_netmask, sizeof mask);
      adapter.prefix_length = PrefixLength(ntohl(mask.sin_addr.s_addr));
    }
    adapter.up = (it->ifa_flags & IFF_UP) != 0;
    adapter.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

std::optional<std::vector<AdapterInfo>> ListIpv4AdaptersFromGetifaddrs(std::string* error) {
  ifaddrs* head = nullptr;
  if (::getifaddrs(&head) != 0) {
    if (error) *error = std::strerror(errno);
    return std::nullopt;
  }
  std::vector<AdapterInfo> adapters = Ipv4AdaptersFromList(head);
  ::freeifaddrs(head);
  return adapters;
}

LinuxHostInterfaces::LinuxHostInterfaces(std::string sysfs_net_root, AdapterLister list_adapters)
    : sysfs_net_root_(std::move(sysfs_net_root)), list_adapters_(std::move(list_adapters)) {}

std::optional<std::vector<AdapterInfo>> LinuxHostInterfaces::Adapters(std::string* error) {
  return list_adapters_(error);
}

namespace {

std::string ReadTrimmed(const fs::path& file) {
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const char* space = " \t\r\n";
  std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

std::optional<std::vector<WirelessInterface>> LinuxHostInterfaces::Wireless() {
  std::error_code ec;
  fs::directory_iterator dir(sysfs_net_root_, ec);
  if (ec) return std::nullopt;

  std::vector<std::string> names;
  for (; dir != fs::directory_iterator(); dir.increment(ec)) {
    // Entries in /sys/class/net are symlinks to the device directories.
    const fs::path& path = dir->path();
    std::error_code probe;  // an unreadable entry only drops that entry
    if (!fs::is_directory(path, probe)) continue;
    if (fs::exists(path / "wireless", probe) || fs::exists(path / "phy80211", probe))
      names.push_back(path.filename().string());
  }
  if (ec) return std::nullopt;
  std::sort(names.begin(), names.end());

  std::vector<WirelessInterface> result;
  result.reserve(names.size());
  for (std::string& name : names) {
    bool up = ReadTrimmed(fs::path(sysfs_net_root_) / name / "operstate") == "up";
    result.push_back({std::move(name), up});
  }
  return result;
}

std::unique_ptr<HostInterfaces> MakePlatformHostInterfaces() {
  return std::make_unique<LinuxHostInterfaces>();
}

}  // namespace zvk

#endif  // _WIN32
