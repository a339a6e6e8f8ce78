#include "calibration/replies.h"

#include <cstdio>

#include "link/dispatcher.h"
#include "link/wire.h"
#include "state/app.h"
#include "util/byte_order.h"

namespace zvk {

namespace {

void ReloadAdRefReply(App& app) {
  if (app.link.ReplyBuffer[wire::kReplyStatus] != wire::ACK) return;
  app.link.PendingCommand = 0;
  app.Log("Reload AD REF Cfg Done!!");
}

// The new count is only logged and kept: the next data poll or identity reply brings the
// module's own value, and with it the volts per count.
void ThermistorRefReply(App& app) {
  const std::uint8_t* r = app.link.ReplyBuffer.data();
  if (r[wire::kReplyStatus] != wire::ACK) return;
  app.link.PendingCommand = 0;
  app.meas.ThermistorRefCount = GetBe16(r + wire::thref::kReplyRefCount);
  char line[40];
  std::snprintf(line, sizeof line, "QN6 AD Cal. Done!! => %04X",
                unsigned{app.meas.ThermistorRefCount});
  app.Log(line);
}

}  // namespace

void RegisterCalibrationReplies(App& app) {
  SetReplyHandler(app.link, wire::CMD_RELOAD_AD_REF, [&app] { ReloadAdRefReply(app); });
  SetReplyHandler(app.link, wire::CMD_CALIBRATE_TH_REF, [&app] { ThermistorRefReply(app); });
}

}  // namespace zvk
