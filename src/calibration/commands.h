// The commands of the calibration windows: the module's reload of its reference file and the
// thermistor module's own reference calibration.
#pragma once

#include <cstdint>

namespace zvk {

class App;

// CMD_RELOAD_AD_REF (5 bytes) after a reference or user curve file was written; nothing is sent
// when the connection check fails. True when the frame went out.
bool SendReloadRefConfig(App& app);

// CMD_CALIBRATE_TH_REF (6 bytes) with `option` wire::thref::kCalibrate or kResetToDefault;
// nothing is sent when the connection check fails. True when the frame went out.
bool SendThermistorCal(App& app, std::uint8_t option);

}  // namespace zvk
