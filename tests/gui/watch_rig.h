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

// The connection check passes, as with --skip-wifi-check, until a test puts host interfaces of
// its own in `use`.
class RigHosts final : public HostInterfaces {
 public:
  std::optional<std::vector<AdapterInfo>> Adapters(std::string* error) override {
    return use->Adapters(error);
  }
  std::optional<std::vector<WirelessInterface>> Wireless() override { return use->Wireless(); }
  std::optional<int> FixedMatchCount() const override { return use->FixedMatchCount(); }

  SkipWifiCheckInterfaces skip;
  HostInterfaces* use = &skip;
};

class WatchRig {
 public:
  explicit WatchRig(sim::Model model, TrendWindowMaker make_trend = DirectTrendWindow());
  ~WatchRig();

  // One Timer1 and Timer3 tick, 100 ms later on the clock.
  void Tick();
  // Ticks through `count` supervision periods (3.1 s each on the clock); `before_poll` runs
  // before each of them.
  void Polls(int count, const std::function<void()>& before_poll = {});
  // Another module of the fleet, on 127.0.0.<unit> at the first one's port, reporting that
  // address.
  std::unique_ptr<sim::Simulator> AnotherModule(int unit, sim::Model model);
  // Watches the module at `address` as a double click in the Modules window does, and ticks
  // until the main window has identified it.
  void WatchAndIdentify(const std::string& address);

  TimePoint now;
  test::LoopbackOnlyNetwork network;
  QtEventPump pump;
  test::RecordingSleeper sleeper;
  RigHosts hosts;
  test::RecordingDialogs dialogs;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<System> system;
  App* app = nullptr;
  MainWindow* window = nullptr;
  std::unique_ptr<MainWindowView> view;
  std::unique_ptr<WatchWindows> watch;
};

}  // namespace zvk::gui
