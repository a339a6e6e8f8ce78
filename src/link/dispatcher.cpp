#include "link/dispatcher.h"

#include <algorithm>
#include <array>

#include "link/device_info.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "monitor/app.h"
#include "monitor/channel_config.h"
#include "monitor/measurement.h"

namespace zvk {

namespace {

using ReplyHandler = void (*)(App&);

bool Acked(const App& app) {
  return app.link.ReplyBuffer[wire::kReplyStatus] == wire::ACK;
}

void LocatorReply(App& app) {
  if (Acked(app)) {
    app.link.PendingCommand = 0;
    app.SetStatus("Set Locator done!");
  } else {
    ReissuePending(app);
  }
}

void DeleteFileReply(App& app) {
  if (!Acked(app)) return;
  app.link.PendingCommand = 0;
  app.SetStatus("Kill file in Flash Done!");
}

void ResetConfigReply(App& app) {
  if (!Acked(app)) return;
  app.link.PendingCommand = 0;
  app.SetStatus("Flash Config been kill!");
}

void ReloadAdRefReply(App& app) {
  if (!Acked(app)) return;
  app.link.PendingCommand = 0;
  app.Log("Reload AD REF Cfg Done!!");
}

constexpr std::array<ReplyHandler, 256> BuildTable() {
  std::array<ReplyHandler, 256> table{};
  table[wire::CMD_NONE] = DecodeStatusOnlyReply;
  table[wire::CMD_SET_LOCATOR] = LocatorReply;
  table[wire::CMD_GET_DEVICE] = DecodeDeviceInfo;
  // CMD_GET_IMAGE_CHECKSUM and CMD_CALIBRATE_TH_REF get their handlers with the firmware
  // update and the thermistor calibration window.
  table[wire::CMD_DELETE_FILE] = DeleteFileReply;
  table[wire::CMD_RESET_CONFIG] = ResetConfigReply;
  table[wire::CMD_SET_RANGE_CONFIG] = RangeConfigReply;
  table[wire::CMD_SET_TH_CONFIG] = DecodeDataReply;
  table[wire::CMD_READ_DATA] = DecodeDataReply;
  table[wire::CMD_RELOAD_AD_REF] = ReloadAdRefReply;
  return table;
}

constexpr std::array<ReplyHandler, 256> kHandlers = BuildTable();

}  // namespace

ReplyHandler HandlerFor(std::uint8_t pending) {
  return kHandlers[pending];
}

void DispatchReply(App& app, std::uint32_t length) {
  app.link.ReplyTimedOut = false;
  app.link.ReplyLength = length;
  if (length == 0) return;
  const auto& reply = app.link.ReplyBuffer;
  if (!std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), reply.begin())) {
    app.SetStatus("InValid Header package!");
    return;
  }
  if (ReplyHandler handler = kHandlers[app.link.PendingCommand]) handler(app);
}

}  // namespace zvk
