// The main window's widgets bound to the model, running its real timers and event pump against
// the simulator on loopback.
#include "gui/main_window_view.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <functional>
#include <memory>
#include <set>

#include "app/system.h"
#include "gui/gui_test_wait.h"
#include "gui/qt_seams.h"
#include "link/wire.h"
#include "monitor/device_info.h"
#include "sim/simulator.h"
#include "support/test_seams.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

using test::LoopbackOnlyNetwork;
using test::RecordingDialogs;
using test::RecordingSleeper;

void RunEventsFor(int ms) {
  WaitUntil([] { return false; }, ms);
}

// The program's window over a simulated module: real timers, the Qt event pump, loopback only.
class ViewRig {
 public:
  explicit ViewRig(sim::Model model) {
    sim::Options options;
    options.model = model;
    sim = std::make_unique<sim::Simulator>(options);
    sim->Start();
    system = std::make_unique<System>(Seams{network, pump, sleeper, hosts, dialogs});
    app = &system->app;
    window = &system->main_window;
    app->link.DeviceHost = "127.0.0.1";
    app->link.DevicePort = sim->Port();
    window->FormCreate();
    view = std::make_unique<MainWindowView>(*app, *window);
    pump.before_events = [this] { view->SyncFromModel(); };
    view->show();
    view->Start();
  }
  ~ViewRig() {
    view.reset();
    system.reset();
    sim->Stop();
  }

  template <typename W>
  W* Find(const char* name) const {
    W* widget = view->findChild<W*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no widget " << name;
    return widget;
  }
  QString Text(const char* label) const { return Find<QLabel>(label)->text(); }

  bool WaitIdentified() {
    return WaitUntil([this] { return app->device.Identified; });
  }
  // A click or a change made while the supervision tick is due is dropped by the model; act
  // well before it.
  void WaitClearOfSupervision() {
    ASSERT_TRUE(WaitUntil([this] { return app->discovery.SupervisionTicks <= 20; }));
  }
  std::vector<std::vector<std::uint8_t>> FramesWithCode(std::uint8_t code) const {
    std::vector<std::vector<std::uint8_t>> found;
    for (auto& frame : sim->Frames())
      if (frame.size() > wire::kReplyCode && frame[wire::kReplyCode] == code)
        found.push_back(frame);
    return found;
  }
  // Waits for the first frame of `code`, then a little longer for any second one.
  std::vector<std::vector<std::uint8_t>> SettledFrames(std::uint8_t code) {
    WaitUntil([&] { return !FramesWithCode(code).empty(); });
    RunEventsFor(400);
    return FramesWithCode(code);
  }

  LoopbackOnlyNetwork network;
  QtEventPump pump;
  RecordingSleeper sleeper;
  SkipWifiCheckInterfaces hosts;
  RecordingDialogs dialogs;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<System> system;
  App* app = nullptr;
  MainWindow* window = nullptr;
  std::unique_ptr<MainWindowView> view;
};

TEST(MainWindowView, FindMeClickQueuesTheLocatorAndShowsItsResult) {
  ViewRig rig(sim::Model::Qn6);
  ASSERT_TRUE(rig.WaitIdentified());
  EXPECT_TRUE(WaitUntil([&] { return rig.Text("Label4") == kQn6ModelText; }));
  EXPECT_EQ(rig.Text("StatusBar1_Panel0"), "Dev MAC: 02:5A:51:36:00:01");
  EXPECT_EQ(rig.Text("StatusBar1_Panel1"), "IP: 127.0.0.1");
  EXPECT_EQ(rig.Find<QLineEdit>("Edit2")->text(), "127.0.0.1");

  QToolButton* find_me = rig.Find<QToolButton>("Image3");
  EXPECT_EQ(find_me->toolTip(), "Find me");
  rig.WaitClearOfSupervision();
  QTest::mouseClick(find_me, Qt::LeftButton);

  EXPECT_TRUE(WaitUntil([&] { return rig.Text("StatusBar2_Panel0") == "Set Locator done!"; }));
  EXPECT_EQ(rig.sim->Snapshot().locator_count, 1);
  EXPECT_EQ(rig.FramesWithCode(wire::CMD_SET_LOCATOR).size(), 1u);
}

TEST(MainWindowView, ModuleTextsAreShownAsTheyStandNeverAsMarkup) {
  ViewRig rig(sim::Model::Km3);
  rig.sim->SetLocation("<b>Bay</b> 3 & 4");
  ASSERT_TRUE(rig.WaitIdentified());
  EXPECT_TRUE(WaitUntil([&] { return rig.Text("Label5") == "Locate: <b>Bay</b> 3 & 4"; }));
  for (const QLabel* label : rig.view->findChildren<QLabel*>())
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

TEST(MainWindowView, Timer3IsNotReenteredWhileItsOwnExchangeWaits) {
  ViewRig rig(sim::Model::Qn6);
  rig.sim->InjectFault(sim::Fault::Delay, 1, wire::CMD_GET_DEVICE, 600);
  // Timer3's counter as seen inside the wait: a tick run there would move it on.
  std::set<int> ticks_inside;
  int passes_inside = 0;
  rig.pump.before_events = [&] {
    rig.view->SyncFromModel();
    if (!rig.app->link.LinkBusy) return;
    ++passes_inside;
    ticks_inside.insert(rig.app->discovery.SupervisionTicks);
  };
  ASSERT_TRUE(rig.WaitIdentified());
  EXPECT_GT(passes_inside, 20);  // the timers came due many times during the 600 ms
  EXPECT_EQ(ticks_inside.size(), 1u);
  EXPECT_EQ(rig.FramesWithCode(wire::CMD_GET_DEVICE).size(), 1u);
}

TEST(MainWindowView, ThermistorModuleShowsLiveValuesAndMirrorsItsSettingsWithoutEcho) {
  ViewRig rig(sim::Model::Qn6);
  ASSERT_TRUE(rig.WaitIdentified());

  // Identity reply: channel group of the model, values and the module's settings on the widgets.
  EXPECT_TRUE(WaitUntil([&] { return rig.Text("Label28").endsWith(u'\u2103'); }))
      << rig.Text("Label28").toStdString();
  EXPECT_TRUE(rig.Find<QGroupBox>("GroupBox2")->isVisible());
  EXPECT_FALSE(rig.Find<QGroupBox>("GroupBox1")->isVisible());
  EXPECT_TRUE(rig.Text("Label33").endsWith(u'\u2109'));  // TH5 reports Fahrenheit
  EXPECT_EQ(rig.Text("Label35"), "Disable");             // TH7 has no sensor
  EXPECT_TRUE(rig.Find<QCheckBox>("CheckBox6")->isChecked());
  EXPECT_FALSE(rig.Find<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_TRUE(rig.Find<QComboBox>("ComboBox6")->currentText().startsWith("60:"));
  EXPECT_TRUE(rig.Find<QComboBox>("ComboBox12")->currentText().startsWith("6A:"));
  EXPECT_EQ(rig.Find<QComboBox>("ComboBox13")->currentText(), "00:Disable");

  // A data poll brings the same settings again; neither mirror sends them back.
  EXPECT_TRUE(WaitUntil([&] { return !rig.FramesWithCode(wire::CMD_READ_DATA).empty(); }, 6000));
  RunEventsFor(300);
  EXPECT_TRUE(rig.FramesWithCode(wire::CMD_SET_TH_CONFIG).empty());
  EXPECT_TRUE(rig.dialogs.errors.empty());
}

TEST(MainWindowView, EachThermistorWidgetChangeSendsOneFrame) {
  ViewRig rig(sim::Model::Qn6);
  ASSERT_TRUE(rig.WaitIdentified());
  RunEventsFor(200);

  // Fahrenheit box of TH0: the reply to the command is a data reply that shows the new unit.
  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  QTest::mouseClick(rig.Find<QCheckBox>("CheckBox1"), Qt::LeftButton);
  auto frames = rig.SettledFrames(wire::CMD_SET_TH_CONFIG);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][wire::thcfg::kFahrenheit + 0], 1);
  EXPECT_EQ(rig.sim->Snapshot().fahrenheit[0], 1);
  EXPECT_TRUE(rig.Find<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_TRUE(WaitUntil([&] { return rig.Text("Label28").endsWith(u'\u2109'); }));

  // Offset of TH1, one step up with the arrow key.
  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  QTest::keyClick(rig.Find<QSpinBox>("SpinEdit2"), Qt::Key_Up);
  frames = rig.SettledFrames(wire::CMD_SET_TH_CONFIG);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][wire::thcfg::kOffsets + 1], 1);
  EXPECT_EQ(frames[0][wire::thcfg::kFahrenheit + 0], 1);  // the earlier change goes out too
  EXPECT_EQ(rig.Find<QSpinBox>("SpinEdit2")->value(), 1);

  // Sensor type of TH2, the next item picked with the arrow key.
  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  QTest::keyClick(rig.Find<QComboBox>("ComboBox8"), Qt::Key_Down);
  frames = rig.SettledFrames(wire::CMD_SET_TH_CONFIG);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][wire::thcfg::kSensorTypes + 2], 0x61);
  EXPECT_TRUE(rig.Find<QComboBox>("ComboBox8")->currentText().startsWith("61:"));

  // Typed text that is no code: the conversion error box, and nothing is sent.
  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  QLineEdit* typed = rig.Find<QComboBox>("ComboBox9")->lineEdit();
  typed->selectAll();
  QTest::keyClicks(typed, "zz");
  RunEventsFor(300);
  EXPECT_TRUE(rig.FramesWithCode(wire::CMD_SET_TH_CONFIG).empty());
  EXPECT_EQ(rig.dialogs.errors, (std::vector<std::string>{"'0xz' is not a valid integer value",
                                                          "'0xzz' is not a valid integer value"}));
  EXPECT_EQ(typed->text(), "zz");  // the mirror leaves typed text alone
}

TEST(MainWindowView, VoltageWidgetChangesSendOneRangeFrameEach) {
  ViewRig rig(sim::Model::Km3);
  ASSERT_TRUE(rig.WaitIdentified());
  EXPECT_TRUE(WaitUntil([&] { return rig.Find<QGroupBox>("GroupBox1")->isVisible(); }));
  EXPECT_FALSE(rig.Find<QGroupBox>("GroupBox2")->isVisible());
  EXPECT_TRUE(rig.Text("Label16").endsWith("V")) << rig.Text("Label16").toStdString();
  EXPECT_EQ(rig.Find<QComboBox>("ComboBox2")->currentText(), "0:-/+10V");

  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  QTest::keyClick(rig.Find<QComboBox>("ComboBox2"), Qt::Key_Down);
  auto frames = rig.SettledFrames(wire::CMD_SET_RANGE_CONFIG);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][wire::rangecfg::kRangeCodes + 1], 1);
  EXPECT_EQ(frames[0][wire::rangecfg::kSamplingMode], 0);
  EXPECT_EQ(rig.sim->Snapshot().range_codes[1], 1);

  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  QTest::mouseClick(rig.Find<QRadioButton>("RadioButton2"), Qt::LeftButton);
  frames = rig.SettledFrames(wire::CMD_SET_RANGE_CONFIG);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][wire::rangecfg::kSamplingMode], 1);
  EXPECT_EQ(frames[0][wire::rangecfg::kRangeCodes + 1], 1);
  EXPECT_TRUE(rig.Find<QRadioButton>("RadioButton2")->isChecked());
  EXPECT_FALSE(rig.Find<QRadioButton>("RadioButton1")->isChecked());

  // The next poll reports what was set; the refreshed controls send nothing back.
  rig.sim->ClearFrames();
  EXPECT_TRUE(WaitUntil([&] { return !rig.FramesWithCode(wire::CMD_READ_DATA).empty(); }, 6000));
  RunEventsFor(300);
  EXPECT_TRUE(rig.FramesWithCode(wire::CMD_SET_RANGE_CONFIG).empty());
  EXPECT_EQ(rig.Find<QComboBox>("ComboBox2")->currentText(), "1:-/+5V");
  EXPECT_TRUE(rig.Find<QRadioButton>("RadioButton2")->isChecked());

  // A pick from the list, which the box builds when it first opens, wide enough for its items.
  QComboBox* box = rig.Find<QComboBox>("ComboBox2");
  EXPECT_EQ(box->findChild<QAbstractItemView*>(), nullptr);
  rig.WaitClearOfSupervision();
  rig.sim->ClearFrames();
  box->showPopup();
  QAbstractItemView* list = box->view();
  ASSERT_TRUE(WaitUntil([&] { return list->isVisible(); }));
  EXPECT_EQ(list->minimumWidth(), list->sizeHintForColumn(0) + 24);
  list->setCurrentIndex(box->model()->index(2, 0));
  QTest::keyClick(list, Qt::Key_Return);
  frames = rig.SettledFrames(wire::CMD_SET_RANGE_CONFIG);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][wire::rangecfg::kRangeCodes + 1], 2);
  EXPECT_FALSE(list->isVisible());
}

TEST(MainWindowView, TicksCopyOnlyWhatChangedAndBringBackAWidgetTheUserMovedAway) {
  ViewRig rig(sim::Model::Qn6);
  ASSERT_TRUE(rig.WaitIdentified());
  RunEventsFor(200);

  // A widget whose control does not change is left alone by the ticks and the mirroring ...
  QLabel* caption = rig.Find<QLabel>("Label6");
  caption->setText("written elsewhere");
  RunEventsFor(300);
  rig.view->SyncFromModel();
  EXPECT_EQ(caption->text().toStdString(), "written elsewhere");
  // ... and shows its control again as soon as that changes.
  rig.window->form.device_ip_label.caption = "Device  IP: (new)";
  rig.view->SyncFromModel();
  EXPECT_EQ(caption->text().toStdString(), "Device  IP: (new)");

  // A pick that the control does not keep: the box shows the control's item, not the pick.
  ComboBox& sensor = rig.window->form.sensor_type[7];
  sensor.on_change = [&sensor] { sensor.SetItemIndex(0); };
  rig.WaitClearOfSupervision();
  QComboBox* box = rig.Find<QComboBox>("ComboBox13");
  QTest::keyClick(box, Qt::Key_Down);
  RunEventsFor(200);
  EXPECT_EQ(sensor.item_index(), 0);
  EXPECT_EQ(box->currentIndex(), 0);
  EXPECT_EQ(box->currentText().toStdString(), "00:Disable");
}

TEST(MainWindowView, StaticIpTakesTheTypedAddress) {
  ViewRig rig(sim::Model::Qn6);
  ASSERT_TRUE(rig.WaitIdentified());
  QLineEdit* edit = rig.Find<QLineEdit>("Edit2");
  QPushButton* apply = rig.Find<QPushButton>("SpeedButton5");

  edit->selectAll();
  QTest::keyClicks(edit, "127.0.0.x");
  EXPECT_EQ(rig.window->form.device_ip.text, "127.0.0.x");
  QTest::mouseClick(apply, Qt::LeftButton);
  EXPECT_EQ(rig.dialogs.errors, std::vector<std::string>{"'x' is not a valid integer value"});
  EXPECT_EQ(rig.app->link.DeviceHost, "127.0.0.1");

  edit->selectAll();
  QTest::keyClicks(edit, "127.0.0.1");
  rig.sim->ClearFrames();
  QTest::mouseClick(apply, Qt::LeftButton);
  EXPECT_EQ(rig.Text("StatusBar2_Panel0"), "Change IP => 127.0.0.1");
  EXPECT_EQ(rig.Text("Label4"), "");  // the display is reset until the module answers again
  EXPECT_TRUE(WaitUntil([&] { return rig.Text("Label4") == kQn6ModelText; }));
  EXPECT_EQ(rig.FramesWithCode(wire::CMD_GET_DEVICE).size(), 1u);
}

// Readings the last poll did not confirm stay as they were, greyed; the next answered poll shows
// them in the window's colour again.
TEST(MainWindowView, ReadingsTheLastPollDidNotConfirmAreGreyedWithTheirText) {
  WatchRig rig(sim::Model::Qn6);
  rig.Polls(1);
  auto* th0 = rig.view->findChild<QLabel*>("Label28");
  ASSERT_NE(th0, nullptr);
  const auto colour = [&] { return th0->palette().color(QPalette::WindowText); };
  const Rgb navy = rig.window->form.thermistor_value[0].color;
  EXPECT_EQ(colour(), QColor(navy.r, navy.g, navy.b));
  const QString text = th0->text();
  ASSERT_TRUE(text.endsWith(u'\u2103'));

  rig.sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_READ_DATA);
  rig.Polls(1);
  EXPECT_EQ(th0->text(), text);
  EXPECT_EQ(colour(), QColor(150, 150, 150));
  EXPECT_EQ(th0->toolTip(), "Not confirmed by the last poll");
  rig.Polls(2);  // the tick that clears the refused poll, then an answered one
  EXPECT_EQ(colour(), QColor(navy.r, navy.g, navy.b));
  EXPECT_EQ(th0->toolTip(), "");
}

// A failing Wi-Fi check says why under "Device not found!!" and how to go on; it goes away once
// the check passes.
TEST(MainWindowView, AFailingWifiCheckSaysWhyAndHowToGoOn) {
  WatchRig rig(sim::Model::Qn6);
  rig.Polls(1);
  auto* note = rig.view->findChild<QLabel*>("WifiCheckNote");
  ASSERT_NE(note, nullptr);
  EXPECT_FALSE(note->isVisible());
  test::FakeHostInterfaces desk;  // on the module's network by cable only
  desk.adapter_scans = {{{"eth0", "192.168.77.5"}}};
  desk.wireless_scans = {{}};
  rig.hosts.use = &desk;
  rig.Polls(1);
  EXPECT_EQ(rig.window->form.module_state.caption, "Device not found!!");
  EXPECT_TRUE(note->isVisible());
  EXPECT_EQ(note->text().toStdString(),
            "Only a wired interface of this computer is in 192.168.77.x\nWired or routed network: "
            "start with --skip-wifi-check --host 127.0.0.1");
  EXPECT_EQ(note->textFormat(), Qt::PlainText);
  // Its first line ends before the pictures, the second fits below them.
  const QFontMetrics metrics(note->font());
  const QStringList lines = note->text().split(u'\n');
  EXPECT_LE(note->x() + metrics.horizontalAdvance(lines[0]),
            rig.view->findChild<QWidget*>("Image1")->x());
  EXPECT_LE(metrics.horizontalAdvance(lines[1]), note->width());

  rig.hosts.use = &rig.hosts.skip;
  rig.Polls(2);
  EXPECT_FALSE(note->isVisible());
  EXPECT_TRUE(rig.app->device.Identified);
}

}  // namespace
}  // namespace zvk::gui
