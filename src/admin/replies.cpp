#include "admin/replies.h"

#include "admin/device_control.h"
#include "link/dispatcher.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "state/app.h"

namespace zvk {

namespace {

void DeleteFileReply(App& app) {
  if (app.link.ReplyBuffer[wire::kReplyStatus] != wire::ACK) return;
  app.link.PendingCommand = 0;
  app.SetStatus("Kill file in Flash Done!");
}

void ResetConfigReply(App& app) {
  if (app.link.ReplyBuffer[wire::kReplyStatus] != wire::ACK) return;
  app.link.PendingCommand = 0;
  app.SetStatus("Flash Config been kill!");
}

}  // namespace

void RegisterAdminReplies(App& app) {
  SetReplyHandler(app.link, wire::CMD_DELETE_FILE, [&app] { DeleteFileReply(app); });
  SetReplyHandler(app.link, wire::CMD_RESET_CONFIG, [&app] { ResetConfigReply(app); });
  SetReissuer(app.link, wire::CMD_RESET_MODULE, [&app] { SendReboot(app); });
}

}  // namespace zvk
