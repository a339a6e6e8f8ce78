// The Modules window over a fleet of simulated modules on 127.0.0.x: a scan that leaves the main
// window running, the sortable table, and the double click that hands a module to the main window.
#include "gui/modules_window_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "gui/main_window_view.h"
#include "gui_test_wait.h"
#include "monitor/main_window.h"
#include "record/csv_format.h"
#include "sim/simulator.h"
#include "support/test_seams.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

class ModulesWindow : public testing::Test {
 protected:
  void SetUp() override {
    rig_ = std::make_unique<WatchRig>(sim::Model::Qn6);  // module 1, watched, on 127.0.0.1
    for (int unit = 2; unit <= 3; ++unit) {
      sim::Options options;
      options.model = unit == 2 ? sim::Model::Km3 : sim::Model::Qn6;
      options.unit = unit;
      options.listen = "127.0.0." + std::to_string(unit);
      options.port = rig_->sim->Port();
      fleet_.push_back(std::make_unique<sim::Simulator>(options));
      fleet_.back()->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(unit)});
      fleet_.back()->Start();
    }
    fleet_.back()->InjectFault(sim::Fault::Refuse, 100);  // .3 is no module to list
    view_ = std::make_unique<ModulesWindowView>(
        *rig_->app, scan_network_, hosts_,
        [this](const std::string& address) { rig_->view->WatchModule(address); });
    view_->show();
  }
  void TearDown() override {
    view_.reset();
    for (auto& m : fleet_) m->Stop();
    rig_.reset();
  }

  QString Cell(int row, int column) {
    const QTableWidgetItem* item = view_->table().item(row, column);
    return item ? item->text() : QString();
  }
  bool Scan() {
    if (!view_->StartScan()) return false;
    return WaitUntil([this] { return !view_->scanning(); });
  }
  std::string RunOf(const char* address) {
    for (int r = 0; r < view_->table().rowCount(); ++r)
      if (Cell(r, ModulesWindowView::kAddress) == address)
        return Cell(r, ModulesWindowView::kRun).toStdString();
    return "(not listed)";
  }
  // Lists the watched module (127.0.0.1) and another one (127.0.0.2).
  void ListTwo() {
    view_->ranges().setText(QStringLiteral("127.0.0.1 127.0.0.2"));
    ASSERT_TRUE(Scan());
    ASSERT_EQ(view_->table().rowCount(), 2);
  }

  std::unique_ptr<WatchRig> rig_;
  std::vector<std::unique_ptr<sim::Simulator>> fleet_;
  test::LoopbackOnlyNetwork scan_network_;
  test::FakeHostInterfaces hosts_;
  std::unique_ptr<ModulesWindowView> view_;
};

TEST_F(ModulesWindow, ListsTheModulesAndWatchesTheOneDoubleClicked) {
  view_->ranges().setText(QStringLiteral("127.0.0.0/29"));
  // The main window keeps polling while the scan runs on its worker.
  ASSERT_TRUE(view_->StartScan());
  EXPECT_TRUE(view_->scanning());
  rig_->Polls(1);
  ASSERT_TRUE(WaitUntil([this] { return !view_->scanning(); }));

  QTableWidget& table = view_->table();
  ASSERT_EQ(table.rowCount(), 2);
  using V = ModulesWindowView;
  EXPECT_EQ(Cell(0, V::kAddress), "127.0.0.1");
  EXPECT_EQ(Cell(0, V::kModel), "zVK-QN6");
  EXPECT_EQ(Cell(0, V::kName), "zVK-Analog-0001");
  EXPECT_EQ(Cell(0, V::kRssi), "-61 dBm");
  EXPECT_EQ(Cell(0, V::kState), "Watched, online");
  EXPECT_EQ(Cell(1, V::kAddress), "127.0.0.2");
  EXPECT_EQ(Cell(1, V::kModel), "zVK-KM3");
  EXPECT_EQ(Cell(1, V::kLocation), "Lab bench 2");
  EXPECT_EQ(Cell(1, V::kMac), "02:5A:4B:33:00:02");
  EXPECT_EQ(Cell(1, V::kFirmware), "V01.12");
  EXPECT_EQ(Cell(1, V::kWifi), "AP");
  EXPECT_EQ(Cell(1, V::kState), "Online");
  EXPECT_EQ(view_->status().text(), "Scanned 6 addresses (127.0.0.0/29): 2 modules answered.");

  table.sortByColumn(V::kModel, Qt::AscendingOrder);
  EXPECT_EQ(Cell(0, V::kModel), "zVK-KM3");
  table.sortByColumn(V::kAddress, Qt::DescendingOrder);
  EXPECT_EQ(Cell(0, V::kAddress), "127.0.0.2");

  const QRect cell = table.visualItemRect(table.item(0, V::kName));
  // A double click as the platform delivers it: a press and release, then the double click.
  QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(rig_->app->link.DeviceHost, "127.0.0.2");
  EXPECT_EQ(rig_->window->form.device_ip.text, "127.0.0.2");
  EXPECT_EQ(rig_->view->findChild<QLineEdit*>("Edit2")->text(), "127.0.0.2");
  EXPECT_EQ(rig_->app->link.QueuedCommand, wire::CMD_GET_DEVICE);  // asks the new module
  // Not "online" before the main window has heard from it.
  EXPECT_TRUE(WaitUntil([&] { return Cell(0, V::kState) == "Watched, checking…"; }));
  EXPECT_EQ(Cell(1, V::kState), "Online");
  // The main window's next tick asks the new module who it is, and shows it.
  for (int i = 0; i < 40 && rig_->window->form.module_state.caption.empty(); ++i) rig_->Tick();
  EXPECT_EQ(rig_->window->form.module_state.caption, "zVK-KM3 Analog Input Module");
  EXPECT_TRUE(WaitUntil([&] { return Cell(0, V::kState) == "Watched, online"; }));
}

TEST_F(ModulesWindow, ARescanMarksModulesThatNoLongerAnswer) {
  view_->ranges().setText(QStringLiteral("127.0.0.1 127.0.0.2"));
  ASSERT_TRUE(Scan());
  ASSERT_EQ(view_->table().rowCount(), 2);
  fleet_[0]->Stop();  // 127.0.0.2 goes away
  ASSERT_TRUE(Scan());
  ASSERT_EQ(view_->table().rowCount(), 2);
  EXPECT_EQ(Cell(1, ModulesWindowView::kAddress), "127.0.0.2");
  EXPECT_EQ(Cell(1, ModulesWindowView::kState), "Not answering");
}

// The main window opens it from its context menu and Ctrl+M, with nothing else of it changed.
TEST_F(ModulesWindow, TheMainWindowsContextMenuAndCtrlMAskForIt) {
  QSignalSpy asked(rig_->view.get(), &MainWindowView::modulesRequested);
  auto* action = rig_->view->findChild<QAction*>("ModulesAction");
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(rig_->view->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_EQ(action->text(), "Modules…");
  EXPECT_EQ(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
  action->trigger();
  EXPECT_EQ(asked.count(), 1);
}

TEST_F(ModulesWindow, SaysWhyItCannotScan) {
  const struct {
    const char* ranges;
    const char* status;
  } cases[] = {
      {"10.0.0.0/8", "'10.0.0.0/8' is wider than a /16; scan at most 65,536 addresses at once"},
      {"127.0.0.1/33", "'127.0.0.1/33' is not an IPv4 range such as 192.168.1.0/24"},
      {"", "No network interface with a subnet to scan; type a range."},
  };
  for (const auto& c : cases) {
    view_->ranges().setText(QString::fromUtf8(c.ranges));
    EXPECT_FALSE(view_->StartScan()) << c.ranges;
    EXPECT_EQ(view_->status().text(), c.status);
  }
  EXPECT_EQ(scan_network_.connects, 0);
}

// Opened empty, it says what to type; after a scan every column is as wide as its contents, one
// line per module, with no scroll bar across.
TEST_F(ModulesWindow, AnEmptyTableSaysWhatToTypeAndTheColumnsFitTheirContents) {
  EXPECT_TRUE(view_->empty_hint().isVisible());
  EXPECT_EQ(view_->empty_hint().text(),
            "No modules yet: type a range such as 192.168.77.0/24 and press Scan");
  view_->ranges().setText(QStringLiteral("127.0.0.1 127.0.0.2"));
  ASSERT_TRUE(Scan());
  QTableWidget& table = view_->table();
  EXPECT_FALSE(view_->empty_hint().isVisible());
  EXPECT_FALSE(table.wordWrap());
  QCoreApplication::processEvents();
  // "Run" is shown while a run goes on.
  EXPECT_TRUE(table.isColumnHidden(ModulesWindowView::kRun));
  for (int c = 0; c < table.columnCount(); ++c) {
    if (table.isColumnHidden(c)) continue;
    SCOPED_TRACE(table.horizontalHeaderItem(c)->text().toStdString());
    EXPECT_GE(table.columnWidth(c), static_cast<QAbstractItemView&>(table).sizeHintForColumn(c));
  }
  EXPECT_EQ(table.horizontalScrollBar()->maximum(), 0);
}

// The watched module's state follows the main window's own polls and connection check; the
// others are asked again now and then.
TEST_F(ModulesWindow, StatesStayLiveBetweenScans) {
  view_->ranges().setText(QStringLiteral("127.0.0.1 127.0.0.2"));
  ASSERT_TRUE(Scan());
  using V = ModulesWindowView;
  const auto state_of = [this](const char* address) {
    for (int r = 0; r < view_->table().rowCount(); ++r)
      if (Cell(r, V::kAddress) == address) return Cell(r, V::kState).toStdString();
    return std::string("(not listed)");
  };
  EXPECT_EQ(state_of("127.0.0.1"), "Watched, online");

  rig_->sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_READ_DATA);
  rig_->Polls(1);
  EXPECT_TRUE(WaitUntil([&] { return state_of("127.0.0.1") == "Watched, not answering"; }));
  rig_->Polls(2);
  EXPECT_TRUE(WaitUntil([&] { return state_of("127.0.0.1") == "Watched, online"; }));

  test::FakeHostInterfaces desk;  // no Wi-Fi: the main window does not poll it at all
  desk.adapter_scans = {{{"eth0", "192.168.77.5"}}};
  desk.wireless_scans = {{}};
  rig_->hosts.use = &desk;
  rig_->Polls(1);
  EXPECT_TRUE(WaitUntil([&] {
    return state_of("127.0.0.1") == "Watched, not polled: no Wi-Fi interface in its subnet";
  }));
  rig_->hosts.use = &rig_->hosts.skip;

  fleet_[0]->Stop();
  QSignalSpy probed(view_.get(), &ModulesWindowView::probeFinished);
  ASSERT_TRUE(view_->ProbeListed());
  ASSERT_TRUE(probed.wait(10000));
  EXPECT_EQ(state_of("127.0.0.2"), "Not answering");
  EXPECT_EQ(scan_network_.connects, 3);  // the scan's two, then the probe's one: not the watched
}

// "Record…" polls every listed module on its own connections and writes the long form, one line
// per channel, named by the module; the main window goes on watching (and may change modules)
// meanwhile, and "Stop recording" ends the run without holding up the window.
TEST_F(ModulesWindow, RecordWritesEveryListedModuleInTheLongFormUntilStopped) {
  ListTwo();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "zvk-modules-window-record.csv";
  std::filesystem::remove(file);
  std::vector<QString> errors;
  view_->show_error = [&](const QString& caption, const QString& text) {
    errors.push_back(caption + ": " + text);
  };
  view_->choose_file = [&](const QString&, const QString&, bool continue_existing) {
    EXPECT_TRUE(continue_existing);
    return QString::fromStdString(file.string());
  };
  QPushButton& record = view_->run_button(ModulesWindowView::RunKind::Record);
  EXPECT_EQ(record.text(), "Record\u2026");
  record.click();
  ASSERT_TRUE(view_->running(ModulesWindowView::RunKind::Record));
  EXPECT_EQ(record.text(), "Stop recording");
  // The first round at once, the second 3.1 s later; the main window changes modules between.
  ASSERT_TRUE(WaitUntil([&] { return RunOf("127.0.0.2") == "recording"; }));
  EXPECT_EQ(RunOf("127.0.0.1"), "recording");
  rig_->WatchAndIdentify("127.0.0.2");
  QSignalSpy rounds(view_.get(), &ModulesWindowView::runProgressed);
  ASSERT_TRUE(rounds.wait(6000));
  EXPECT_NE(view_->run_status().text().toStdString().find(
                "Recording to zvk-modules-window-record.csv: 4 rows, 0 gaps"),
            std::string::npos)
      << view_->run_status().text().toStdString();

  QSignalSpy finished(view_.get(), &ModulesWindowView::runFinished);
  QElapsedTimer clicked;
  clicked.start();
  record.click();
  EXPECT_LT(clicked.elapsed(), 500);  // the window never waits for the run
  ASSERT_TRUE(finished.wait(6000));
  EXPECT_FALSE(view_->running(ModulesWindowView::RunKind::Record));
  EXPECT_EQ(record.text(), "Record\u2026");
  EXPECT_EQ(RunOf("127.0.0.1"), "");
  EXPECT_EQ(view_->run_status().text(),
            "Recorded the listed modules: \"zvk-modules-window-record.csv\": 4 rows written "
            "(0 gaps)");
  EXPECT_TRUE(errors.empty());

  std::vector<std::string> lines;
  {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], kLongCsvHeader);
  // module: the channels each round wrote of it
  std::map<std::string, std::multiset<std::string>> channels;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t a = line.find(',');
    const std::size_t b = line.find(',', a + 1);
    const std::size_t c = line.find(',', b + 1);
    ASSERT_NE(c, std::string::npos) << line;
    channels[line.substr(a + 1, b - a - 1)].insert(line.substr(b + 1, c - b - 1));
  }
  ASSERT_EQ(channels.size(), 2u);
  for (const auto& [module, seen] : channels) {
    SCOPED_TRACE(module);
    EXPECT_TRUE(module == Cell(0, ModulesWindowView::kName).toStdString() ||
                module == Cell(1, ModulesWindowView::kName).toStdString());
    EXPECT_FALSE(seen.empty());
    for (const std::string& channel : seen) EXPECT_EQ(seen.count(channel), 2u) << channel;
  }
  std::filesystem::remove(file);
}

// A file that holds something else is refused before any run starts; closing the window ends a
// run that goes on.
TEST_F(ModulesWindow, RecordRefusesAForeignFileAndClosingTheWindowEndsTheRun) {
  ListTwo();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "zvk-modules-window-foreign.csv";
  {
    std::ofstream out(file);
    out << "name,address\n";
  }
  std::vector<QString> errors;
  view_->show_error = [&](const QString& caption, const QString& text) {
    errors.push_back(caption + ": " + text);
  };
  EXPECT_FALSE(view_->StartRecording(QString::fromStdString(file.string())));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].startsWith("Record: \"" + QString::fromStdString(file.string()) +
                                   "\" holds other columns"))
      << errors[0].toStdString();
  EXPECT_FALSE(view_->running(ModulesWindowView::RunKind::Record));

  std::filesystem::remove(file);
  ASSERT_TRUE(view_->StartRecording(QString::fromStdString(file.string())));
  ASSERT_TRUE(WaitUntil([&] { return RunOf("127.0.0.1") == "recording"; }));
  QSignalSpy finished(view_.get(), &ModulesWindowView::runFinished);
  view_->close();
  ASSERT_TRUE(finished.wait(6000));
  EXPECT_FALSE(view_->running(ModulesWindowView::RunKind::Record));
  EXPECT_EQ(errors.size(), 1u);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace zvk::gui
