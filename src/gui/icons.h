// The clickable images of the main window and the program's own icon, drawn at start-up.
#pragma once

#include <QIcon>

namespace zvk::gui {

QIcon SetupIcon();
QIcon RefreshIcon();
QIcon FindMeIcon();
QIcon TrendIcon();
// The program's icon (the installed zvk-analog.svg draws the same picture).
QIcon AppIcon();

}  // namespace zvk::gui
