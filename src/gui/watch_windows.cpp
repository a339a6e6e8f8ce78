#include "gui/watch_windows.h"

#include "gui/main_window_view.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

void Raise(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

WatchWindows::WatchWindows(App& app, MainWindow& window, MainWindowView& main_view, WallClock clock)
    : trend(clock),
      trend_view(trend),
      log_view(app),
      app_(app),
      window_(window),
      sampler_(app, window.form, clock, [this](const Sample& sample) {
        trend.Add(sample);
        trend_view.Refresh();
      }) {
  window_.show_trend_window = [this] { ShowTrend(); };
  app_.on_log = [this](const std::string& line) { log_view.Append(line); };
  QObject::connect(&main_view, &MainWindowView::logRequested, &log_view, [this] { ShowLog(); });
  QObject::connect(&trend_view, &TrendWindowView::logRequested, &log_view, [this] { ShowLog(); });
}

WatchWindows::~WatchWindows() {
  window_.show_trend_window = nullptr;
  app_.on_log = nullptr;
}

void WatchWindows::ShowTrend() {
  Raise(trend_view);
}

void WatchWindows::ShowLog() {
  Raise(log_view);
}

}  // namespace zvk::gui
