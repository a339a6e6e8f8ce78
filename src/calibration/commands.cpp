#include "calibration/commands.h"

#include "admin/remote_files.h"
#include "link/acknowledgement.h"
#include "link/discovery.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "state/app.h"

namespace zvk {

bool SendReloadRefConfig(App& app) {
  if (!SelectDevice(app.link)) return false;
  app.link.PendingCommand = wire::CMD_RELOAD_AD_REF;
  app.link.CommandFrame[4] = wire::CMD_RELOAD_AD_REF;
  return Transact(app.link, wire::kLenReloadAdRef);
}

std::string WriteAndReload(App& app, const std::string& name, std::size_t n) {
  try {
    WriteRemoteFile(app, name, n);
  } catch (const RemoteFileError& e) {
    return e.what();
  }
  app.seams.sleeper.SleepMs(kReloadAfterWriteMs);
  if (!SendReloadRefConfig(app)) return "the reload command could not be sent to the module";
  const std::string refused = NotAcknowledgedReason(app.link, wire::CMD_RELOAD_AD_REF);
  if (!refused.empty())
    return "the module did not acknowledge the reload of " + name + ": " + refused;
  return {};
}

void ShowCalibrationFailure(App& app, const std::string& operation, const std::string& why) {
  app.seams.dialogs.FailureBox("Error", operation + " failed:\n    . " + why, MsgIcon::Error);
}

bool SendThermistorCal(App& app, std::uint8_t option) {
  if (!SelectDevice(app.link)) return false;
  app.link.PendingCommand = wire::CMD_CALIBRATE_TH_REF;
  app.link.CommandFrame[4] = wire::CMD_CALIBRATE_TH_REF;
  app.link.CommandFrame[wire::thref::kOption] = option;
  return Transact(app.link, wire::kLenCalibrateThRef);
}

}  // namespace zvk
