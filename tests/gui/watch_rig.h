// The desktop windows (main, trend, log) over a simulated module on loopback, driven tick by tick
// on a clock the caller moves: a poll every 31 ticks of 100 ms, minutes of them in moments.
#pragma once

#include <functional>
#include <memory>

#include "app/system.h"
#include "gui/main_window_view.h"
#include "gui/qt_seams.h"
#include "gui/watch_windows.h"
#include "record/sample.h"
#include "sim/simulator.h"
#include "support/test_seams.h"

namespace zvk::gui {

// The trend window made in the process, without its library.
TrendWindowMaker DirectTrendWindow();

class WatchRig {
 public:
  explicit WatchRig(sim::Model model, TrendWindowMaker make_trend = DirectTrendWindow());
  ~WatchRig();

  // One Timer1 and Timer3 tick, 100 ms later on the clock.
  void Tick();
  // Ticks through `count` supervision periods (3.1 s each on the clock); `before_poll` runs
  // before each of them.
  void Polls(int count, const std::function<void()>& before_poll = {});

  TimePoint now;
  test::LoopbackOnlyNetwork network;
  QtEventPump pump;
  test::RecordingSleeper sleeper;
  SkipWifiCheckInterfaces hosts;
  test::RecordingDialogs dialogs;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<System> system;
  App* app = nullptr;
  MainWindow* window = nullptr;
  std::unique_ptr<MainWindowView> view;
  std::unique_ptr<WatchWindows> watch;
};

}  // namespace zvk::gui
