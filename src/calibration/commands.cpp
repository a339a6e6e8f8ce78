#include "calibration/commands.h"

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

bool SendThermistorCal(App& app, std::uint8_t option) {
  if (!SelectDevice(app.link)) return false;
  app.link.PendingCommand = wire::CMD_CALIBRATE_TH_REF;
  app.link.CommandFrame[4] = wire::CMD_CALIBRATE_TH_REF;
  app.link.CommandFrame[wire::thref::kOption] = option;
  return Transact(app.link, wire::kLenCalibrateThRef);
}

}  // namespace zvk
