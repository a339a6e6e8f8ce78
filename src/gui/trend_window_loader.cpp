#include "gui/trend_window_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace zvk::gui {

QString TrendWindowLibraryFolder() {
  return QDir(QCoreApplication::applicationDirPath())
      .absoluteFilePath(QStringLiteral("../lib/zvk-analog"));
}

#ifdef ZVK_NO_TREND_WINDOW
TrendWindowMaker TrendWindowFromLibrary(const QString&) {
  return [](engine::WatchSinks&, std::string* error) -> std::unique_ptr<TrendWindow> {
    if (error) *error = kNoTrendWindowText;
    return nullptr;
  };
}
#else
TrendWindowMaker TrendWindowFromLibrary(const QString& folder) {
  return [folder](engine::WatchSinks& sinks, std::string* error) -> std::unique_ptr<TrendWindow> {
    // Loaded once; Qt keeps it loaded for the rest of the run.
    QLibrary library(QDir(folder).absoluteFilePath(QStringLiteral(ZVK_TREND_MODULE_FILE)));
    auto make =
        reinterpret_cast<TrendWindowMakerFunction>(library.resolve(kTrendWindowMakerSymbol));
    if (!make) {
      if (error)
        *error = "The trend window cannot be opened: " + library.errorString().toStdString();
      return nullptr;
    }
    return std::unique_ptr<TrendWindow>(make(sinks));
  };
}
#endif

}  // namespace zvk::gui
