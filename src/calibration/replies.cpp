#include "calibration/replies.h"

#include "link/dispatcher.h"
#include "link/wire.h"
#include "state/app.h"

namespace zvk {

namespace {

void ReloadAdRefReply(App& app) {
  if (app.link.ReplyBuffer[wire::kReplyStatus] != wire::ACK) return;
  app.link.PendingCommand = 0;
  app.Log("Reload AD REF Cfg Done!!");
}

}  // namespace

void RegisterCalibrationReplies(App& app) {
  SetReplyHandler(app.link, wire::CMD_RELOAD_AD_REF, [&app] { ReloadAdRefReply(app); });
}

}  // namespace zvk
