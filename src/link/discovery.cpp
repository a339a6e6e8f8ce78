#include "link/discovery.h"

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "link/exchange.h"
#include "monitor/app.h"
#include "monitor/main_window.h"
#include "monitor/measurement.h"

namespace zvk {

int ScanAdapters(App& app) {
  HostInterfaces& hosts = app.seams.hosts;
  if (auto fixed = hosts.FixedMatchCount()) return *fixed;
  DiscoveryState& lists = app.discovery;

  std::string error;
  if (auto adapters = hosts.Adapters(&error)) {
    lists.adapters = std::move(*adapters);
  } else {
    lists.adapters.clear();
    app.Log("Adapter query failed: " + (error.empty() ? std::string("unknown error") : error));
  }
  if (auto wireless = hosts.Wireless()) lists.wireless = std::move(*wireless);

  const std::string& prefix = app.discovery.SubnetPrefix;
  int matches = 0;
  for (const WirelessInterface& wlan : lists.wireless) {
    if (!wlan.connected) continue;
    for (const AdapterInfo& adapter : lists.adapters)
      if (adapter.name == wlan.id && adapter.address.compare(0, prefix.size(), prefix) == 0)
        ++matches;
  }
  return matches;
}

bool SelectDevice(App& app) {
  MainForm& f = app.form;
  if (ScanAdapters(app) == 1) {
    f.StatusBar1.panels[1] = "IP: " + app.link.DeviceHost;
    return true;
  }
  if (ScanAdapters(app) >= 1) {
    f.Label4.caption = "Same multiple IP found!!";
  } else {
    ResetDisplay(app);
    f.Label4.caption = "Device not found!!";
  }
  f.Label4.color = kRed;
  f.Label5.caption.clear();
  app.device.Identified = false;
  return false;
}

void SupervisionStep(App& app) {
  DiscoveryState& d = app.discovery;
  if (SelectDevice(app)) {
    if (!app.device.Identified) {
      app.Log("Re-Get Device..");
      app.link.PendingCommand = wire::CMD_GET_DEVICE;
      app.link.CommandFrame[4] = wire::CMD_GET_DEVICE;
      app.link.CommandFrame[5] = 0;
      app.link.CommandFrame[6] = 0;
      Transact(app, wire::kLenQueued);
    } else if (d.PollingEnabled) {
      if (app.link.PendingCommand != 0) {
        app.link.PendingCommand = 0;
      } else if (app.link.LinkBusy) {
        return;  // the next tick is a supervision tick again
      } else {
        SendDataPoll(app);
      }
    }
  }
  d.SupervisionTicks = 0;
}

bool ApplyStaticIp(App& app) {
  const std::string t = app.form.Edit2.text;
  // Parts: up to the first, second and third dot, then every non-dot character after the third.
  std::string parts[4];
  std::size_t dots = 0;
  std::size_t prefix_end = std::string::npos;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '.') {
      if (++dots == 3) prefix_end = i + 1;
      continue;
    }
    parts[dots < 3 ? dots : 3] += t[i];
  }
  for (const std::string& part : parts) {
    long value = 0;
    const char* first = part.data();
    const char* last = part.data() + part.size();
    if (!part.empty() && *first == '+') ++first;
    auto [end, ec] = std::from_chars(first, last, value);
    if (part.empty() || first == last || ec != std::errc() || end != last) {
      app.seams.dialogs.ErrorBox("'" + part + "' is not a valid integer value");
      return false;
    }
  }
  app.link.DeviceHost = t;
  app.SetStatus("Change IP => " + app.link.DeviceHost);
  app.discovery.SubnetPrefix = t.substr(0, prefix_end);
  SelectDevice(app);
  return true;
}

}  // namespace zvk
