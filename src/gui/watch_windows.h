// The windows that follow the module over time beside the main window: the trend window, fed by
// a sample of what the main window shows after every poll, and the communication log window.
// The main window opens the trend window from its "Trend" image and Ctrl+T; Ctrl+L in either
// window, or the trend window's "Log…" button, opens the log.
#pragma once

#include <memory>

#include "engine/watch_sinks.h"
#include "gui/log_window_view.h"
#include "gui/trend_window.h"
#include "record/sample.h"
#include "record/trend_model.h"

namespace zvk {
class MainWindow;
}

namespace zvk::gui {

class MainWindowView;

class WatchWindows {
 public:
  // `make_trend` makes the trend window (the program loads it from its library; tests and the
  // screenshot make it directly). `clock` times the samples: the system clock, or one a test or
  // a screenshot moves itself.
  WatchWindows(App& app, MainWindow& window, MainWindowView& main_view, TrendWindowMaker make_trend,
               WallClock clock = SystemWallClock());
  ~WatchWindows();
  WatchWindows(const WatchWindows&) = delete;
  WatchWindows& operator=(const WatchWindows&) = delete;

  void ShowTrend();
  void ShowLog();

  // Each window is built when it is first wanted: until then a sample only goes into the model,
  // and a log line only into the log, and the chart costs no memory. The trend window is null
  // when it could not be made (the error box has said why).
  TrendWindow* trend_view();
  LogWindowView& log_view();

  TrendModel trend;
  // The watched module's sinks: the trend model, the recording, what the trend window publishes.
  engine::WatchSinks sinks{trend};
  // When each line of the log was logged (see LogTimes).
  const LogTimes& log_times() const { return log_times_; }

 private:
  App& app_;
  MainWindow& window_;
  TrendWindowMaker make_trend_;
  WallClock clock_;
  LogTimes log_times_;
  PollSampler sampler_;
  std::unique_ptr<TrendWindow> trend_view_;
  std::unique_ptr<LogWindowView> log_view_;
};

}  // namespace zvk::gui
