#include "app/system.h"

#include "admin/replies.h"
#include "calibration/replies.h"
#include "monitor/channel_config.h"
#include "monitor/measurement.h"

namespace zvk {

System::System(Seams seams)
    : app(seams),
      main_window(app),
      setup_window(app),
      analog_calibration(app, {.SendRangeConfig = [this] { return SendRangeConfig(app); },
                               .SendDataPoll = [this] { return SendDataPoll(app); }}),
      thermistor_calibration(app) {
  setup_window.FormCreate();
  main_window.RegisterReplyHandlers();
  RegisterAdminReplies(app);
  RegisterCalibrationReplies(app);
  // Without a front end to show them, opening a calibration window is its activation; the
  // desktop program shows them as modal dialogs instead.
  main_window.show_analog_calibration = [this] { analog_calibration.FormActivate(); };
  main_window.show_thermistor_calibration = [this] { thermistor_calibration.FormActivate(); };
}

}  // namespace zvk
