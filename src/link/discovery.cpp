#include "link/discovery.h"

#include <string>
#include <utility>

#include "link/link.h"

namespace zvk {

int ScanAdapters(Link& link) {
  HostInterfaces& hosts = link.seams.hosts;
  if (auto fixed = hosts.FixedMatchCount()) return *fixed;
  DiscoveryState& lists = link.discovery;

  std::string error;
  if (auto adapters = hosts.Adapters(&error)) {
    lists.adapters = std::move(*adapters);
  } else {
    lists.adapters.clear();
    link.reporter.Log("Adapter query failed: " +
                      (error.empty() ? std::string("unknown error") : error));
  }
  if (auto wireless = hosts.Wireless()) lists.wireless = std::move(*wireless);

  const std::string& prefix = link.discovery.SubnetPrefix;
  int matches = 0;
  for (const WirelessInterface& wlan : lists.wireless) {
    if (!wlan.connected) continue;
    for (const AdapterInfo& adapter : lists.adapters)
      if (adapter.name == wlan.id && adapter.address.compare(0, prefix.size(), prefix) == 0)
        ++matches;
  }
  return matches;
}

bool SelectDevice(Link& link) {
  if (ScanAdapters(link) == 1) {
    link.discovery.LastSearch = DeviceSearch::Found;
    if (link.on_device_search) link.on_device_search(DeviceSearch::Found);
    return true;
  }
  const DeviceSearch found =
      ScanAdapters(link) >= 1 ? DeviceSearch::SeveralFound : DeviceSearch::NotFound;
  link.discovery.LastSearch = found;
  if (link.on_device_search) link.on_device_search(found);
  link.device.Identified = false;
  return false;
}

}  // namespace zvk
