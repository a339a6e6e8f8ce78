// The three clickable images of the main window, drawn at start-up.
#pragma once

#include <QIcon>

namespace zvk::gui {

QIcon SetupIcon();
QIcon RefreshIcon();
QIcon FindMeIcon();

}  // namespace zvk::gui
