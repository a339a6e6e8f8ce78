// Finds the trend window's library beside the program (`../lib/zvk-analog/` from the folder of
// the executable, in the build tree and once installed alike) and makes its windows.
#pragma once

#include <QString>

#include "gui/trend_window.h"

namespace zvk::gui {

// What a build without the trend window says in its place (Qt Charts was not at hand for it).
inline constexpr const char* kNoTrendWindowText =
    "The trend window is not part of this build of zVK-Analog.";

// The folder the program looks in.
QString TrendWindowLibraryFolder();
// A maker that loads the library from `folder` when it is first called. A library that is
// missing or lacks the maker gives null and an error naming the file and the reason.
TrendWindowMaker TrendWindowFromLibrary(const QString& folder = TrendWindowLibraryFolder());

}  // namespace zvk::gui
