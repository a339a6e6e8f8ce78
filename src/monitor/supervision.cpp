#include "monitor/supervision.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

#include "link/exchange.h"
#include "monitor/main_form.h"
#include "monitor/main_window.h"
#include "monitor/measurement.h"
#include "state/app.h"
#include "util/message_text.h"

namespace zvk {

void ShowDeviceSearch(App& app, MainForm& f, DeviceSearch found) {
  if (found == DeviceSearch::Found) {
    f.link_bar.panels[1] = "IP: " + app.link.DeviceHost;
    return;
  }
  if (found == DeviceSearch::SeveralFound) {
    f.module_state.caption = "Same multiple IP found!!";
  } else {
    ResetDisplay(app, f);
    f.module_state.caption = "Device not found!!";
  }
  f.module_state.color = kRed;
  f.location_text.caption.clear();
}

void SupervisionStep(App& app) {
  DiscoveryState& d = app.discovery;
  PollOutcome outcome = PollOutcome::NoReadings;
  if (SelectDevice(app.link)) {
    if (!app.device.Identified) {
      app.Log("Re-Get Device..");
      app.link.PendingCommand = wire::CMD_GET_DEVICE;
      app.link.CommandFrame[4] = wire::CMD_GET_DEVICE;
      app.link.CommandFrame[5] = 0;
      app.link.CommandFrame[6] = 0;
      Transact(app.link, wire::kLenQueued);
    } else if (d.PollingEnabled) {
      if (app.link.PendingCommand != 0) {
        app.link.PendingCommand = 0;
      } else if (app.link.LinkBusy) {
        return;  // the next tick is a supervision tick again
      } else {
        const std::uint64_t decoded = app.meas.DataRepliesDecoded;
        SendDataPoll(app);
        if (app.meas.DataRepliesDecoded != decoded) outcome = PollOutcome::Readings;
      }
    } else {
      outcome = PollOutcome::Paused;
    }
  }
  d.SupervisionTicks = 0;
  if (outcome == PollOutcome::NoReadings) app.meas.Freshness = ReadingsFreshness::Stale;
  if (app.on_poll) app.on_poll(outcome);
}

std::string WifiCheckNote(const App& app) {
  const DiscoveryState& d = app.discovery;
  if (!d.LastSearch || *d.LastSearch == DeviceSearch::Found) return "";
  const std::string subnet = ShortenedForMessage(d.SubnetPrefix) + "x";
  // What the last scan saw in the subnet: the Wi-Fi interfaces counted, those not connected,
  // and the others (a desk computer on the module's network by cable).
  int counted = 0;
  bool unconnected = false;
  bool wired = false;
  for (const AdapterInfo& a : d.adapters) {
    if (d.SubnetPrefix.empty() || a.address.compare(0, d.SubnetPrefix.size(), d.SubnetPrefix) != 0)
      continue;
    const auto w = std::find_if(d.wireless.begin(), d.wireless.end(),
                                [&a](const WirelessInterface& i) { return i.id == a.name; });
    if (w == d.wireless.end()) {
      wired = wired || !a.loopback;
    } else if (w->connected) {
      ++counted;
    } else {
      unconnected = true;
    }
  }
  std::string why;
  if (*d.LastSearch == DeviceSearch::SeveralFound) {
    why = counted > 1
              ? "More than one Wi-Fi interface of this computer is in " + subnet
              : "A Wi-Fi interface of this computer came up in " + subnet + " during the check";
  } else if (unconnected) {
    why = "The Wi-Fi interface of this computer in " + subnet + " is not connected";
  } else if (wired) {
    why = "Only a wired interface of this computer is in " + subnet;
  } else {
    why = "No Wi-Fi interface of this computer is in " + subnet;
  }
  return why + "\nWired or routed network: start with --skip-wifi-check --host " +
         ShortenedForMessage(app.link.DeviceHost);
}

bool ApplyStaticIp(App& app, const MainForm& f) {
  const std::string t = f.device_ip.text;
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
      // A pasted text may be any length; the box says which part, in one line.
      app.seams.dialogs.ErrorBox("'" + ShortenedForMessage(part) +
                                 "' is not a valid integer value");
      return false;
    }
  }
  // What is shown came from the module at the old address.
  if (t != app.link.DeviceHost) app.meas.Freshness = ReadingsFreshness::Unknown;
  app.link.DeviceHost = t;
  app.SetStatus("Change IP => " + app.link.DeviceHost);
  app.discovery.SubnetPrefix = t.substr(0, prefix_end);
  SelectDevice(app.link);
  return true;
}

}  // namespace zvk
