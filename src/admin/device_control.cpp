#include "admin/device_control.h"

#include <algorithm>
#include <functional>

#include "link/acknowledgement.h"
#include "link/discovery.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "state/app.h"

namespace zvk {

namespace {

enum class Way { Transact, SendOnly };

// SelectDevice, then the frame: the pending command and byte 4 := code, `fill` for the rest.
Sent Issue(App& app, std::uint8_t code, std::uint8_t length, Way way,
           const std::function<void(Link&)>& fill = {}) {
  if (!SelectDevice(app.link)) return {false, "the module was not found"};
  Link& link = app.link;
  if (fill) fill(link);
  link.PendingCommand = code;
  link.CommandFrame[wire::kReplyCode] = code;
  const bool was_busy = link.LinkBusy;
  if (way == Way::SendOnly ? SendOnly(link, length) : Transact(link, length)) {
    if (way == Way::SendOnly) return {true, {}, true};
    std::string refused = NotAcknowledgedReason(link, code);
    if (refused.empty()) return {true, {}, true};
    return {false, std::move(refused), true};
  }
  // The exchange has put its reason on the status line ("Connect Timeout", "Link error, ...").
  return {false, was_busy ? std::string("another command is in progress") : app.Status()};
}

}  // namespace

Sent SendWifiMode(App& app, bool access_point) {
  return Issue(app, wire::CMD_SET_WIFI_MODE, 6, Way::Transact, [access_point](Link& link) {
    link.RetryCount = 0;
    link.CommandFrame[5] = access_point ? kWifiModeAccessPoint : kWifiModeStation;
  });
}

Sent SendResetDefaults(App& app, std::uint8_t p) {
  return Issue(app, wire::CMD_RESET_CONFIG, 6, Way::Transact,
               [p](Link& link) { link.CommandFrame[5] = p; });
}

Sent SendReboot(App& app) {
  return Issue(app, wire::CMD_RESET_MODULE, 5, Way::SendOnly);
}

Sent SendWebKey(App& app, const std::string& key) {
  // The setup window passes at most 5 bytes; a longer key would not fit the length byte.
  if (key.size() > kMaxWebKey) return {false, "the key is longer than 249 characters"};
  return Issue(app, wire::CMD_SET_WEB_KEY, static_cast<std::uint8_t>(key.size() + 6), Way::Transact,
               [&key](Link& link) {
                 link.CommandFrame[5] = static_cast<std::uint8_t>(key.size());
                 std::copy(key.begin(), key.end(), link.CommandFrame.begin() + 6);
               });
}

Sent SendMbportWritten(App& app) {
  return Issue(app, wire::CMD_MBPORT_CFG, 5, Way::Transact);
}

}  // namespace zvk
