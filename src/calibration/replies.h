// Replies to the calibration commands: reloading the analog reference configuration.
#pragma once

namespace zvk {

class App;

// Registers the handlers with the state's link when the system is assembled.
void RegisterCalibrationReplies(App& app);

}  // namespace zvk
