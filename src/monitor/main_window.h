// The main window TForm1 as a model: its controls, start-up, two timers and click handlers, and
// the reply handlers of the commands it sends.
#pragma once

#include <cstdint>
#include <functional>

#include "monitor/main_form.h"

namespace zvk {

class App;

void ResetDisplay(App& app, MainForm& f);
void ApplyModelLayout(MainForm& f, std::uint8_t model_code);

class MainWindow {
 public:
  explicit MainWindow(App& app);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers with the state's link, when the system is assembled, the reply handlers of the
  // commands this window owns (identity, locator, data poll, channel settings, status-only
  // replies) and what the connection check shows.
  void RegisterReplyHandlers();

  void FormCreate();
  void FormActivate();
  void Timer1Timer();
  void Timer3Timer();
  void Image1Click();
  void Image2Click();
  void Image3Click();
  void Image4Click();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void SpeedButton5Click();

  // Timer3 stops itself for the length of its own tick; the front end asks before ticking.
  bool Timer3Enabled() const { return timer3_enabled_; }
  // The next Timer3 tick is a supervision tick.
  bool SupervisionDue() const;

  // The modal windows opened from here; each sets PollingEnabled again when it closes.
  std::function<void()> show_setup_window;
  std::function<void()> show_analog_calibration;
  std::function<void()> show_thermistor_calibration;
  // The trend window is not modal: the poll goes on while it is open.
  std::function<void()> show_trend_window;

  MainForm form;

 private:
  void ConnectHandlers();

  App& app_;
  bool activated_ = false;
  bool timer3_enabled_ = false;
};

}  // namespace zvk
