// The calibration windows on screen: opened modally from the main window's buttons, running their
// main action against the simulator on loopback, and handing the poll back when closed.
#include "gui/calibration_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/system.h"
#include "gui/gui_test_wait.h"
#include "gui/main_window_view.h"
#include "gui/qt_seams.h"
#include "link/wire.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"
#include "util/byte_order.h"

namespace zvk::gui {
namespace {

class CalibrationRig {
 public:
  explicit CalibrationRig(sim::Model model) {
    sim::Options options;
    options.model = model;
    sim = std::make_unique<sim::Simulator>(options);
    sim->Start();
    sleeper.on_sleep = [this](int) { test::WaitForAnnouncedContent(*sim); };
    system = std::make_unique<System>(Seams{network, pump, sleeper, hosts, dialogs});
    App& app = system->app;
    app.link.DeviceHost = "127.0.0.1";
    app.link.DevicePort = sim->Port();
    system->main_window.FormCreate();
    view = std::make_unique<MainWindowView>(app, system->main_window);
    calibration =
        std::make_unique<CalibrationDialogs>(*system, *view, [this] { view->SyncFromModel(); });
    pump.before_events = [this] {
      view->SyncFromModel();
      calibration->SyncFromModel();
    };
    view->show();
    view->Start();
  }
  ~CalibrationRig() {
    calibration.reset();
    view.reset();
    system.reset();
    sim->Stop();
  }

  // Clicks a main window button that opens a modal window, runs `inside` in that window's event
  // loop, and closes the window. False when the window did not open.
  bool OpenAndRun(const char* button, const std::function<void(QDialog&)>& inside) {
    EXPECT_TRUE(WaitUntil([this] {
      return system->app.device.Identified && system->app.discovery.SupervisionTicks <= 20;
    }));
    bool opened = false;
    QTimer::singleShot(0, view.get(), [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      opened = true;
      inside(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    QTest::mouseClick(view->findChild<QPushButton*>(button), Qt::LeftButton);
    return opened;
  }

  test::LoopbackOnlyNetwork network;
  QtEventPump pump;
  test::RecordingSleeper sleeper;
  SkipWifiCheckInterfaces hosts;
  test::RecordingDialogs dialogs;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<System> system;
  std::unique_ptr<MainWindowView> view;
  std::unique_ptr<CalibrationDialogs> calibration;
};

template <typename W>
W* Child(QWidget& parent, const char* name) {
  W* widget = parent.findChild<W*>(QString::fromLatin1(name));
  if (!widget) ADD_FAILURE() << "no widget " << name;
  return widget;
}

TEST(CalibrationDialogs, AnalogWindowCalibratesAChannelWiredToVref) {
  CalibrationRig rig(sim::Model::Km3);
  rig.sim->WireToVref(2, true);
  const bool opened = rig.OpenAndRun("SpeedButton1", [&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Analog Calibration");
    EXPECT_EQ(Child<QLabel>(dialog, "Label5")->text(), "AI2:");
    EXPECT_FALSE(rig.system->app.discovery.PollingEnabled);
    // Closed while the calibration asks its question: the window stays until it has run.
    rig.dialogs.on_box = [&] {
      dialog.reject();
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_FALSE(rig.system->app.discovery.PollingEnabled);
    };
    QTest::mouseClick(Child<QPushButton>(dialog, "SpeedButton3"), Qt::LeftButton);
    EXPECT_EQ(Child<QLabel>(dialog, "Label6")->text(), "Calibration Done!");
    EXPECT_TRUE(Child<QPushButton>(dialog, "SpeedButton3")->isEnabled());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(rig.system->app.discovery.PollingEnabled);
  });
  ASSERT_TRUE(opened);
  EXPECT_TRUE(rig.system->app.discovery.PollingEnabled);
  const auto file = rig.sim->File(wire::kAnalogRefFile);
  ASSERT_TRUE(file);
  EXPECT_DOUBLE_EQ(GetLeDouble(file->data() + 96), 2.500001376 / 31957 / 2.0);
  EXPECT_EQ(rig.sim->Frames().back()[wire::kReplyCode], wire::CMD_RELOAD_AD_REF);
}

TEST(CalibrationDialogs, ThermistorWindowSavesTypedPoints) {
  CalibrationRig rig(sim::Model::Qn6);
  const bool opened = rig.OpenAndRun("SpeedButton2", [&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Thermistor Calibration/User Define");
    const char* edits[] = {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6"};
    const char* typed[] = {"100", "25", "0", "680", "10000", "32650"};
    for (int i = 0; i < 6; ++i) {
      QLineEdit* edit = Child<QLineEdit>(dialog, edits[i]);
      edit->selectAll();
      QTest::keyClicks(edit, typed[i]);
    }
    QTest::mouseClick(Child<QPushButton>(dialog, "SpeedButton2"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(dialog, "SpeedButton1"), Qt::LeftButton);
    EXPECT_EQ(Child<QLabel>(dialog, "Label2")->text(), "Reference calibration. Done!");
  });
  ASSERT_TRUE(opened);
  EXPECT_TRUE(rig.system->app.discovery.PollingEnabled);
  const auto file = rig.sim->File(wire::kUserCurveFile);
  ASSERT_TRUE(file);
  EXPECT_EQ(GetLe16(file->data()), 100);
  EXPECT_EQ(GetLe32(file->data() + 112), 326500u);
  EXPECT_NEAR(rig.system->app.sensors[13].A, 1.125294e-03, 1e-9);
  EXPECT_TRUE(rig.dialogs.errors.empty());
}

}  // namespace
}  // namespace zvk::gui
