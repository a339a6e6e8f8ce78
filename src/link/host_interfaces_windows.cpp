// The Windows reader's decisions; built on every platform so that they are tested everywhere.
#include "link/host_interfaces_windows.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

namespace zvk {

std::string GuidText(const WinGuid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), unsigned{g.data2}, unsigned{g.data3},
                unsigned{g.data4[0]}, unsigned{g.data4[1]}, unsigned{g.data4[2]},
                unsigned{g.data4[3]}, unsigned{g.data4[4]}, unsigned{g.data4[5]},
                unsigned{g.data4[6]}, unsigned{g.data4[7]});
  return text;
}

WindowsHostInterfaces::WindowsHostInterfaces(std::unique_ptr<WindowsNetApi> api)
    : api_(std::move(api)) {}

std::optional<std::vector<AdapterInfo>> WindowsHostInterfaces::Adapters(std::string* error) {
  std::uint32_t size = kInitialAdapterBuffer;
  std::vector<WinAdapter> listed;
  std::uint32_t code = kWinBufferOverflow;
  for (int query = 0; query < kMaxAdapterQueries && code == kWinBufferOverflow; ++query) {
    std::uint32_t needed = size;
    listed.clear();
    code = api_->QueryAdapters(size, &needed, &listed);
    if (code == kWinBufferOverflow) size = std::max(needed, size);
  }
  if (code == kWinNoData) return std::vector<AdapterInfo>{};
  if (code != kWinNoError) {
    if (error) *error = api_->MessageFor(code);
    return std::nullopt;
  }
  std::vector<AdapterInfo> adapters;
  adapters.reserve(listed.size());
  for (WinAdapter& a : listed) {
    for (char& c : a.adapter_name)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    AdapterInfo adapter{std::move(a.adapter_name), std::move(a.first_ipv4)};
    adapter.prefix_length = a.prefix_length;
    adapter.up = a.up;
    adapter.loopback = a.loopback;
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

std::optional<std::vector<WirelessInterface>> WindowsHostInterfaces::Wireless() {
  std::vector<WinWlanInterface> listed;
  if (api_->QueryWlanInterfaces(&listed) != kWinNoError) return std::nullopt;
  std::vector<WirelessInterface> wireless;
  wireless.reserve(listed.size());
  for (const WinWlanInterface& w : listed) {
    wireless.push_back({GuidText(w.guid), w.state == kWlanStateConnected});
  }
  return wireless;
}

}  // namespace zvk
