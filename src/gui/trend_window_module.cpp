// The library the program loads when the trend window is first opened: it holds the window and
// Qt Charts, and hands out the window through one C function.
#include <QtGlobal>

#include "gui/trend_window.h"
#include "gui/trend_window_view.h"

extern "C" Q_DECL_EXPORT zvk::gui::TrendWindow* zvk_make_trend_window(
    zvk::engine::WatchSinks& sinks) {
  return new zvk::gui::TrendWindowView(sinks);
}
