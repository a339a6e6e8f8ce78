// The main window model: start-up, first activation, the timers' guards and the click handlers.
#include "monitor/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
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
  EXPECT_FALSE(f.analog_group.visible);
  EXPECT_FALSE(f.thermistor_group.visible);
  EXPECT_EQ(f.rssi.caption, "RSSI:");
  EXPECT_EQ(f.rssi.color, (Rgb{255, 64, 129}));
  EXPECT_EQ(f.device_ip_label.caption, "Device  IP:");
  EXPECT_EQ(f.setup_button.hint, "Setup");
  EXPECT_EQ(f.refresh_button.hint, "Refresh");
  EXPECT_EQ(f.find_me_button.hint, "Find me");
  EXPECT_EQ(f.static_ip_button.caption, "Static IP");
  EXPECT_EQ(f.range[4].text(), "0:-/+10V");
  EXPECT_TRUE(f.sampling_normal.checked());
  EXPECT_EQ(f.sensor_type[7].text(), "00:Disable");
  EXPECT_EQ(f.sensor_type[7].items.size(), 22u);
  EXPECT_EQ(f.sensor_type[7].items[21], "77:User-defined7 -50\u00B0C ~ 150\u00B0C");
  EXPECT_EQ(f.offset[0].min_value, -127);
  EXPECT_EQ(f.thermistor_caption[7].caption, "TH7");
  EXPECT_EQ(f.analog_caption[3].caption, "AI3");
  EXPECT_TRUE(rig.app->discovery.PollingEnabled);
  EXPECT_TRUE(rig.window->Timer3Enabled());
  EXPECT_DOUBLE_EQ(rig.app->meas.RangeTable[2][0], 3.911556659e-05 * 8);
}

TEST(MainWindow, FirstActivationWithoutModuleWarnsOnce) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  rig.fake_hosts->adapter_scans = {{}};
  LinkState& link = rig.app->link;
  link.PendingCommand = 48;
  link.RetryCount = 2;
  link.RetryTicks = 17;
  link.ReplyTimedOut = true;
  rig.Start();
  // The link state starts afresh whether or not the module is found.
  EXPECT_EQ(link.PendingCommand, 0);
  EXPECT_EQ(link.RetryCount, 0);
  EXPECT_EQ(link.RetryTicks, 0u);
  EXPECT_FALSE(link.ReplyTimedOut);
  ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
  const test::Box& box = rig.dialogs.boxes[0];
  EXPECT_EQ(box.caption, "Device not found");
  EXPECT_EQ(box.text, "Please check device whether in AP mode!");
  EXPECT_EQ(box.icon, MsgIcon::Warning);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(rig.form().module_state.caption, "Device not found!!");
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
  EXPECT_EQ(rig.form().device_ip.text, "127.0.0.1");
  EXPECT_EQ(rig.form().link_bar.panels[1], "IP: 127.0.0.1");
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
  EXPECT_TRUE(rig.Frames().empty());
  rig.Tick();
  EXPECT_TRUE(app.device.Identified);
  EXPECT_TRUE(rig.form().thermistor_group.visible);
  EXPECT_FALSE(rig.form().analog_group.visible);
}

TEST(MainWindow, ClicksAreDroppedWhileTheSupervisionTickIsDue) {
  Rig rig;
  App& app = *rig.app;
  MainForm& f = rig.form();
  std::vector<std::string> shown;
  rig.window->show_setup_window = [&] { shown.push_back("setup"); };
  rig.window->show_analog_calibration = [&] { shown.push_back("analog"); };
  rig.window->show_thermistor_calibration = [&] { shown.push_back("thermistor"); };
  app.discovery.PollingEnabled = true;
  app.discovery.SupervisionTicks = 30;
  for (Button* b : {&f.setup_button, &f.refresh_button, &f.find_me_button,
                    &f.analog_calibration_button, &f.thermistor_calibration_button})
    b->UserClick();
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(app.discovery.PollingEnabled);
  EXPECT_EQ(app.link.QueuedCommand, 0);
  EXPECT_EQ(app.log_lines, std::vector<std::string>{"Boom.."});

  // One tick earlier each opens its window, with polling paused while it is open.
  app.discovery.SupervisionTicks = 29;
  struct Case {
    Button* button;
    const char* window;
  };
  for (Case c : {Case{&f.setup_button, "setup"}, Case{&f.analog_calibration_button, "analog"},
                 Case{&f.thermistor_calibration_button, "thermistor"}}) {
    app.discovery.PollingEnabled = true;
    shown.clear();
    c.button->UserClick();
    EXPECT_EQ(shown, std::vector<std::string>{c.window});
    EXPECT_FALSE(app.discovery.PollingEnabled) << c.window;
  }
}

TEST(MainWindow, RefreshQueuesTheIdentityAndMovesTheSupervisionTick) {
  Rig rig;
  App& app = *rig.app;
  app.discovery.SupervisionTicks = 29;
  app.link.RetryCount = 2;
  rig.form().refresh_button.UserClick();
  EXPECT_EQ(app.link.RetryCount, 0);
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_EQ(rig.Frames().size(), 1u);
  EXPECT_EQ(app.discovery.SupervisionTicks, 0);
}

TEST(MainWindow, FindMeSendsTheLocatorOnTheNextTick) {
  Rig rig;
  rig.form().find_me_button.UserClick();
  rig.Timer3();
  EXPECT_EQ(rig.Frames(),
            (std::vector<std::vector<std::uint8_t>>{{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00}}));
  EXPECT_EQ(rig.app->Status(), "Set Locator done!");
}

TEST(MainWindow, ModelLayoutShowsTheModelsGroupOnly) {
  Rig rig({.model = std::nullopt});
  ApplyModelLayout(rig.form(), wire::kModelKm3);
  EXPECT_TRUE(rig.form().analog_group.visible);
  EXPECT_FALSE(rig.form().thermistor_group.visible);
  ApplyModelLayout(rig.form(), wire::kModelQn6);
  EXPECT_FALSE(rig.form().analog_group.visible);
  EXPECT_TRUE(rig.form().thermistor_group.visible);
  ApplyModelLayout(rig.form(), 0x42);
  EXPECT_TRUE(rig.form().thermistor_group.visible);
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

TEST(MainWindow, Timer3IsStoppedWhileItsOwnExchangeRuns) {
  Rig rig;
  std::vector<bool> enabled_inside;
  rig.pump.every_call = [&] { enabled_inside.push_back(rig.window->Timer3Enabled()); };
  rig.Start();   // queues the identity request
  rig.Timer3();  // the queue step's exchange
  rig.app->discovery.SupervisionTicks = 30;
  rig.Timer3();  // the supervision step's data poll
  EXPECT_EQ(rig.Frames().size(), 2u);
  ASSERT_FALSE(enabled_inside.empty());
  EXPECT_EQ(std::count(enabled_inside.begin(), enabled_inside.end(), true), 0);
  EXPECT_TRUE(rig.window->Timer3Enabled());
}

TEST(MainWindow, IdentifiedModuleIsPolledEvery31Ticks) {
  Rig rig;
  rig.Start();
  ASSERT_TRUE(rig.TickUntilIdentified());
  rig.sim->ClearFrames();
  std::vector<int> polled_at;
  for (int tick = 1; tick <= 100; ++tick) {
    const std::size_t before = rig.Frames().size();
    rig.Tick();
    if (rig.Frames().size() > before) polled_at.push_back(tick);
  }
  ASSERT_EQ(polled_at.size(), 3u);
  EXPECT_EQ(polled_at[1] - polled_at[0], 31);
  EXPECT_EQ(polled_at[2] - polled_at[1], 31);
  EXPECT_EQ(rig.Frames(),
            (std::vector<std::vector<std::uint8_t>>(3, {0x5A, 0x35, 0x77, 0xA5, 0xD8})));
}

TEST(MainWindow, HiddenLogKeepsTheNewest10000Lines) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  std::vector<std::string> observed;
  app.on_log = [&observed](const std::string& line) { observed.push_back(line); };
  for (int i = 0; i < 10005; ++i) app.Log("line " + std::to_string(i));
  EXPECT_EQ(app.log_lines.size(), 10000u);
  EXPECT_EQ(app.log_lines.front(), "line 5");
  EXPECT_EQ(app.log_lines.back(), "line 10004");
  // Each line reaches the observer whole, moved into the log or copied from the caller's.
  ASSERT_EQ(observed.size(), 10005u);
  EXPECT_EQ(observed.back(), "line 10004");
  const std::string kept = "kept by the caller";
  app.Log(kept);
  EXPECT_EQ(kept, "kept by the caller");
  EXPECT_EQ(observed.back(), kept);
  EXPECT_EQ(app.log_lines.back(), kept);
}

// What a control shows: caption, hint, font colour and whether it is on screen (its own flag and
// that of the channel group it sits in).
struct Shown {
  std::string caption;
  std::string hint;
  std::optional<Rgb> color;
  bool visible = true;
  friend bool operator==(const Shown&, const Shown&) = default;
};

void PrintTo(const Shown& s, std::ostream* os) {
  *os << '"' << s.caption << "\" hint \"" << s.hint << "\" ";
  if (s.color) *os << "rgb " << int{s.color->r} << "," << int{s.color->g} << "," << int{s.color->b};
  *os << (s.visible ? " visible" : " hidden");
}

Shown Of(const Label& l, bool group_visible) {
  return {l.caption, "", l.color, l.visible && group_visible};
}
Shown Of(const GroupBox& g, bool group_visible) {
  return {g.caption, "", std::nullopt, g.visible && group_visible};
}
Shown Of(const Button& b, bool group_visible) {
  return {b.caption, b.hint, std::nullopt, group_visible};
}
Shown Of(const RadioButton& r, bool group_visible) {
  return {r.caption, "", std::nullopt, group_visible};
}

TEST(MainWindow, ControlTablePerModel) {
  enum class In { Window, Voltage, Thermistor };
  struct Row {
    std::string name;
    In in;
    std::function<Shown(const MainForm&, bool)> shown;
    Shown expected;  // as shown when its group is on screen
  };
  auto label = [](const Label MainForm::*l) {
    return [l](const MainForm& f, bool g) { return Of(f.*l, g); };
  };
  auto group = [](const GroupBox MainForm::*b) {
    return [b](const MainForm& f, bool g) { return Of(f.*b, g); };
  };
  auto button = [](const Button MainForm::*b) {
    return [b](const MainForm& f, bool g) { return Of(f.*b, g); };
  };
  const Rgb navy{0, 0, 128}, red{255, 0, 0}, pink{255, 64, 129};
  std::vector<Row> rows = {
      {"GroupBox3", In::Window, group(&MainForm::status_group), {"Status"}},
      {"Label4", In::Window, label(&MainForm::module_state), {"", "", red}},
      {"Label5", In::Window, label(&MainForm::location_text), {"", "", navy}},
      {"Label12", In::Window, label(&MainForm::rssi), {"RSSI:", "", pink}},
      {"Label6", In::Window, label(&MainForm::device_ip_label), {"Device  IP:", "", kBlack}},
      {"SpeedButton5", In::Window, button(&MainForm::static_ip_button), {"Static IP"}},
      {"Image1", In::Window, button(&MainForm::setup_button), {"", "Setup"}},
      {"Image2", In::Window, button(&MainForm::refresh_button), {"", "Refresh"}},
      {"Image3", In::Window, button(&MainForm::find_me_button), {"", "Find me"}},
      {"GroupBox1", In::Voltage, group(&MainForm::analog_group), {""}},
      {"Label14", In::Voltage, label(&MainForm::analog_title), {"Analog Input", "", kBlack}},
      {"Label21",
       In::Voltage,
       label(&MainForm::sampling_rate_label),
       {"Sampling Rate:", "", kBlack}},
      {"RadioButton1",
       In::Voltage,
       [](const MainForm& f, bool g) { return Of(f.sampling_normal, g); },
       {"Normal"}},
      {"RadioButton2",
       In::Voltage,
       [](const MainForm& f, bool g) { return Of(f.sampling_fast, g); },
       {"Fast"}},
      {"SpeedButton1", In::Voltage, button(&MainForm::analog_calibration_button), {"Cal."}},
      {"GroupBox2", In::Thermistor, group(&MainForm::thermistor_group), {""}},
      {"Label27",
       In::Thermistor,
       label(&MainForm::thermistor_title),
       {"Thermistor Input", "", kBlack}},
      {"GroupBox4", In::Thermistor, group(&MainForm::sensor_type_group), {"Sensor Type"}},
      {"GroupBox5", In::Thermistor, group(&MainForm::fahrenheit_group), {"\u2109"}},
      {"GroupBox6", In::Thermistor, group(&MainForm::offset_group), {"Offset"}},
      {"Label36", In::Thermistor, label(&MainForm::offset_unit), {"x 0.1\u00B0", "", red}},
      {"SpeedButton2",
       In::Thermistor,
       button(&MainForm::thermistor_calibration_button),
       {"Cal./User Define"}},
  };
  static constexpr const char* kAnalog[5] = {"AI0", "AI1", "AI2", "AI3", "AI4"};
  for (std::size_t ch = 0; ch < 5; ++ch) {
    rows.push_back({kAnalog[ch],
                    In::Voltage,
                    [ch](const MainForm& f, bool g) { return Of(f.analog_caption[ch], g); },
                    {kAnalog[ch], "", kBlack}});
    rows.push_back({std::string("value of ") + kAnalog[ch],
                    In::Voltage,
                    [ch](const MainForm& f, bool g) { return Of(f.analog_value[ch], g); },
                    {"0", "", navy}});
  }
  for (std::size_t ch = 0; ch < 8; ++ch) {
    const std::string name = "TH" + std::to_string(ch);
    rows.push_back({name,
                    In::Thermistor,
                    [ch](const MainForm& f, bool g) { return Of(f.thermistor_caption[ch], g); },
                    {name, "", kBlack}});
    rows.push_back({"value of " + name,
                    In::Thermistor,
                    [ch](const MainForm& f, bool g) { return Of(f.thermistor_value[ch], g); },
                    {"0", "", navy}});
  }

  for (std::uint8_t model : {std::uint8_t{0}, wire::kModelKm3, wire::kModelQn6}) {
    SCOPED_TRACE("model " + std::to_string(model));
    Rig rig({.model = std::nullopt});
    rig.window->FormCreate();
    ApplyModelLayout(rig.form(), model);
    const MainForm& f = rig.form();
    for (const Row& row : rows) {
      const bool group_visible = row.in == In::Window ||
                                 (row.in == In::Voltage && f.analog_group.visible) ||
                                 (row.in == In::Thermistor && f.thermistor_group.visible);
      Shown expected = row.expected;
      expected.visible = row.in == In::Window ||
                         (row.in == In::Voltage && model == wire::kModelKm3) ||
                         (row.in == In::Thermistor && model == wire::kModelQn6);
      EXPECT_EQ(row.shown(f, group_visible), expected) << row.name;
    }
    EXPECT_EQ(f.Caption, "zVK-Analog V1.00(20200213)");
    EXPECT_TRUE(f.module_state.bold);
    EXPECT_TRUE(f.location_text.bold);
    for (const StatusBar* bar : {&f.link_bar, &f.status_bar}) {
      EXPECT_EQ(bar->widths[0], 300);
      EXPECT_EQ(bar->widths[1], 200);
    }
  }
}

}  // namespace
}  // namespace zvk
