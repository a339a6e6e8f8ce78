// zvk-analog: the desktop utility. Builds the system (the process-wide state and the window
// models), then shows the main window over them and runs the event loop.
#include <QApplication>
#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "app/system.h"
#include "gui/calibration_dialogs.h"
#include "gui/icons.h"
#include "gui/main_window_view.h"
#include "gui/modules_window_view.h"
#include "gui/qt_seams.h"
#include "gui/setup_window_view.h"
#include "gui/startup_options.h"
#include "gui/trend_window_loader.h"
#include "gui/watch_windows.h"
#include "link/host_interfaces.h"
#include "link/tcp.h"
#include "monitor/supervision.h"
#include "util/file_path.h"
#include "util/file_writer.h"
#include "util/message_text.h"

namespace {

// Plain stdio: the program has no other use for iostreams, whose start-up would add a few
// hundred KiB to its resident memory.
void Print(std::FILE* to, const std::string& text) {
  std::fputs(text.c_str(), to);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zvk;
  using namespace zvk::gui;

  // Parsed before the toolkit starts, so a usage error is reported even where no display is.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.options) {
    Print(parsed.exit_code == 0 ? stdout : stderr,
          parsed.message.toLocal8Bit().toStdString() + (parsed.exit_code == 0 ? "" : "\n"));
    return parsed.exit_code;
  }
  const StartupOptions& options = *parsed.options;

  SystemNetwork network;
  QtEventPump pump;
  RealSleeper sleeper;
  QtDialogs dialogs;
  SkipWifiCheckInterfaces skip_wifi_check;
  std::unique_ptr<HostInterfaces> platform_hosts;
  HostInterfaces* hosts = &skip_wifi_check;
  if (!options.skip_wifi_check) {
    platform_hosts = MakePlatformHostInterfaces();
    hosts = platform_hosts.get();
  }

  System system(Seams{network, pump, sleeper, *hosts, dialogs});
  App& app = system.app;
  MainWindow& window = system.main_window;
  if (options.port) app.link.DevicePort = *options.port;
  window.FormCreate();

  if (options.host) {
    // As if typed into Edit2 and applied with "Static IP", before the first activation looks
    // for the module.
    window.form.device_ip.text = *options.host;
    std::string error;
    dialogs.error_sink = [&error](const std::string& text) { error = text; };
    const bool applied = ApplyStaticIp(app, window.form);
    dialogs.error_sink = nullptr;
    if (!applied) {
      Print(stderr, WithArgumentsShortened("zvk-analog: --host " + *options.host + ": " + error,
                                           {*options.host}) +
                        "\n");
      return 2;
    }
  }

  QApplication qt(argc, argv);
  qt.setWindowIcon(AppIcon());
  MainWindowView view(app, window);
  WatchWindows watch(app, window, view, TrendWindowFromLibrary());
  dialogs.SetParent(&view);
  // The setup window's widgets are made when it is first shown; its model lives from the start.
  std::unique_ptr<SetupWindowView> setup_view;
  window.show_setup_window = [&] {
    if (!setup_view) {
      setup_view = std::make_unique<SetupWindowView>(app, system.setup_window, &view);
      setup_view->after_event = [&view] { view.SyncFromModel(); };
    }
    setup_view->Exec();
  };
  // The Modules window, made when first opened (Ctrl+M, the context menu). Its scan runs on a
  // thread of its own, with sockets of its own, beside the main window's polling.
  SystemNetwork scan_network;
  std::unique_ptr<HostInterfaces> scan_hosts;
  std::unique_ptr<ModulesWindowView> modules_view;
  QObject::connect(&view, &MainWindowView::modulesRequested, &view, [&] {
    if (!modules_view) {
      scan_hosts = MakePlatformHostInterfaces();
      modules_view = std::make_unique<ModulesWindowView>(
          app, scan_network, *scan_hosts,
          [&view](const std::string& address) { view.WatchModule(address); }, &view);
      // A firmware rollout checks the Wi-Fi as the main window does.
      modules_view->rollout_hosts = hosts;
    }
    modules_view->show();
    modules_view->raise();
    modules_view->activateWindow();
  });
  // The calibration windows, also made when first shown.
  CalibrationDialogs calibration(system, view, [&view] { view.SyncFromModel(); });
  const auto sync_views = [&view, &setup_view, &calibration] {
    view.SyncFromModel();
    if (setup_view) setup_view->SyncFromModel();
    calibration.SyncFromModel();
  };
  pump.before_events = sync_views;
  dialogs.before_box = sync_views;
  // A file write repaints the windows as it goes; nothing else is serviced meanwhile.
  app.repaint_main_window = [&view, &setup_view, sync_views] {
    sync_views();
    view.repaint();
    if (setup_view && setup_view->isVisible()) setup_view->repaint();
  };
  // Closing the window, or the end of a timed run, may come while an exchange waits inside a
  // handler: the pump tells the link, which gives up the wait so the program ends at once.
  auto quit = [&pump](int code) {
    pump.RequestQuit();
    QCoreApplication::exit(code);
  };
  QObject::connect(&view, &MainWindowView::closed, &qt, [quit] { quit(0); });

  if (options.setup_after_ms) {
    QTimer::singleShot(*options.setup_after_ms, &view,
                       [&window] { window.form.setup_button.UserClick(); });
  }
  if (options.quit_after_ms) {
    QTimer::singleShot(
        *options.quit_after_ms, &view, [&view, &setup_view, &options, quit, sync_views] {
          int code = 0;
          if (!options.screenshot.isEmpty()) {
            sync_views();
            // The window on top: the setup window or a calibration window (--setup-after,
            // --open), the trend window (--open trend), or the main window.
            QWidget* shown = QApplication::activeModalWidget();
            if (!shown && options.open_window == QLatin1String(kOpenTrend)) {
              for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->objectName() == QLatin1String("TrendWindow")) shown = w;
            }
            if (!shown) shown = &view;
            // Encoded here, written by the one writer of files (only a file, replaced whole).
            QByteArray image;
            QBuffer buffer(&image);
            buffer.open(QIODevice::WriteOnly);
            const QByteArray format = QFileInfo(options.screenshot).suffix().toUpper().toLatin1();
            std::string failure;
            if (!shown->grab().save(&buffer, format.isEmpty() ? "PNG" : format.constData())) {
              failure = "cannot write the screenshot to " +
                        options.screenshot.toLocal8Bit().toStdString();
            } else {
              try {
                ReplaceFile(
                    PathFromUtf8(options.screenshot.toStdString()),
                    std::string_view(image.constData(), static_cast<std::size_t>(image.size())));
              } catch (const FileWriteError& e) {
                failure = e.what();
              }
            }
            if (!failure.empty()) {
              Print(stderr, "zvk-analog: " + failure + "\n");
              code = 1;
            }
          }
          quit(code);
        });
  }

  QTimer open_timer;
  if (!options.open_window.isEmpty()) {
    // Clicked as a user would, once the module is identified and the button takes clicks; the
    // click returns when the dialog closes.
    QObject::connect(&open_timer, &QTimer::timeout, &view, [&] {
      if (!app.device.Identified || app.discovery.SupervisionTicks == 30) return;
      open_timer.stop();
      if (options.open_window == QLatin1String(kOpenAnalogCalibration))
        window.SpeedButton1Click();
      else if (options.open_window == QLatin1String(kOpenThermistorCalibration))
        window.SpeedButton2Click();
      else
        window.form.trend_button.UserClick();
    });
    open_timer.start(100);
  }

  view.CentreOnScreen();
  view.show();
  view.Start();
  return qt.exec();
}
