// The link object: the link state with everything an exchange needs around it — the network and
// pump seams, where to report, the module's reported configuration and the discovery state — and
// the tables the window models fill when the system is assembled (reply handlers, re-issuers).
// The link calls what is registered here and knows no window.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "link/device_config.h"
#include "link/discovery.h"
#include "link/host_interfaces.h"
#include "link/link_state.h"
#include "link/seams.h"
#include "link/tcp.h"

namespace zvk {

// Where the link writes the hidden log and the status line; the process-wide state implements it.
class LinkReporter {
 public:
  virtual void Log(const std::string& line) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  virtual const std::string& Status() const = 0;

 protected:
  ~LinkReporter() = default;
};

struct LinkSeams {
  Network& network;
  EventPump& pump;
  HostInterfaces& hosts;
};

using LinkCallback = std::function<void()>;

struct Link : LinkState {
  Link(LinkSeams seams, LinkReporter& reporter, DeviceConfig& device, DiscoveryState& discovery)
      : seams(seams), reporter(reporter), device(device), discovery(discovery) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  LinkSeams seams;
  LinkReporter& reporter;
  DeviceConfig& device;
  DiscoveryState& discovery;

  // Both tables are indexed by the pending command. A reply handler runs inside Transact with
  // LinkBusy set (SetReplyHandler); a re-issuer sends its own command again after a lost reply
  // (SetReissuer). After-exchange actions run once the link is released (AfterExchange).
  std::array<LinkCallback, 256> reply_handlers;
  std::array<LinkCallback, 256> reissuers;
  std::vector<LinkCallback> after_exchange;
  // Set by Transact when the reply it read went to the dispatcher, cleared when it starts: a
  // reply left in the buffer by an earlier exchange is never taken for this one's
  // (Acknowledged).
  bool ReplyDispatched = false;
  // What the connection check found, for the window that shows it (SelectDevice).
  std::function<void(DeviceSearch)> on_device_search;
};

}  // namespace zvk
