// The main window TForm1 as a model: its start-up, its two timers and its click handlers.
#pragma once

#include <cstdint>
#include <functional>

namespace zvk {

class App;

void ResetDisplay(App& app);
void ApplyModelLayout(App& app, std::uint8_t model_code);

class MainWindow {
 public:
  explicit MainWindow(App& app);

  void FormCreate();
  void FormActivate();
  void Timer1Timer();
  void Timer3Timer();
  void Image1Click();
  void Image2Click();
  void Image3Click();
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

 private:
  void ConnectHandlers();

  App& app_;
  bool activated_ = false;
  bool timer3_enabled_ = false;
};

}  // namespace zvk
