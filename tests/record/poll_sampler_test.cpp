// The sampler: one sample after every supervision tick, from what the main window shows, and no
// traffic of its own.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "link/wire.h"
#include "record/sample.h"
#include "support/rig.h"
#include "util/format_fixed.h"

namespace zvk {
namespace {

using test::Rig;

struct Sampled {
  Rig rig;
  std::vector<Sample> samples;
  TimePoint now = TimePoint(std::chrono::seconds(1'780'000'000));
  PollSampler sampler{*rig.app, rig.form(), [this] { return now; },
                      [this](const Sample& s) { samples.push_back(s); }};

  explicit Sampled(sim::Model model) : rig({.model = model}) {}
  // The supervision tick that comes every 3.1 s.
  void SupervisionTick() {
    rig.app->discovery.SupervisionTicks = 30;
    rig.Timer3();
    now += std::chrono::milliseconds(3100);
  }
};

TEST(PollSampler, TakesWhatTheWindowShowsAfterEachSupervisionTick) {
  Sampled s(sim::Model::Qn6);
  s.rig.sim->SetSensorType(7, 0x00);
  s.rig.sim->SetFahrenheit(5, true);
  s.rig.Start();
  ASSERT_TRUE(s.rig.TickUntilIdentified());
  EXPECT_TRUE(s.samples.empty());  // the identity came through the queue, no supervision tick
  s.rig.sim->ClearFrames();

  s.SupervisionTick();
  ASSERT_EQ(s.samples.size(), 1u);
  const Sample& first = s.samples[0];
  EXPECT_EQ(first.kind, SampleKind::Readings);
  EXPECT_EQ(first.time, TimePoint(std::chrono::seconds(1'780'000'000)));
  EXPECT_EQ(ChannelsOf(first.readings),
            (std::vector<std::string>{"TH0", "TH1", "TH2", "TH3", "TH4", "TH5", "TH6", "TH7"}));
  ASSERT_EQ(first.readings.size(), 8u);
  for (std::size_t ch = 0; ch < 8; ++ch) {
    const Reading& r = first.readings[ch];
    EXPECT_EQ(r.channel, s.rig.form().thermistor_caption[ch].caption);
    EXPECT_EQ(r.text, s.rig.form().thermistor_value[ch].caption);
    if (ch == 7) continue;
    // Each number is the one its text shows, in the channel's unit.
    ASSERT_TRUE(r.value) << r.text;
    EXPECT_EQ(r.state, ReadingState::Ok);
    EXPECT_EQ(r.unit, ch == 5 ? ReadingUnit::Fahrenheit : ReadingUnit::Celsius);
    EXPECT_EQ(FormatFixed(*r.value, 15, 1) + UnitSign(r.unit), r.text);
  }
  EXPECT_EQ(first.readings[5].text.substr(first.readings[5].text.size() - 3), "\u2109");
  EXPECT_EQ(first.readings[7].text, "Disable");
  EXPECT_EQ(first.readings[7].state, ReadingState::Disable);
  EXPECT_FALSE(first.readings[7].value);
  EXPECT_EQ(first.module, "02:5A:51:36:00:01");
  EXPECT_EQ(first.module_name, "Lab bench 1");
  // Whose readings they are, from the identity record, never from the window's labels.
  EXPECT_EQ(first.identity.mac, "02:5A:51:36:00:01");
  EXPECT_EQ(first.identity.model_code, wire::kModelQn6);
  EXPECT_EQ(first.identity.location, "Lab bench 1");
  EXPECT_FALSE(first.identity.firmware.empty());
  EXPECT_EQ("FW: V" + first.identity.firmware, s.rig.form().status_bar.panels[1]);

  // A refused poll leaves the previous values on the window: it is a gap, and so is the next
  // tick, which only clears the command left pending.
  s.rig.sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_READ_DATA);
  s.SupervisionTick();
  s.SupervisionTick();
  s.SupervisionTick();
  // A modal window pauses the poll; a busy link puts the tick off without a sample.
  s.rig.app->discovery.PollingEnabled = false;
  s.SupervisionTick();
  s.rig.app->discovery.PollingEnabled = true;
  s.rig.app->link.LinkBusy = true;
  s.SupervisionTick();
  s.rig.app->link.LinkBusy = false;

  std::vector<SampleKind> kinds;
  for (const Sample& sample : s.samples) kinds.push_back(sample.kind);
  EXPECT_EQ(kinds, (std::vector<SampleKind>{SampleKind::Readings, SampleKind::Gap, SampleKind::Gap,
                                            SampleKind::Readings, SampleKind::Pause}));
  // Only the window's own polls went out.
  const std::vector<std::uint8_t> poll{0x5A, 0x35, 0x77, 0xA5, wire::CMD_READ_DATA};
  EXPECT_EQ(s.rig.sim->Frames(), (std::vector<std::vector<std::uint8_t>>(3, poll)));
}

TEST(PollSampler, AModuleThatIsNotThereGivesGaps) {
  Sampled s(sim::Model::Km3);
  s.rig.Start();
  ASSERT_TRUE(s.rig.TickUntilIdentified());
  s.SupervisionTick();
  s.rig.sim->Stop();
  s.SupervisionTick();
  s.SupervisionTick();
  ASSERT_EQ(s.samples.size(), 3u);
  EXPECT_EQ(s.samples[0].kind, SampleKind::Readings);
  EXPECT_EQ(ChannelsOf(s.samples[0].readings),
            (std::vector<std::string>{"AI0", "AI1", "AI2", "AI3", "AI4"}));
  EXPECT_EQ(s.samples[1].kind, SampleKind::Gap);
  EXPECT_EQ(s.samples[2].kind, SampleKind::Gap);
  EXPECT_TRUE(s.samples[1].readings.empty());
}

// Each sample says whose it is, from the identity record alone: a record that was not whole (it
// names another address) names no module, and no location of an earlier one.
TEST(PollSampler, EachSampleNamesItsModuleFromItsIdentityRecord) {
  const struct {
    const char* what;
    std::string location;
    std::array<std::uint8_t, 4> reported;
    const char* module;
    const char* name;
  } cases[] = {
      {"located", "Boiler 2 ", {127, 0, 0, 1}, "02:5A:4B:33:00:01", "Boiler 2"},
      {"no location", "", {127, 0, 0, 1}, "02:5A:4B:33:00:01", "zVK-KM3 02:5A:4B:33:00:01"},
      {"another address", "Boiler 2", {10, 0, 0, 9}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sampled s(sim::Model::Km3);
    s.rig.sim->SetLocation(c.location);
    s.rig.sim->SetReportedAddress(c.reported);
    s.rig.Start();
    for (int i = 0; i < 40 && s.rig.form().module_state.caption.empty(); ++i) s.rig.Tick();
    s.rig.app->device.Identified = true;  // as left by an earlier module
    s.SupervisionTick();
    ASSERT_EQ(s.samples.size(), 1u);
    EXPECT_EQ(s.samples[0].module, c.module);
    EXPECT_EQ(s.samples[0].module_name, c.name);
    EXPECT_EQ(s.samples[0].identity.firmware.empty(), std::string(c.module).empty());
  }
}

}  // namespace
}  // namespace zvk
