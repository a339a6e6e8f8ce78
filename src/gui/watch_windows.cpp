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
      app_(app),
      window_(window),
      sampler_(app, window.form, clock, [this](const Sample& sample) {
        trend.Add(sample);
        if (trend_view_) trend_view_->Refresh();
      }) {
  window_.show_trend_window = [this] { ShowTrend(); };
  app_.on_log = [this](const std::string& line) {
    if (log_view_) log_view_->Append(line);
  };
  QObject::connect(&main_view, &MainWindowView::logRequested, &main_view, [this] { ShowLog(); });
}

WatchWindows::~WatchWindows() {
  window_.show_trend_window = nullptr;
  app_.on_log = nullptr;
}

TrendWindowView& WatchWindows::trend_view() {
  if (!trend_view_) {
    trend_view_ = std::make_unique<TrendWindowView>(trend);
    QObject::connect(trend_view_.get(), &TrendWindowView::logRequested, trend_view_.get(),
                     [this] { ShowLog(); });
  }
  return *trend_view_;
}

LogWindowView& WatchWindows::log_view() {
  if (!log_view_) log_view_ = std::make_unique<LogWindowView>(app_);
  return *log_view_;
}

void WatchWindows::ShowTrend() {
  Raise(trend_view());
}

void WatchWindows::ShowLog() {
  Raise(log_view());
}

}  // namespace zvk::gui
