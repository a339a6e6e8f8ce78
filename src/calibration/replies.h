// Replies to the calibration commands: the reload of the reference file and the thermistor
// reference calibration.
#pragma once

namespace zvk {

class App;

// Registers the handlers with the state's link when the system is assembled.
void RegisterCalibrationReplies(App& app);

}  // namespace zvk
