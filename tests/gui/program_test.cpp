// The zvk-analog program as scripts run it: its command line and a timed run with a screenshot.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "link/wire.h"
#include "monitor/main_form.h"
#include "sim/simulator.h"

namespace zvk::gui {
namespace {

struct ProgramRun {
  int exit_code = -1;
  QString err;
  QString out;
};

ProgramRun RunProgram(const QStringList& arguments, int timeout_ms = 15000) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(ZVK_ANALOG_PROGRAM), arguments);
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "zvk-analog did not finish";
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardError()),
          QString::fromLocal8Bit(process.readAllStandardOutput())};
}

TEST(Program, UsageErrorsExitWithTwoAndOneLine) {
  const QStringList cases[] = {
      {"--skip-wifi-check"},
      {"--host", "127.0.0.x", "--skip-wifi-check"},
      {"--host", "127.0.0.1", "--port", "70000", "--skip-wifi-check"},
      {"--screenshot", "x.png"},
      {"--no-such-option"},
      {"--open", "no-such-window"},
  };
  for (const QStringList& arguments : cases) {
    const ProgramRun run = RunProgram(arguments);
    SCOPED_TRACE(arguments.join(' ').toStdString());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_TRUE(run.err.startsWith("zvk-analog: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
  }
  EXPECT_TRUE(RunProgram({"--skip-wifi-check"}).err.contains("--host"));
  EXPECT_TRUE(RunProgram({"--host", "127.0.0.x", "--skip-wifi-check"})
                  .err.contains("'x' is not a valid integer value"));
}

TEST(Program, HelpNamesTheProgram) {
  const ProgramRun run = RunProgram({"--help"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.out.startsWith("Usage: zvk-analog [options]\n")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("--host")) << run.out.toStdString();
}

TEST(Program, LongArgumentsAreShortenedInErrors) {
  const QString big(100000, u'y');
  const QString shown = QString(40, u'y') + "... (100000 bytes)";
  const QStringList cases[] = {
      {"--port", big},
      {"--" + big},
      {big},
      {"--host", big, "--skip-wifi-check"},
  };
  for (const QStringList& arguments : cases) {
    const ProgramRun run = RunProgram(arguments);
    SCOPED_TRACE(arguments.first().left(10).toStdString());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_LT(run.err.size(), 200) << run.err.left(300).toStdString();
    EXPECT_TRUE(run.err.contains(shown)) << run.err.left(300).toStdString();
  }
}

TEST(Program, TimedRunIdentifiesTheModuleAndSavesTheWindow) {
  sim::Options options;
  options.model = sim::Model::Qn6;
  sim::Simulator sim(options);
  const std::uint16_t port = sim.Start();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString shot = dir.filePath("window.png");

  const ProgramRun run =
      RunProgram({"--host", "127.0.0.1", "--port", QString::number(port), "--skip-wifi-check",
                  "--quit-after", "1500", "--screenshot", shot});
  sim.Stop();
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();

  const auto frames = sim.Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0][wire::kReplyCode], wire::CMD_GET_DEVICE);
  const QImage image(shot);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), kMainClientWidth);
  EXPECT_EQ(image.height(), kMainClientHeight);
}

// scripts/screenshots takes the calibration windows this way.
TEST(Program, TimedRunOpensACalibrationWindowForTheScreenshot) {
  sim::Options options;
  options.model = sim::Model::Qn6;
  sim::Simulator sim(options);
  const std::uint16_t port = sim.Start();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString shot = dir.filePath("window.png");

  const ProgramRun run = RunProgram({"--host", "127.0.0.1", "--port", QString::number(port),
                                     "--skip-wifi-check", "--quit-after", "1500", "--screenshot",
                                     shot, "--open", "thermistor-calibration"});
  sim.Stop();
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_EQ(QImage(shot).size(), QSize(412, 262));  // the thermistor window, not the main one
}

}  // namespace
}  // namespace zvk::gui
