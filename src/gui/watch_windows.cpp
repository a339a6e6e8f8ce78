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

WatchWindows::WatchWindows(App& app, MainWindow& window, MainWindowView& main_view,
                           TrendWindowMaker make_trend, WallClock clock)
    : trend(clock),
      app_(app),
      window_(window),
      make_trend_(std::move(make_trend)),
      clock_(clock),
      sampler_(app, window.form, clock, [this](const Sample& sample) {
        sinks.Receive(sample);
        if (trend_view_) trend_view_->Refresh();
      }) {
  window_.show_trend_window = [this] { ShowTrend(); };
  // Every line gets its time as it is logged, whether the log window is open or not.
  app_.on_log = [this](const std::string& line) {
    const TimePoint now = clock_();
    log_times_.push_back(now);
    if (log_times_.size() > App::kLogLines) log_times_.pop_front();
    if (log_view_) log_view_->Append(now, line);
  };
  QObject::connect(&main_view, &MainWindowView::logRequested, &main_view, [this] { ShowLog(); });
}

WatchWindows::~WatchWindows() {
  window_.show_trend_window = nullptr;
  app_.on_log = nullptr;
}

TrendWindow* WatchWindows::trend_view() {
  if (!trend_view_) {
    std::string error;
    trend_view_ = make_trend_(sinks, &error);
    if (!trend_view_) {
      app_.seams.dialogs.ErrorBox(error);
      return nullptr;
    }
    trend_view_->OnLogRequested([this] { ShowLog(); });
    trend_view_->WatchModule(app_, window_.form);
  }
  return trend_view_.get();
}

LogWindowView& WatchWindows::log_view() {
  if (!log_view_) log_view_ = std::make_unique<LogWindowView>(app_, log_times_);
  return *log_view_;
}

void WatchWindows::ShowTrend() {
  if (TrendWindow* view = trend_view()) Raise(view->widget());
}

void WatchWindows::ShowLog() {
  Raise(log_view());
}

}  // namespace zvk::gui
