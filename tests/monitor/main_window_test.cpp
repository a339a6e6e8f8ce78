// The main window model: start-up, first activation, the timers' guards and the click handlers.
#include "monitor/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "link/exchange.h"
#include "link/wire.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Rig;

TEST(MainWindow, CreatedWithItsControlsInTheirStartStates) {
  Rig rig({.model = std::nullopt});
  rig.window->FormCreate();
  const MainForm& f = rig.form();
  EXPECT_EQ(f.Caption, "zVK-Analog V1.00(20200213)");
  EXPECT_FALSE(f.GroupBox1.visible);
  EXPECT_FALSE(f.GroupBox2.visible);
  EXPECT_EQ(f.Label12.caption, "RSSI:");
  EXPECT_EQ(f.Label12.color, (Rgb{255, 64, 129}));
  EXPECT_EQ(f.Label6.caption, "Device  IP:");
  EXPECT_EQ(f.Image1.hint, "Setup");
  EXPECT_EQ(f.Image2.hint, "Refresh");
  EXPECT_EQ(f.Image3.hint, "Find me");
  EXPECT_EQ(f.SpeedButton5.caption, "Static IP");
  EXPECT_EQ(f.RangeCombo[4].text(), "0:-/+10V");
  EXPECT_TRUE(f.RadioButton1.checked());
  EXPECT_EQ(f.SensorCombo[7].text(), "00:Disable");
  EXPECT_EQ(f.SensorCombo[7].items.size(), 22u);
  EXPECT_EQ(f.SensorCombo[7].items[21], "77:User-defined7 -50\u00B0C ~ 150\u00B0C");
  EXPECT_EQ(f.OffsetSpin[0].min_value, -127);
  EXPECT_EQ(f.ThermistorCaption[7].caption, "TH7");
  EXPECT_EQ(f.AnalogCaption[3].caption, "AI3");
  EXPECT_TRUE(rig.app->discovery.PollingEnabled);
  EXPECT_TRUE(rig.window->Timer3Enabled());
  EXPECT_DOUBLE_EQ(rig.app->meas.RangeTable[2][0], 3.911556659e-05 * 8);
}

TEST(MainWindow, FirstActivationWithoutModuleWarnsOnce) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  rig.fake_hosts->adapter_scans = {{}};
  rig.Start();
  ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
  const test::Box& box = rig.dialogs.boxes[0];
  EXPECT_EQ(box.caption, "Device not found");
  EXPECT_EQ(box.text, "Please check device whether in AP mode!");
  EXPECT_EQ(box.icon, MsgIcon::Warning);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(rig.form().Label4.caption, "Device not found!!");
  EXPECT_EQ(rig.app->link.QueuedCommand, 0);

  rig.window->FormActivate();  // after a modal window closed: nothing happens
  EXPECT_EQ(rig.dialogs.boxes.size(), 1u);
}

TEST(MainWindow, FirstActivationQueuesTheIdentityForTheNextTick) {
  Rig rig;
  App& app = *rig.app;
  app.link.ReplyTimedOut = true;
  app.link.PendingCommand = 48;
  rig.Start();
  EXPECT_FALSE(app.link.ReplyTimedOut);
  EXPECT_EQ(rig.form().Edit2.text, "127.0.0.1");
  EXPECT_EQ(rig.form().StatusBar1.panels[1], "IP: 127.0.0.1");
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
  EXPECT_TRUE(rig.Frames().empty());
  rig.Tick();
  EXPECT_TRUE(app.device.Identified);
  EXPECT_TRUE(rig.form().GroupBox2.visible);
  EXPECT_FALSE(rig.form().GroupBox1.visible);
}

TEST(MainWindow, ClicksAreDroppedWhileTheSupervisionTickIsDue) {
  Rig rig;
  App& app = *rig.app;
  bool setup_shown = false;
  rig.window->show_setup_window = [&] { setup_shown = true; };
  app.discovery.SupervisionTicks = 30;
  rig.form().Image1.UserClick();
  rig.form().Image2.UserClick();
  rig.form().Image3.UserClick();
  EXPECT_FALSE(setup_shown);
  EXPECT_EQ(app.link.QueuedCommand, 0);
  EXPECT_EQ(app.log_lines, std::vector<std::string>{"Boom.."});

  app.discovery.SupervisionTicks = 29;
  app.discovery.PollingEnabled = true;
  rig.form().Image1.UserClick();
  EXPECT_TRUE(setup_shown);
  EXPECT_FALSE(app.discovery.PollingEnabled);
}

TEST(MainWindow, RefreshQueuesTheIdentityAndMovesTheSupervisionTick) {
  Rig rig;
  App& app = *rig.app;
  app.discovery.SupervisionTicks = 29;
  app.link.RetryCount = 2;
  rig.form().Image2.UserClick();
  EXPECT_EQ(app.link.RetryCount, 0);
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_EQ(rig.Frames().size(), 1u);
  EXPECT_EQ(app.discovery.SupervisionTicks, 0);
}

TEST(MainWindow, FindMeSendsTheLocatorOnTheNextTick) {
  Rig rig;
  rig.form().Image3.UserClick();
  rig.Timer3();
  EXPECT_EQ(rig.Frames(),
            (std::vector<std::vector<std::uint8_t>>{{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00}}));
  EXPECT_EQ(rig.app->Status(), "Set Locator done!");
}

TEST(MainWindow, ModelLayoutShowsTheModelsGroupOnly) {
  Rig rig({.model = std::nullopt});
  ApplyModelLayout(rig.form(), wire::kModelKm3);
  EXPECT_TRUE(rig.form().GroupBox1.visible);
  EXPECT_FALSE(rig.form().GroupBox2.visible);
  ApplyModelLayout(rig.form(), wire::kModelQn6);
  EXPECT_FALSE(rig.form().GroupBox1.visible);
  EXPECT_TRUE(rig.form().GroupBox2.visible);
  ApplyModelLayout(rig.form(), 0x42);
  EXPECT_TRUE(rig.form().GroupBox2.visible);
}

TEST(MainWindow, Timer3TickSendsQueuedCommandOrSupervises) {
  Rig rig;
  App& app = *rig.app;
  app.link.RetryCount = 2;
  rig.Timer3(29);
  EXPECT_EQ(app.discovery.SupervisionTicks, 29);
  EXPECT_EQ(app.link.RetryCount, 0);
  rig.Timer3();
  EXPECT_EQ(app.discovery.SupervisionTicks, 30);
  EXPECT_TRUE(rig.Frames().empty());
  rig.Timer3();  // supervision: not identified, so it asks for the identity
  EXPECT_EQ(app.discovery.SupervisionTicks, 0);
  EXPECT_EQ(rig.Frames().size(), 1u);
}

TEST(MainWindow, ErrorEscapingAReplyHandlerLeavesTimer3AndTheLinkUsable) {
  Rig rig;
  App& app = *rig.app;
  app.on_status = [](const std::string& s) {
    if (s == "Set Locator done!") throw std::runtime_error("handler failed");
  };
  QueueCommand(app.link, wire::CMD_SET_LOCATOR);
  EXPECT_THROW(rig.window->Timer3Timer(), std::runtime_error);
  EXPECT_TRUE(rig.window->Timer3Enabled());
  EXPECT_FALSE(app.link.LinkBusy);
}

}  // namespace
}  // namespace zvk
