// Finding the module among the host's network interfaces: the adapter scan and the connection
// check in front of most commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/host_interfaces.h"
#include "link/wire.h"

namespace zvk {

struct Link;

// The outcome of a connection check, handed to the window that shows it.
enum class DeviceSearch { Found, SeveralFound, NotFound };

struct DiscoveryState {
  std::string SubnetPrefix = wire::kDefaultSubnetPrefix;
  bool PollingEnabled = false;
  std::uint8_t SupervisionTicks = 0;
  // Scan results; a failed wireless query leaves the previous scan's list in place.
  std::vector<AdapterInfo> adapters;
  std::vector<WirelessInterface> wireless;
  // What the last connection check found; none before the first.
  std::optional<DeviceSearch> LastSearch;
};

int ScanAdapters(Link& link);
// True when exactly one connected wireless interface lies in the module's subnet; otherwise the
// module counts as no longer identified.
bool SelectDevice(Link& link);

}  // namespace zvk
