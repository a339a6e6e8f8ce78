// The trend and log windows on the offscreen platform against the simulator on loopback, with
// minutes of polls ticked through on a clock the test moves.
#include "gui/trend_window_view.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QLegendMarker>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gui/log_window_view.h"
#include "gui/trend_window_loader.h"
#include "link/wire.h"
#include "state/app.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

namespace fs = std::filesystem;

// What the chart draws for one legend name: its lines and their points.
struct Drawn {
  int lines = 0;
  std::vector<int> points;
  int legend_entries = 0;
};

Drawn DrawnAs(QChart* chart, const QString& name) {
  Drawn drawn;
  for (QAbstractSeries* series : chart->series()) {
    auto* line = qobject_cast<QLineSeries*>(series);
    if (!line || line->name() != name) continue;
    ++drawn.lines;
    drawn.points.push_back(static_cast<int>(line->count()));
    for (QLegendMarker* marker : chart->legend()->markers(line))
      drawn.legend_entries += marker->isVisible() ? 1 : 0;
  }
  return drawn;
}

std::vector<std::string> FileLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class TrendWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zvk-trend-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    rig = std::make_unique<WatchRig>(sim::Model::Qn6);
    trend().choose_file = [this](const QString&, const QString&, bool) { return next_file; };
    trend().show_error = [this](const QString& caption, const QString& text) {
      errors.push_back((caption + ": " + text).toStdString());
    };
  }
  void TearDown() override {
    rig.reset();
    fs::remove_all(dir);
  }
  TrendWindowView& trend() { return dynamic_cast<TrendWindowView&>(*rig->watch->trend_view()); }
  template <typename W>
  W* Find(QWidget* parent, const char* name) {
    W* widget = parent->findChild<W*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no widget " << name;
    return widget;
  }
  void RefuseNextPoll() { rig->sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_READ_DATA); }

  std::unique_ptr<WatchRig> rig;
  fs::path dir;
  QString next_file;
  std::vector<std::string> errors;
};

TEST(WatchWindows, AreBuiltWhenFirstOpenedAndThenShowWhatCameBefore) {
  WatchRig rig(sim::Model::Qn6);
  rig.Polls(2);
  const auto exists = [](const char* name) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(),
                       [&](const QWidget* w) { return w->objectName() == name; });
  };
  EXPECT_FALSE(exists("TrendWindow"));
  EXPECT_FALSE(exists("LogWindow"));
  EXPECT_EQ(rig.watch->trend.size(), 2u);

  rig.watch->ShowTrend();
  EXPECT_EQ(
      DrawnAs(dynamic_cast<TrendWindowView*>(rig.watch->trend_view())->chart(), "TH0 (\u2103)")
          .points,
      std::vector<int>{2});
  rig.watch->ShowLog();
  EXPECT_EQ(rig.watch->log_view().text()->toPlainText().split('\n').size(),
            static_cast<qsizetype>(rig.app->log_lines.size()));
}

TEST(WatchWindows, TheProgramsTrendWindowComesFromItsLibrary) {
  struct Case {
    const char* what;
    QString folder;
    bool made;
  };
  const Case cases[] = {
      {"the library beside the program", TrendWindowLibraryFolder(), true},
      {"no library there", QStringLiteral("/nonexistent-zvk-folder"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WatchRig rig(sim::Model::Qn6, TrendWindowFromLibrary(c.folder));
    rig.Polls(2);
    rig.watch->ShowTrend();
    if (c.made) {
      EXPECT_TRUE(rig.dialogs.errors.empty()) << rig.dialogs.errors.front();
      zvk::gui::TrendWindow* window = rig.watch->trend_view();
      ASSERT_NE(window, nullptr);
      EXPECT_TRUE(window->widget().isVisible());
      const auto* chart = window->widget().findChild<QChartView*>();
      ASSERT_NE(chart, nullptr);
      EXPECT_FALSE(chart->chart()->series().isEmpty());
    } else {
      ASSERT_EQ(rig.dialogs.errors.size(), 1u);
      EXPECT_EQ(rig.dialogs.errors[0].rfind("The trend window cannot be opened: ", 0), 0u)
          << rig.dialogs.errors[0];
      EXPECT_NE(rig.dialogs.errors[0].find("/nonexistent-zvk-folder/"), std::string::npos)
          << rig.dialogs.errors[0];
    }
    rig.Polls(1);  // the poll goes on, with or without the window
    EXPECT_EQ(rig.watch->trend.size(), 3u);
  }
}

TEST_F(TrendWindow, TrendImageAndCtrlTOpenItWhileThePollGoesOn) {
  QToolButton* image = Find<QToolButton>(rig->view.get(), "Image4");
  EXPECT_EQ(image->toolTip(), "Trend");
  EXPECT_FALSE(trend().isVisible());
  QTest::mouseClick(image, Qt::LeftButton);
  EXPECT_TRUE(trend().isVisible());
  EXPECT_FALSE(trend().isModal());
  EXPECT_TRUE(rig->app->discovery.PollingEnabled);
  rig->Polls(2);
  EXPECT_EQ(rig->watch->trend.size(), 2u);

  trend().close();
  rig->view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(rig->view.get()));
  QTest::keyClick(rig->view.get(), Qt::Key_T, Qt::ControlModifier);
  EXPECT_TRUE(trend().isVisible());
}

TEST_F(TrendWindow, DrawsEachChannelInItsUnitWithGapsWhereNoValueCame) {
  rig->sim->SetFahrenheit(5, true);
  rig->sim->SetSensorType(7, 0x00);
  rig->sim->SetThermistorOhms(3, 1e8);  // far below any curve's range
  rig->watch->ShowTrend();
  rig->Polls(3);
  RefuseNextPoll();
  rig->Polls(5);  // refused, then the tick that clears the pending poll, then three more

  QChart* chart = trend().chart();
  const Drawn th0 = DrawnAs(chart, "TH0 (\u2103)");
  EXPECT_EQ(th0.lines, 2);
  EXPECT_EQ(th0.points, (std::vector<int>{3, 3}));
  EXPECT_EQ(th0.legend_entries, 1);
  EXPECT_EQ(DrawnAs(chart, "TH5 (\u2109)").points, (std::vector<int>{3, 3}));
  // "Disable" and "Under Range" are no numbers: nothing is drawn, the legend still names them.
  for (const char* name : {"TH3", "TH7"}) {
    SCOPED_TRACE(name);
    const Drawn none = DrawnAs(chart, name);
    EXPECT_EQ(none.points, std::vector<int>{0});
    EXPECT_EQ(none.legend_entries, 1);
  }
  auto* values = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).front());
  EXPECT_EQ(values->titleText(), "\u2103, \u2109");
  EXPECT_EQ(rig->window->form.thermistor_value[3].caption, "Under Range");
}

TEST_F(TrendWindow, ChannelBoxesAndTheSpanChooseWhatIsDrawn) {
  rig->watch->ShowTrend();
  rig->Polls(4);
  QChart* chart = trend().chart();
  ASSERT_EQ(DrawnAs(chart, "TH1 (\u2103)").lines, 1);
  Find<QCheckBox>(&trend(), "Channel_TH1")->click();
  EXPECT_EQ(DrawnAs(chart, "TH1 (\u2103)").lines, 0);
  EXPECT_EQ(DrawnAs(chart, "TH0 (\u2103)").lines, 1);

  auto* time = qobject_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).front());
  QComboBox* span = Find<QComboBox>(&trend(), "SpanBox");
  const qint64 now =
      std::chrono::duration_cast<std::chrono::milliseconds>(rig->now.time_since_epoch()).count();
  struct Case {
    int index;
    qint64 span_ms;
  } cases[] = {{0, 5 * 60'000}, {1, 60 * 60'000}, {2, 3 * 3100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(span->itemText(c.index).toStdString());
    span->setCurrentIndex(c.index);
    EXPECT_EQ(time->max().toMSecsSinceEpoch(), now);
    EXPECT_EQ(time->max().toMSecsSinceEpoch() - time->min().toMSecsSinceEpoch(), c.span_ms);
  }
}

TEST_F(TrendWindow, RecordWritesARowEveryPollAcrossGapsAndPausesAndRefusesOtherColumns) {
  rig->watch->ShowTrend();
  QPushButton* record = Find<QPushButton>(&trend(), "RecordButton");
  QLabel* status = Find<QLabel>(&trend(), "RecordStatus");
  EXPECT_FALSE(record->isEnabled());  // the channels come with the first readings
  rig->Polls(1);
  ASSERT_TRUE(record->isEnabled());
  EXPECT_EQ(status->text(), "Not recording");

  const fs::path file = dir / "run.csv";
  next_file = QString::fromStdString(file.string());
  record->click();
  EXPECT_EQ(record->text(), "Stop recording");
  EXPECT_EQ(status->text(), "Recording to run.csv: 0 rows, 0 gaps");
  rig->Polls(1);
  RefuseNextPoll();
  rig->Polls(3);
  // A modal window pauses the poll: no rows for it, and the recording goes on afterwards.
  rig->app->discovery.PollingEnabled = false;
  rig->Polls(2);
  rig->app->discovery.PollingEnabled = true;
  rig->Polls(1);
  EXPECT_EQ(status->text(), "Recording to run.csv: 5 rows, 2 gaps");
  record->click();
  EXPECT_EQ(status->text(), "Not recording");
  rig->Polls(1);

  const auto lines = FileLines(file);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "time,TH0,TH1,TH2,TH3,TH4,TH5,TH6,TH7");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), 8);
    // Rows 2 and 3 are gaps: the time alone.
    EXPECT_EQ(lines[i].find(",,,,,,,,") != std::string::npos, i == 2 || i == 3);
  }

  const fs::path other = dir / "voltages.csv";
  std::ofstream(other) << "time,AI0,AI1,AI2,AI3,AI4\n";
  next_file = QString::fromStdString(other.string());
  record->click();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Record: \"" + other.string() + "\" holds other columns"),
            std::string::npos)
      << errors[0];
  EXPECT_EQ(record->text(), "Record\u2026");
  EXPECT_EQ(FileLines(other), std::vector<std::string>{"time,AI0,AI1,AI2,AI3,AI4"});
}

TEST_F(TrendWindow, ExportsWriteTheChartAsAnImageAndTheSamplesAsCsv) {
  rig->watch->ShowTrend();
  rig->Polls(3);
  const fs::path csv = dir / "samples.csv";
  next_file = QString::fromStdString(csv.string());
  Find<QPushButton>(&trend(), "ExportCsvButton")->click();
  std::ifstream in(csv, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const TrendModel& model = rig->watch->trend;
  EXPECT_EQ(text.str(), model.Csv(model.Range(TrendSpan::Last5Minutes)));
  EXPECT_EQ(FileLines(csv).size(), 4u);

  const fs::path png = dir / "chart.png";
  next_file = QString::fromStdString(png.string());
  Find<QPushButton>(&trend(), "ExportPngButton")->click();
  const QImage image(QString::fromStdString(png.string()));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), Find<QChartView>(&trend(), "Chart")->size());
  EXPECT_TRUE(errors.empty());
}

#ifndef _WIN32
// An export goes only into a file: a FIFO is refused with its reason (opening it would hold the
// window until someone read it), and a link is written through to its target.
TEST_F(TrendWindow, ExportsRefuseWhatIsNoFileAndWriteThroughLinks) {
  rig->watch->ShowTrend();
  rig->Polls(2);
  const fs::path fifo = dir / "samples.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const char* button : {"ExportCsvButton", "ExportPngButton"}) {
    SCOPED_TRACE(button);
    errors.clear();
    next_file = QString::fromStdString(fifo.string());
    Find<QPushButton>(&trend(), button)->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("\"" + fifo.string() + "\" is a FIFO, not a file"), std::string::npos)
        << errors[0];
    EXPECT_TRUE(fs::is_fifo(fifo));
  }

  const fs::path real = dir / "real.csv";
  std::ofstream(real) << "old\n";
  fs::create_symlink(real, dir / "link.csv");
  next_file = QString::fromStdString((dir / "link.csv").string());
  errors.clear();
  Find<QPushButton>(&trend(), "ExportCsvButton")->click();
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
  EXPECT_EQ(FileLines(real).size(), 3u);
}
#endif

TEST_F(TrendWindow, LogWindowShowsTheHiddenLogLiveAndSavesIt) {
  LogWindowView& log = rig->watch->log_view();
  rig->view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(rig->view.get()));
  QTest::keyClick(rig->view.get(), Qt::Key_L, Qt::ControlModifier);
  ASSERT_TRUE(log.isVisible());
  const App& app = *rig->app;
  auto shown = [&] { return log.text()->toPlainText().split('\n'); };
  EXPECT_EQ(shown().size(), static_cast<qsizetype>(app.log_lines.size()));
  EXPECT_TRUE(shown().back().endsWith("  " + QString::fromStdString(app.log_lines.back())));

  // Each line with the time it was logged: those of a poll, that of the poll.
  const std::size_t before = app.log_lines.size();
  rig->Polls(1);
  ASSERT_GT(app.log_lines.size(), before);
  EXPECT_EQ(shown().size(), static_cast<qsizetype>(app.log_lines.size()));
  EXPECT_EQ(shown().back(), TimedLogLine(&rig->now, app.log_lines.back()));
  EXPECT_EQ(rig->watch->log_times().back(), rig->now);
  const QRegularExpression timed(
      QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "));
  // Lines logged before the times were taken (the window's creation) are indented as far.
  const std::size_t untimed = app.log_lines.size() - rig->watch->log_times().size();
  for (std::size_t i = 0; i < app.log_lines.size(); ++i) {
    const QString line = shown()[static_cast<qsizetype>(i)];
    EXPECT_EQ(timed.match(line).hasMatch(), i >= untimed) << line.toStdString();
    EXPECT_TRUE(line.endsWith("  " + QString::fromStdString(app.log_lines[i])));
  }

  const fs::path file = dir / "log.txt";
  log.choose_file = [&](const QString&, const QString&, bool) {
    return QString::fromStdString(file.string());
  };
  Find<QPushButton>(&log, "SaveLogButton")->click();
  std::vector<std::string> saved;
  for (const QString& line : shown()) saved.push_back(line.toStdString());
  EXPECT_EQ(FileLines(file), saved);

  // The trend window's button opens it too.
  log.close();
  rig->watch->ShowTrend();
  Find<QPushButton>(&trend(), "LogButton")->click();
  EXPECT_TRUE(log.isVisible());
}

// Watching another module: the title names it, its lines start anew after a mark, and the
// recording of the first one's file stops, saying why.
TEST_F(TrendWindow, AnotherModuleStartsANewSeriesWithAMarkAndEndsTheRecording) {
  std::unique_ptr<sim::Simulator> second = rig->AnotherModule(2, sim::Model::Qn6);
  rig->watch->ShowTrend();
  rig->Polls(2);
  EXPECT_EQ(trend().windowTitle(), "Trend: Lab bench 1 (02:5A:51:36:00:01)");
  const fs::path file = dir / "bench1.csv";
  next_file = QString::fromStdString(file.string());
  Find<QPushButton>(&trend(), "RecordButton")->click();
  rig->Polls(1);

  rig->WatchAndIdentify("127.0.0.2");
  const qint64 switched =
      std::chrono::duration_cast<std::chrono::milliseconds>(rig->now.time_since_epoch()).count();
  rig->Polls(2);
  EXPECT_EQ(trend().windowTitle(), "Trend: Lab bench 2 (02:5A:51:36:00:02)");
  QChart* chart = trend().chart();
  EXPECT_EQ(DrawnAs(chart, "TH0 (\u2103)").points, (std::vector<int>{3, 2}));
  std::vector<QXYSeries*> marks;
  for (QAbstractSeries* series : chart->series())
    if (series->objectName() == "ModuleMark") marks.push_back(qobject_cast<QXYSeries*>(series));
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_GT(static_cast<qint64>(marks[0]->at(0).x()), switched - 200);
  EXPECT_LE(static_cast<qint64>(marks[0]->at(0).x()), switched + 3100);
  EXPECT_EQ(marks[0]->name(), "Lab bench 2");

  const std::string reason =
      "the main window now watches another module (Lab bench 2); its readings do not belong in "
      "bench1.csv. Record again to start a file for it.";
  EXPECT_EQ(errors, std::vector<std::string>{"Recording stopped: " + reason});
  EXPECT_EQ(Find<QLabel>(&trend(), "RecordStatus")->text().toStdString(),
            "Recording stopped: " + reason);
  EXPECT_EQ(Find<QPushButton>(&trend(), "RecordButton")->text(), "Record\u2026");
  EXPECT_EQ(FileLines(file).size(), 2u);  // the header and the first module's one row
  second->Stop();
}

}  // namespace
}  // namespace zvk::gui
