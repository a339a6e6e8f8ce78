// The commands of the calibration windows: the module's reload of its reference file and the
// thermistor module's own reference calibration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zvk {

class App;

inline constexpr int kReloadAfterWriteMs = 500;

// CMD_RELOAD_AD_REF (5 bytes) after a reference or user curve file was written; nothing is sent
// when the connection check fails. True when the frame went out.
bool SendReloadRefConfig(App& app);

// Writes the first n bytes of the TransferBuffer as the module file `name`, then has the module
// reload it (SendReloadRefConfig). Why the module did not take both, for the window's failure
// box; empty when it acknowledged the announce and the reload. Stops at the first step that
// failed: nothing more is sent after it.
std::string WriteAndReload(App& app, const std::string& name, std::size_t n);

// The failure box of a calibration window: `operation` + " failed:" and the reason.
void ShowCalibrationFailure(App& app, const std::string& operation, const std::string& why);

// CMD_CALIBRATE_TH_REF (6 bytes) with `option` wire::thref::kCalibrate or kResetToDefault;
// nothing is sent when the connection check fails. True when the frame went out.
bool SendThermistorCal(App& app, std::uint8_t option);

}  // namespace zvk
