// The clickable images of the windows and the program's own icon, each drawn when first shown.
#pragma once

#include <QIcon>
#include <QSize>

namespace zvk::gui {

QIcon SetupIcon();
QIcon RefreshIcon();
QIcon FindMeIcon();
QIcon TrendIcon();
// The program's icon (the installed zvk-analog.svg draws the same picture).
QIcon AppIcon();

// The setup window's pictures: the small write button of each group, and the three wide
// buttons (firmware update, reset to defaults, reboot), kWideImageSize each.
inline constexpr QSize kWideImageSize{112, 36};
QIcon WriteIcon();
QIcon FirmwareImage();
QIcon DefaultsImage();
QIcon RebootImage();

}  // namespace zvk::gui
