#include "watch_rig.h"

#include <QCoreApplication>
#include <chrono>
#include <stdexcept>

#include "gui/trend_window_view.h"

namespace zvk::gui {

TrendWindowMaker DirectTrendWindow() {
  return [](engine::WatchSinks& sinks, std::string*) {
    return std::make_unique<TrendWindowView>(sinks);
  };
}

WatchRig::WatchRig(sim::Model model, TrendWindowMaker make_trend)
    : now(std::chrono::system_clock::now() - std::chrono::hours(2)) {
  sim::Options options;
  options.model = model;
  sim = std::make_unique<sim::Simulator>(options);
  sim->Start();
  system = std::make_unique<System>(Seams{network, pump, sleeper, hosts, dialogs});
  app = &system->app;
  window = &system->main_window;
  app->link.DeviceHost = "127.0.0.1";
  app->link.DevicePort = sim->Port();
  window->FormCreate();
  view = std::make_unique<MainWindowView>(*app, *window);
  watch = std::make_unique<WatchWindows>(*app, *window, *view, std::move(make_trend),
                                         [this] { return now; });
  pump.before_events = [this] { view->SyncFromModel(); };
  view->show();
  window->FormActivate();
  for (int i = 0; i < 40 && !app->device.Identified; ++i) Tick();
  if (!app->device.Identified) throw std::runtime_error("the simulated module was not identified");
}

WatchRig::~WatchRig() {
  watch.reset();
  view.reset();
  system.reset();
  sim->Stop();
}

void WatchRig::Tick() {
  now += std::chrono::milliseconds(100);
  window->Timer1Timer();
  window->Timer3Timer();
  view->SyncFromModel();
  QCoreApplication::processEvents();
}

std::unique_ptr<sim::Simulator> WatchRig::AnotherModule(int unit, sim::Model model) {
  sim::Options options;
  options.model = model;
  options.unit = unit;
  options.listen = "127.0.0." + std::to_string(unit);
  options.port = sim->Port();
  auto module = std::make_unique<sim::Simulator>(options);
  module->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(unit)});
  module->Start();
  return module;
}

void WatchRig::WatchAndIdentify(const std::string& address) {
  view->WatchModule(address);
  // "Static IP" empties the display; the identity fills it again.
  for (int i = 0; i < 40 && window->form.module_state.caption.empty(); ++i) Tick();
  if (app->device.DevMac.empty() || app->meas.Freshness != ReadingsFreshness::Fresh)
    throw std::runtime_error("the module at " + address + " was not identified");
}

void WatchRig::Polls(int count, const std::function<void()>& before_poll) {
  for (int poll = 0; poll < count; ++poll) {
    if (before_poll) before_poll();
    bool supervision = false;
    while (!supervision) {
      supervision = app->discovery.SupervisionTicks == 30;
      Tick();
    }
  }
}

}  // namespace zvk::gui
