// Channel settings sent from the main window's controls, and the controls following what the
// module reports without echoing it back.
#include "monitor/channel_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "link/dispatcher.h"
#include "link/wire.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Rig;
using Bytes = std::vector<std::uint8_t>;

// A rig whose module has been identified, with the frames of the identification forgotten.
struct Identified {
  explicit Identified(sim::Model model) : rig({.model = model}), app(*rig.app), f(rig.form()) {
    rig.Start();
    EXPECT_TRUE(rig.TickUntilIdentified());
    rig.sim->ClearFrames();
    app.discovery.SupervisionTicks = 0;
  }
  Rig rig;
  App& app;
  MainForm& f;
};

Bytes Header(std::uint8_t code) {
  return {0x5A, 0x35, 0x77, 0xA5, code};
}

TEST(RangeConfig, PickingARangeSendsTheWholeAnalogSetting) {
  Identified m(sim::Model::Km3);
  m.f.range[1].UserPick(2);
  Bytes expected = Header(0xD6);
  expected.insert(expected.end(), {0, 0, 2, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(m.rig.Frames(), std::vector<Bytes>{expected});
  EXPECT_EQ(m.app.link.PendingCommand, 0);
  const auto& log = m.app.log_lines;
  EXPECT_EQ(log.back(), "Set_Range_Cfg Done!!");
  EXPECT_EQ(m.rig.sim->Snapshot().range_codes[1], 2);
}

TEST(RangeConfig, FastSendsTheRangesShownAtThatMoment) {
  Identified m(sim::Model::Km3);
  m.f.range[0].SetItemIndex(3);  // shown, not yet sent
  m.f.range[4].SetItemIndex(1);
  m.f.sampling_fast.UserClick();
  Bytes expected = Header(0xD6);
  expected.insert(expected.end(), {1, 3, 0, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(m.rig.Frames(), std::vector<Bytes>{expected});
}

TEST(RangeConfig, ChangesAreDroppedWhileTheSupervisionTickIsDue) {
  Identified m(sim::Model::Km3);
  m.app.discovery.SupervisionTicks = 30;
  m.f.range[2].UserPick(1);
  m.f.sampling_fast.UserClick();
  EXPECT_TRUE(m.rig.Frames().empty());
  // The next reply puts the controls back to what the module reports.
  m.rig.Timer3();
  EXPECT_EQ(m.f.range[2].text(), "0:-/+10V");
  EXPECT_TRUE(m.f.sampling_normal.checked());
  EXPECT_EQ(m.rig.Frames().size(), 1u);  // the poll only
}

TEST(RangeConfig, TypedTextThatIsNoNumberShowsTheConversionErrorAndSendsNothing) {
  Identified m(sim::Model::Km3);
  m.f.range[0].UserType("x:-/+10V");
  EXPECT_EQ(m.rig.dialogs.errors, std::vector<std::string>{"'x' is not a valid integer value"});
  EXPECT_TRUE(m.rig.Frames().empty());
  // The next report selects the module's item again, whatever the box holds.
  m.app.discovery.SupervisionTicks = 30;
  m.rig.Timer3();
  EXPECT_EQ(m.f.range[0].text(), "0:-/+10V");
}

TEST(ThermistorConfig, SensorTypeFahrenheitAndOffsetGoOutInOneFrame) {
  Identified m(sim::Model::Qn6);
  const sim::State before = m.rig.sim->Snapshot();
  m.app.discovery.SupervisionTicks = 17;
  m.f.sensor_type[3].UserPick(13);  // "6C:YSI H Mix 30000 @25°C -10°C ~ 200°C"
  ASSERT_EQ(m.rig.Frames().size(), 1u);
  Bytes expected = Header(0xD7);
  for (int ch = 0; ch < 8; ++ch) expected.push_back(ch == 3 ? 0x6C : before.sensor_types[ch]);
  for (int ch = 0; ch < 8; ++ch) expected.push_back(before.fahrenheit[ch]);
  for (int ch = 0; ch < 8; ++ch) expected.push_back(static_cast<std::uint8_t>(before.offsets[ch]));
  EXPECT_EQ(m.rig.Frames()[0], expected);
  EXPECT_EQ(m.rig.Frames()[0].size(), 29u);
  EXPECT_EQ(m.app.discovery.SupervisionTicks, 0);  // the next poll a full period later
  // The reply is a data block: the new setting shows at once and nothing is echoed.
  EXPECT_EQ(m.f.sensor_type[3].item_index(), 13);
  EXPECT_EQ(m.app.link.PendingCommand, 0);

  m.rig.sim->ClearFrames();
  m.f.offset[5].UserSetValue(-127);
  ASSERT_EQ(m.rig.Frames().size(), 1u);
  EXPECT_EQ(m.rig.Frames()[0][wire::thcfg::kOffsets + 5], 0x81);
  EXPECT_EQ(m.f.offset[5].value(), -127);
}

TEST(ThermistorConfig, ReportOfTheSameSettingsSendsNothing) {
  Identified m(sim::Model::Qn6);
  m.app.discovery.SupervisionTicks = 30;
  m.rig.Timer3();
  EXPECT_EQ(m.rig.Frames(), std::vector<Bytes>{Header(0xD8)});
}

TEST(ThermistorConfig, ClickWhileACommandIsPendingIsRestoredByTheNextReply) {
  Identified m(sim::Model::Qn6);
  const bool was = m.f.fahrenheit[2].checked();
  m.app.link.PendingCommand = wire::CMD_SET_WIFI_MODE;
  m.app.discovery.SupervisionTicks = 17;
  m.f.fahrenheit[2].UserClick();
  EXPECT_EQ(m.app.meas.Fahrenheit[2], was ? 0 : 1);
  EXPECT_TRUE(m.rig.Frames().empty());
  EXPECT_EQ(m.app.discovery.SupervisionTicks, 17);  // nothing sent: the counter is left alone
  m.app.link.PendingCommand = 0;
  m.app.discovery.SupervisionTicks = 30;
  m.rig.Timer3();  // the poll's reply restores box and flag, and sends nothing back
  EXPECT_EQ(m.f.fahrenheit[2].checked(), was);
  EXPECT_EQ(m.app.meas.Fahrenheit[2], was ? 1 : 0);
  EXPECT_EQ(m.rig.Frames(), std::vector<Bytes>{Header(0xD8)});
}

TEST(ThermistorConfig, UnlistedReportedTypesSelectDisableAndTypedCodesGoOutUnchanged) {
  Identified m(sim::Model::Qn6);
  m.rig.sim->SetSensorType(1, 0x78);
  m.rig.sim->SetSensorType(2, 0x6D);
  m.app.discovery.SupervisionTicks = 30;
  m.rig.Timer3();
  EXPECT_EQ(m.f.sensor_type[1].text(), "00:Disable");
  EXPECT_EQ(m.f.sensor_type[2].text(), "00:Disable");
  EXPECT_EQ(m.f.thermistor_value[1].caption, "Disable");

  m.rig.sim->ClearFrames();
  m.f.sensor_type[6].UserType("7F");
  ASSERT_EQ(m.rig.Frames().size(), 1u);
  EXPECT_EQ(m.rig.Frames()[0][wire::thcfg::kSensorTypes + 6], 0x7F);

  m.rig.sim->ClearFrames();
  m.f.sensor_type[6].UserType("Q1:nothing");
  EXPECT_EQ(m.rig.dialogs.errors.back(), "'0xQ1' is not a valid integer value");
  EXPECT_TRUE(m.rig.Frames().empty());
}

TEST(ChannelConfig, NothingIsSentWhenTheConnectionCheckFails) {
  struct Case {
    sim::Model model;
    std::function<void(MainForm&)> change;
  };
  const Case cases[] = {
      {sim::Model::Km3, [](MainForm& f) { f.range[1].UserPick(2); }},
      {sim::Model::Km3, [](MainForm& f) { f.sampling_fast.UserClick(); }},
      {sim::Model::Qn6, [](MainForm& f) { f.fahrenheit[0].UserClick(); }},
      {sim::Model::Qn6, [](MainForm& f) { f.offset[1].UserSetValue(7); }},
  };
  for (const Case& c : cases) {
    Rig rig({.model = c.model, .skip_wifi_check = false});
    rig.Start();
    ASSERT_TRUE(rig.TickUntilIdentified());
    rig.sim->ClearFrames();
    rig.app->discovery.SupervisionTicks = 0;
    rig.fake_hosts->adapter_scans = {{}};  // the Wi-Fi connection is gone
    c.change(rig.form());
    EXPECT_TRUE(rig.Frames().empty());
    EXPECT_EQ(rig.form().module_state.caption, "Device not found!!");
    EXPECT_FALSE(rig.app->device.Identified);
  }
}

TEST(SpinEdit, KeepsItsValueWithinTheLimitsAsTheToolkitDoes) {
  struct Case {
    int set;
    int value;
  };
  for (Case c :
       {Case{-128, -127}, Case{-127, -127}, Case{127, 127}, Case{128, 127}, Case{-5, -5}}) {
    SpinEdit spin;
    spin.min_value = -127;
    spin.max_value = 127;
    int changes = 0;
    spin.on_change = [&changes] { ++changes; };
    spin.SetValue(c.set);
    EXPECT_EQ(spin.value(), c.value) << c.set;
    EXPECT_EQ(spin.text(), std::to_string(c.value)) << c.set;
    EXPECT_EQ(changes, 1) << c.set;
    spin.SetValue(c.set);  // the same report again: no change, no event
    EXPECT_EQ(changes, 1) << c.set;
  }
}

TEST(ThermistorConfig, ReportedOffsetOfMinus128ShowsTheLimitAndSendsNothing) {
  Identified m(sim::Model::Qn6);
  // A data block whose TH4 offset is 0x80, as the module may report it.
  auto reply = m.rig.sim->BuildReply({0x5A, 0x35, 0x77, 0xA5, 0xD8});
  reply[wire::data::kQn6Offsets + 4] = 0x80;
  for (int poll = 0; poll < 2; ++poll) {
    std::copy(reply.begin(), reply.end(), m.app.link.ReplyBuffer.begin());
    m.app.link.PendingCommand = wire::CMD_READ_DATA;
    m.app.link.LinkBusy = true;
    DispatchReply(m.app.link, static_cast<std::uint32_t>(reply.size()));
    m.app.link.LinkBusy = false;
    EXPECT_EQ(m.f.offset[4].value(), -127);
  }
  EXPECT_TRUE(m.rig.Frames().empty());
}

TEST(ChannelCodes, TextsAndItemsMapBothWays) {
  EXPECT_EQ(RangeCodeOfText("2:-/+2.5V"), 2);
  EXPECT_EQ(RangeCodeOfText(""), std::nullopt);
  EXPECT_EQ(RangeCodeOfText("-1"), std::nullopt);
  EXPECT_EQ(SensorCodeOfText("6A:YSI B Mix 10000 @25\u00B0C -30\u00B0C ~ 150\u00B0C"), 0x6A);
  EXPECT_EQ(SensorCodeOfText("00:Disable"), 0);
  EXPECT_EQ(SensorCodeOfText("6"), 6);
  EXPECT_EQ(SensorCodeOfText("-1"), std::nullopt);
  const std::pair<std::uint8_t, int> items[] = {{0x00, 0},  {0x5F, 0}, {0x60, 1},
                                                {0x6C, 13}, {0x6D, 0}, {0x70, 14},
                                                {0x77, 21}, {0x78, 0}, {0xFF, 0}};
  for (auto [code, index] : items) EXPECT_EQ(SensorItemIndex(code), index) << int{code};
}

}  // namespace
}  // namespace zvk
