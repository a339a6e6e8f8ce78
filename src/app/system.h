// One running utility put together: the process-wide state and every window model, created in
// the program's order, with their reply handlers registered with the link. The desktop program,
// the zvk command and the tests all build through it.
#pragma once

#include "admin/setup_window.h"
#include "calibration/ad_cal.h"
#include "calibration/th_cal.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk {

class System {
 public:
  explicit System(Seams seams);
  System(const System&) = delete;
  System& operator=(const System&) = delete;

  App app;
  MainWindow main_window;                      // TForm1
  SetupWindow setup_window;                    // TForm2, created hidden; the front end shows it for
                                               // main_window.show_setup_window
  AnalogCalibrationWindow analog_calibration;  // TForm3
  ThermistorCalibrationWindow thermistor_calibration;  // TForm4
};

}  // namespace zvk
