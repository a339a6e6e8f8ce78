#include "gui/startup_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <string>
#include <vector>

#include "util/message_text.h"

namespace zvk::gui {

namespace {

constexpr const char* kProgram = "zvk-analog";

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
  // Messages echo arguments; one pasted by mistake may be megabytes long.
  std::vector<std::string> typed;
  for (const QString& argument : arguments.mid(1)) typed.push_back(argument.toStdString());
  const auto UsageError = [&typed](const QString& reason) {
    ParsedCommandLine result;
    result.exit_code = 2;
    result.message = QString::fromStdString(std::string(kProgram) + ": " +
                                            WithArgumentsShortened(reason.toStdString(), typed));
    return result;
  };
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("zVK-Analog: monitor and configure a zVK analog input module."));
  const QCommandLineOption help_option(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                       QStringLiteral("Show this help and exit."));
  const QCommandLineOption version_option(QStringLiteral("version"),
                                          QStringLiteral("Show the program's version and exit."));
  const QCommandLineOption host_option(
      QStringLiteral("host"),
      QStringLiteral("Module address, applied at start like the \"Static IP\" button."),
      QStringLiteral("ADDR"));
  const QCommandLineOption port_option(QStringLiteral("port"),
                                       QStringLiteral("Module TCP port (default 13577)."),
                                       QStringLiteral("N"));
  const QCommandLineOption skip_option(
      QStringLiteral("skip-wifi-check"),
      QStringLiteral("Do not look for a Wi-Fi interface in the module's subnet: for a module on a "
                     "wired or routed network, or on this computer (needs --host)."));
  const QCommandLineOption quit_option(QStringLiteral("quit-after"),
                                       QStringLiteral("Quit after MS milliseconds."),
                                       QStringLiteral("MS"));
  const QCommandLineOption shot_option(
      QStringLiteral("screenshot"),
      QStringLiteral("Save the window into FILE just before quitting (needs --quit-after)."),
      QStringLiteral("FILE"));
  const QCommandLineOption setup_option(
      QStringLiteral("setup-after"),
      QStringLiteral("Click the setup button after MS milliseconds (with --screenshot, the setup "
                     "window is saved)."),
      QStringLiteral("MS"));
  const QCommandLineOption open_option(
      QStringLiteral("open"),
      QStringLiteral("Open WINDOW (analog-calibration, thermistor-calibration or trend) from the "
                     "main window once the module is identified."),
      QStringLiteral("WINDOW"));
  parser.addOptions({help_option, version_option, host_option, port_option, skip_option,
                     quit_option, shot_option, setup_option, open_option});

  if (!parser.parse(arguments)) return UsageError(parser.errorText());
  if (parser.isSet(help_option)) {
    // The parser names the program after the running application, which does not exist yet.
    QString help = parser.helpText();
    help.replace(0, help.indexOf(u'\n'),
                 QStringLiteral("Usage: %1 [options]").arg(QLatin1String(kProgram)));
    ParsedCommandLine result;
    result.message = help;
    return result;
  }
  if (parser.isSet(version_option)) {
    ParsedCommandLine result;
    result.message = QLatin1String(kProgram) + QStringLiteral(" " ZVK_VERSION "\n");
    return result;
  }
  if (!parser.positionalArguments().isEmpty())
    return UsageError(
        QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));

  StartupOptions options;
  if (parser.isSet(host_option)) {
    const QString host = parser.value(host_option);
    if (host.isEmpty()) return UsageError(QStringLiteral("--host needs an address"));
    options.host = host.toStdString();
  }
  if (parser.isSet(port_option)) {
    bool ok = false;
    const uint port = parser.value(port_option).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
      return UsageError(QStringLiteral("--port needs a number from 1 to 65535, not '%1'")
                            .arg(parser.value(port_option)));
    options.port = static_cast<std::uint16_t>(port);
  }
  options.skip_wifi_check = parser.isSet(skip_option);
  if (options.skip_wifi_check && !options.host)
    return UsageError(QStringLiteral(
        "--skip-wifi-check needs --host ADDR: without the Wi-Fi check the module's address "
        "must be given"));
  if (parser.isSet(quit_option)) {
    bool ok = false;
    const int ms = parser.value(quit_option).toInt(&ok);
    if (!ok || ms < 0)
      return UsageError(QStringLiteral("--quit-after needs a number of milliseconds, not '%1'")
                            .arg(parser.value(quit_option)));
    options.quit_after_ms = ms;
  }
  if (parser.isSet(setup_option)) {
    bool ok = false;
    const int ms = parser.value(setup_option).toInt(&ok);
    if (!ok || ms < 0)
      return UsageError(QStringLiteral("--setup-after needs a number of milliseconds, not '%1'")
                            .arg(parser.value(setup_option)));
    options.setup_after_ms = ms;
  }
  if (parser.isSet(shot_option)) {
    options.screenshot = parser.value(shot_option);
    if (options.screenshot.isEmpty())
      return UsageError(QStringLiteral("--screenshot needs a file name"));
    if (!options.quit_after_ms)
      return UsageError(QStringLiteral("--screenshot is taken on --quit-after; give both"));
  }

  if (parser.isSet(open_option)) {
    options.open_window = parser.value(open_option);
    if (options.open_window != QLatin1String(kOpenAnalogCalibration) &&
        options.open_window != QLatin1String(kOpenThermistorCalibration) &&
        options.open_window != QLatin1String(kOpenTrend))
      return UsageError(QStringLiteral("--open needs %1, %2 or %3, not '%4'")
                            .arg(QLatin1String(kOpenAnalogCalibration),
                                 QLatin1String(kOpenThermistorCalibration),
                                 QLatin1String(kOpenTrend), options.open_window));
  }

  ParsedCommandLine result;
  result.options = std::move(options);
  return result;
}

}  // namespace zvk::gui
