// The setup window on screen: opened modally from the main window's setup button, bound to its
// model, writing to the simulated module on loopback.
#include "gui/setup_window_view.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <utility>

#include "admin/firmware.h"
#include "app/system.h"
#include "gui/main_window_view.h"
#include "gui/qt_seams.h"
#include "link/wire.h"
#include "scripted_file_dialog.h"
#include "sim/simulator.h"
#include "support/test_seams.h"

namespace zvk::gui {
namespace {

bool WaitFor(const std::function<bool()>& done, int timeout_ms = 5000) {
  QDeadlineTimer deadline(timeout_ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

// Runs `script` inside the dialog's own event loop, once the dialog is up.
void WhenShown(QDialog& dialog, const std::function<void()>& script) {
  QTimer::singleShot(0, &dialog, [&dialog, script] {
    if (dialog.isVisible()) {
      script();
    } else {
      WhenShown(dialog, script);
    }
  });
}

// The program's two windows over a simulated thermistor module, wired as the program wires them.
struct Program {
  Program() {
    sim = std::make_unique<sim::Simulator>(sim::Options{});
    sim->Start();
    system = std::make_unique<System>(Seams{network, pump, sleeper, hosts, dialogs});
    App& app = system->app;
    app.link.DeviceHost = "127.0.0.1";
    app.link.DevicePort = sim->Port();
    system->main_window.FormCreate();
    main = std::make_unique<MainWindowView>(app, system->main_window);
    setup = std::make_unique<SetupWindowView>(app, system->setup_window, main.get());
    system->main_window.show_setup_window = [this] { setup->Exec(); };
    setup->after_event = [this] { main->SyncFromModel(); };
    pump.before_events = [this] {
      main->SyncFromModel();
      setup->SyncFromModel();
    };
    main->show();
    main->Start();
  }
  ~Program() {
    setup.reset();
    main.reset();
    system.reset();
    sim->Stop();
  }
  template <typename W>
  W* InSetup(const char* name) const {
    W* widget = setup->findChild<W*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no widget " << name;
    return widget;
  }

  test::LoopbackOnlyNetwork network;
  QtEventPump pump;
  test::RecordingSleeper sleeper;
  SkipWifiCheckInterfaces hosts;
  test::RecordingDialogs dialogs;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<System> system;
  std::unique_ptr<MainWindowView> main;
  std::unique_ptr<SetupWindowView> setup;
};

TEST(SetupWindowView, SetupButtonOpensItAndANewLocationReachesTheModule) {
  Program p;
  App& app = p.system->app;
  ASSERT_TRUE(WaitFor([&] { return app.device.Identified; }));
  ASSERT_TRUE(WaitFor([&] { return app.discovery.SupervisionTicks <= 20; }));

  bool scripted = false;
  WhenShown(*p.setup, [&] {
    scripted = true;
    EXPECT_TRUE(p.setup->isVisible());
    EXPECT_EQ(p.setup->windowTitle(), "zVK.Setup");
    EXPECT_FALSE(app.discovery.PollingEnabled);
    QLineEdit* location = p.InSetup<QLineEdit>("Edit5");
    EXPECT_EQ(location->text(), "Lab bench 1");
    EXPECT_EQ(p.InSetup<QLineEdit>("Edit1")->text(), "zVK-Analog-0001");
    EXPECT_TRUE(p.InSetup<QRadioButton>("RadioButton6")->isChecked());
    EXPECT_FALSE(p.InSetup<QLineEdit>("Edit8")->isEnabled());
    location->selectAll();
    QTest::keyClicks(location, "Boiler room");
    QTest::mouseClick(p.InSetup<QToolButton>("Image6"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return p.sim->File("/local/locate.cfg").has_value(); }));
    const QProgressBar* gauge = p.InSetup<QProgressBar>("CGauge1");
    EXPECT_EQ(gauge->maximum(), 11);
    EXPECT_EQ(gauge->value(), 11);
    EXPECT_TRUE(gauge->styleSheet().contains("rgb(255, 0, 0)"));
    // The main window's status line is behind the modal window: its texts show here too.
    const QLabel* status = p.InSetup<QLabel>("StatusLine");
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), "Transfer Length => 11");
    p.setup->reject();
  });
  QTest::mouseClick(p.main->findChild<QToolButton*>("Image1"), Qt::LeftButton);

  EXPECT_TRUE(scripted);
  EXPECT_FALSE(p.setup->isVisible());
  const auto file = p.sim->File("/local/locate.cfg");
  EXPECT_EQ(file,
            (std::vector<std::uint8_t>{'B', 'o', 'i', 'l', 'e', 'r', ' ', 'r', 'o', 'o', 'm'}));
  ASSERT_GE(p.dialogs.boxes.size(), 2u);
  EXPECT_EQ(p.dialogs.boxes.back().text,
            "Location string write complete,\n    . Manual Reboot to take effect!");
  EXPECT_TRUE(p.dialogs.errors.empty());
  // Closing hands polling back and asks the module to describe itself again.
  EXPECT_TRUE(app.discovery.PollingEnabled);
  EXPECT_TRUE(WaitFor(
      [&] { return p.main->findChild<QLabel*>("Label5")->text() == "Locate: Lab bench 1"; }));
}

// Each "Key Type:" label ends, text included, before its first radio button begins.
TEST(SetupWindowView, KeyTypeLabelsKeepClearOfTheirRadioButtons) {
  Program p;
  for (const auto& [label_name, radio_name] :
       {std::pair{"Label3", "RadioButton1"}, std::pair{"Label5", "RadioButton3"}}) {
    SCOPED_TRACE(label_name);
    const QLabel* label = p.InSetup<QLabel>(label_name);
    const QRadioButton* radio = p.InSetup<QRadioButton>(radio_name);
    const int text_end = label->x() + label->fontMetrics().horizontalAdvance(label->text());
    EXPECT_LT(label->geometry().right(), radio->x());
    EXPECT_GE(radio->x() - text_end, 4);
  }
}

TEST(SetupWindowView, AnErrorEscapingAnActionIsShownAndTheWindowGoesOn) {
  Program p;
  App& app = p.system->app;
  ASSERT_TRUE(WaitFor([&] { return app.device.Identified; }));
  ASSERT_TRUE(WaitFor([&] { return app.discovery.SupervisionTicks <= 20; }));
  WhenShown(*p.setup, [&] {
    p.sim->Stop();  // gone after the question
    QTest::mouseClick(p.InSetup<QToolButton>("Image6"), Qt::LeftButton);
    EXPECT_EQ(p.dialogs.errors,
              std::vector<std::string>{"File /local/locate.cfg not sent: Connect Timeout"});
    EXPECT_TRUE(p.setup->isVisible());
    p.setup->reject();
  });
  QTest::mouseClick(p.main->findChild<QToolButton*>("Image1"), Qt::LeftButton);
  EXPECT_EQ(p.dialogs.boxes.back().caption, "Confirm");
}

// The user sees what the module did not take, never "write complete".
TEST(SetupWindowView, AStepTheModuleRefusedIsShownInsteadOfSuccess) {
  Program p;
  App& app = p.system->app;
  ASSERT_TRUE(WaitFor([&] { return app.device.Identified; }));
  ASSERT_TRUE(WaitFor([&] { return app.discovery.SupervisionTicks <= 20; }));
  WhenShown(*p.setup, [&] {
    p.sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_WRITE_FILE);
    QTest::mouseClick(p.InSetup<QToolButton>("Image6"), Qt::LeftButton);
    p.sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_SET_WEB_KEY);
    QLineEdit* key = p.InSetup<QLineEdit>("Edit6");
    QTest::keyClicks(key, "abc");
    QTest::mouseClick(p.InSetup<QToolButton>("Image5"), Qt::LeftButton);
    p.setup->reject();
  });
  QTest::mouseClick(p.main->findChild<QToolButton*>("Image1"), Qt::LeftButton);
  EXPECT_EQ(p.dialogs.errors,
            std::vector<std::string>{"File /local/locate.cfg not written: its announce was not "
                                     "acknowledged, the module refused it (status 0x15); the "
                                     "content was not sent"});
  ASSERT_FALSE(p.dialogs.boxes.empty());
  EXPECT_EQ(p.dialogs.boxes.back().caption, "Error");
  EXPECT_EQ(p.dialogs.boxes.back().text,
            "WEB Key not acknowledged,\n    . the module refused it (status 0x15)");
  for (const test::Box& box : p.dialogs.boxes)
    EXPECT_EQ(box.text.find("write complete"), std::string::npos) << box.text;
}

TEST(SetupWindowView, FirmwareButtonUpdatesTheModuleWithTheFileChosenInTheDialog) {
  Program p;
  App& app = p.system->app;
  ASSERT_TRUE(WaitFor([&] { return app.device.Identified; }));
  ASSERT_TRUE(WaitFor([&] { return app.discovery.SupervisionTicks <= 20; }));
  QTemporaryDir dir;
  const QString image_path = dir.filePath(QStringLiteral("app.bin"));
  std::vector<std::uint8_t> image(3000, 1);  // sums to 4660
  std::fill_n(image.begin(), 1660, 2);
  {
    QFile file(image_path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
  }
  // The program's own file dialog, answered as a user would.
  QtDialogs qt_dialogs;
  p.dialogs.open_file = [&](const std::string& filter) { return qt_dialogs.OpenFile(filter); };
  std::size_t frames_before = 0;
  // The waits stand for the module's time: the header is taken before the image comes, and the
  // image before the final command.
  p.sleeper.on_sleep = [&](int) {
    if (p.sleeper.sleeps.size() == 1)
      p.sim->WaitForFrames(frames_before + 1, std::chrono::seconds(5));
    else
      p.sim->WaitForStreams(1, std::chrono::seconds(5));
  };
  const QProgressBar* gauge = p.InSetup<QProgressBar>("CGauge1");
  std::vector<int> gauge_shown;  // at each repaint during the image
  app.repaint_main_window = [&] {
    p.setup->SyncFromModel();
    gauge_shown.push_back(gauge->value());
  };

  bool scripted = false;
  QTimer::singleShot(0, p.setup.get(), [&] {
    scripted = true;
    // However the checks end, the window closes and the test goes on.
    const std::unique_ptr<SetupWindowView, void (*)(SetupWindowView*)> close(
        p.setup.get(), [](SetupWindowView* w) { w->reject(); });
    frames_before = p.sim->Frames().size();
    AnswerNextFileDialog([&](QFileDialog& d) { ChooseFile(d, image_path); });
    QTest::mouseClick(p.InSetup<QToolButton>("Image1"), Qt::LeftButton);

    ASSERT_EQ(p.dialogs.boxes.size(), 2u);
    EXPECT_EQ(p.dialogs.boxes[0].text, kUpdateQuestion);
    EXPECT_EQ(p.dialogs.boxes[1].caption, kUpdateComplete);
    EXPECT_EQ(gauge_shown, (std::vector<int>{0, 1976}));
    EXPECT_EQ(gauge->maximum(), 1976);
    EXPECT_EQ(gauge->value(), 1976);
    EXPECT_TRUE(gauge->styleSheet().contains("rgb(255, 0, 0)"));
    EXPECT_EQ(p.sim->File("/sys/mcuimg.bin"), image);
    // The checksum request, then the reboot on its own connection.
    EXPECT_TRUE(p.sim->WaitForFrames(frames_before + 3, std::chrono::seconds(2)));
    const auto frames = p.sim->Frames();
    ASSERT_GE(frames.size(), frames_before + 3);
    EXPECT_EQ(frames[frames_before + 1],
              (std::vector<std::uint8_t>{0x5A, 0x35, 0x77, 0xA5, 0x25, 0, 0, 0x12, 0x34}));
    EXPECT_EQ(frames[frames_before + 2], (std::vector<std::uint8_t>{0x5A, 0x35, 0x77, 0xA5, 0x2D}));
  });
  QTest::mouseClick(p.main->findChild<QToolButton*>("Image1"), Qt::LeftButton);
  EXPECT_TRUE(scripted);
  EXPECT_EQ(p.sleeper.sleeps, (std::vector<int>{2500, 2000}));
  EXPECT_TRUE(p.dialogs.errors.empty());
}

}  // namespace
}  // namespace zvk::gui
