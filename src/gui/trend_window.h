// The trend window as the rest of the program sees it. Its chart is drawn with Qt Charts, which
// lives in a library of its own (trend_window_module.cpp) that the program loads only when the
// window is first opened: until then neither that library nor Qt Charts takes any memory.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace zvk {
struct App;
struct MainForm;
}  // namespace zvk

namespace zvk::engine {
class WatchSinks;
}

namespace zvk::gui {

class TrendWindow {
 public:
  virtual ~TrendWindow() = default;
  virtual QWidget& widget() = 0;
  // Draws the model's samples again (and follows a recording); called after every sample, once
  // the watched module's sinks (the trend, the recording, the gateway) have it.
  virtual void Refresh() = 0;
  // Called when the user asks for the log window from the trend window.
  virtual void OnLogRequested(std::function<void()> action) = 0;
  // The module the window follows, for what it publishes; given once the window is made.
  virtual void WatchModule(const App& app, const MainForm& form) = 0;
};

// Makes the trend window over the watched module's sinks (its trend model, its recording, what
// it publishes); null, with `error` set, when it cannot be made.
using TrendWindowMaker =
    std::function<std::unique_ptr<TrendWindow>(engine::WatchSinks& sinks, std::string* error)>;

// The name of the library's maker, and its type.
inline constexpr const char* kTrendWindowMakerSymbol = "zvk_make_trend_window";
using TrendWindowMakerFunction = TrendWindow* (*)(engine::WatchSinks& sinks);

}  // namespace zvk::gui
