// The analog calibration window end to end against the simulated voltage module: the frames, the
// file the module receives, the log lines, and where the calibration refuses to compute.
#include "calibration/ad_cal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "admin/remote_files.h"
#include "app/system.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "support/rig.h"
#include "util/byte_order.h"

namespace zvk {
namespace {

using test::Logged;
using test::Rig;
using Bytes = std::vector<std::uint8_t>;

constexpr double kFactoryRef = 3.911556659e-05;

// A block whose bytes outside the references are not zero, so a test sees them pass through.
std::array<std::uint8_t, 160> PatternedBlock() {
  std::array<std::uint8_t, 160> block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0xA0 + i);
  for (int ch = 0; ch < 5; ++ch) {
    PutLeDouble(&block[8 * ch], kFactoryRef);
    PutLeDouble(&block[80 + 8 * ch], kFactoryRef * (1.0 + 0.001 * ch));
  }
  return block;
}

// Row `row` of a block as the log shows it: 16 bytes, each as two hex digits and a comma.
std::string HexRow(const std::uint8_t* block, int row) {
  std::string line;
  char group[4];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(group, sizeof group, "%02X,", unsigned{block[16 * row + i]});
    line += group;
  }
  return line;
}

std::vector<int> Codes(const std::vector<Bytes>& frames) {
  std::vector<int> codes;
  for (const Bytes& f : frames)
    if (f.size() > wire::kReplyCode) codes.push_back(f[wire::kReplyCode]);
  return codes;
}

class AnalogCalibration : public ::testing::Test {
 protected:
  explicit AnalogCalibration(bool skip_wifi_check = true)
      : rig({.model = sim::Model::Km3, .skip_wifi_check = skip_wifi_check}) {}

  void SetUp() override {
    rig.sleeper.on_sleep = [this](int) { test::WaitForAnnouncedContent(*rig.sim); };
    rig.sim->SetAnalogRefBlock(PatternedBlock());
    rig.Start();
    ASSERT_TRUE(rig.TickUntilIdentified());
    OpenWindow();
  }

  // The main window's "Cal." button, as the user clicks it.
  void OpenWindow() {
    rig.window->SpeedButton1Click();
    ASSERT_FALSE(rig.app->discovery.PollingEnabled);
    rig.sim->ClearFrames();
    rig.sleeper.sleeps.clear();
    rig.app->log_lines.clear();
    rig.dialogs.boxes.clear();
  }

  AnalogCalibrationWindow& window() { return rig.system->analog_calibration; }
  AnalogCalibrationForm& form() { return window().form; }

  bool AllButtonsEnabled() {
    return std::all_of(form().cal_button.begin(), form().cal_button.end(),
                       [](const Button& b) { return b.enabled; }) &&
           std::all_of(form().reset_button.begin(), form().reset_button.end(),
                       [](const Button& b) { return b.enabled; });
  }

  Bytes RefFile() { return rig.sim->File(wire::kAnalogRefFile).value_or(Bytes{}); }

  Rig rig;
};

TEST_F(AnalogCalibration, CalibratingAi2WritesTheNewReferenceAndReloads) {
  rig.sim->WireToVref(2, true);
  const auto polled = rig.app->meas.AnalogRefBlock;
  bool disabled_while_asking = false;
  rig.dialogs.on_box = [&] { disabled_while_asking = !form().cal_button[2].enabled; };

  form().cal_button[2].UserClick();

  ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.boxes[0].caption, "Information");
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "AI2 calibration?\n    . 1. Please connect AI2+ to Vref pin\n"
            "    . 2. Connect AI2- to AGND pin\n    . 3. Press Yes when ready.");
  EXPECT_EQ(rig.dialogs.boxes[0].icon, MsgIcon::Information);
  EXPECT_EQ(rig.dialogs.boxes[0].buttons, MsgButtons::YesNo);
  EXPECT_TRUE(disabled_while_asking);

  const auto frames = rig.Frames();
  EXPECT_EQ(Codes(frames), (std::vector<int>{wire::CMD_SET_RANGE_CONFIG, wire::CMD_READ_DATA,
                                             wire::CMD_WRITE_FILE, wire::CMD_RELOAD_AD_REF}));
  // Normal sampling, AI2 at range 2, the others as the module reported them.
  EXPECT_EQ(frames[0], (Bytes{0x5A, 0x35, 0x77, 0xA5, 0xD6, 0, 0, 0, 2, 0, 0, 0, 0, 0}));
  EXPECT_EQ(frames[3], (Bytes{0x5A, 0x35, 0x77, 0xA5, 0xDB}));
  EXPECT_EQ(rig.sleeper.sleeps, (std::vector<int>{300, 1500, 500}));

  // Vref 8004 counts = 2.500001376 V, read as 31957 counts at range 2.
  const double ref = 2.500001376 / 31957 / 2.0;
  const Bytes file = RefFile();
  ASSERT_EQ(file.size(), 160u);
  EXPECT_DOUBLE_EQ(GetLeDouble(&file[96]), ref);
  for (std::size_t i = 0; i < 160; ++i) {
    if (i >= 96 && i < 104) continue;
    EXPECT_EQ(file[i], polled[i]) << "byte " << i;
  }

  const std::vector<std::string> expected_log{
      "ii=>31957",
      "di=>2.50000138",
      "di=>0.00007823",
      "13,82,4A,FF,EF,81,04,3F,",
  };
  const auto& log = rig.app->log_lines;
  auto at = std::find(log.begin(), log.end(), expected_log[0]);
  ASSERT_NE(at, log.end());
  ASSERT_GE(log.end() - at, 15);
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(at[static_cast<long>(i)], expected_log[i]);
  // The ten block lines are the file in 16-byte rows.
  for (int row = 0; row < 10; ++row) EXPECT_EQ(at[4 + row], HexRow(file.data(), row));
  EXPECT_TRUE(Logged(*rig.app, "Reload AD REF Cfg Done!!"));
  EXPECT_EQ(form().result[2].caption, "Calibration Done!");
  EXPECT_EQ(form().result[2].color, kBlue);
  EXPECT_TRUE(AllButtonsEnabled());

  // The module reloaded its file: the next poll brings the new reference to the display.
  window().FormClose();
  EXPECT_TRUE(rig.app->discovery.PollingEnabled);
  rig.app->discovery.SupervisionTicks = 30;
  rig.Timer3();
  EXPECT_DOUBLE_EQ(rig.app->meas.AnalogRefBlock.ActiveRef(2), ref);
  EXPECT_DOUBLE_EQ(rig.app->meas.RangeTable[2][3], ref);
}

TEST_F(AnalogCalibration, TheNextPollShowsTheCalibratedChannelAtRange2AndNormal) {
  rig.form().sampling_fast.UserClick();  // the module samples fast, AI1 at range 0
  ASSERT_EQ(rig.sim->Snapshot().sampling_mode, 1);
  rig.sim->WireToVref(1, true);

  form().cal_button[1].UserClick();
  window().FormClose();
  rig.app->discovery.SupervisionTicks = 30;
  rig.Timer3();

  EXPECT_EQ(rig.form().range[1].text(), "2:-/+2.5V");
  EXPECT_EQ(rig.form().range[0].text(), "0:-/+10V");
  EXPECT_TRUE(rig.form().sampling_normal.checked());
  EXPECT_EQ(rig.sim->Snapshot().sampling_mode, 0);
}

TEST_F(AnalogCalibration, AnsweringNoLeavesBlockRangesModuleAndLabelAsTheyWere) {
  form().result[3].caption = "Reference reset Done!";
  const auto block = rig.app->meas.AnalogRefBlock;
  const auto ranges = rig.app->meas.RangeCode;
  for (auto* button : {&form().cal_button[3], &form().reset_button[3]}) {
    rig.dialogs.answers = {MsgResult::No};
    button->UserClick();
  }
  EXPECT_EQ(rig.dialogs.boxes.size(), 2u);
  EXPECT_TRUE(rig.Frames().empty());
  EXPECT_EQ(rig.app->meas.AnalogRefBlock, block);
  EXPECT_EQ(rig.app->meas.RangeCode, ranges);
  EXPECT_EQ(form().result[3].caption, "Reference reset Done!");
  EXPECT_TRUE(AllButtonsEnabled());
}

TEST_F(AnalogCalibration, ResetCopiesTheFactoryReferenceAndReloadsEvenWhenTheyMatch) {
  // AI0's references differ in the patterned block; put them equal for AI1 first.
  rig.app->meas.AnalogRefBlock.ResetActiveRef(1);
  const auto before = rig.app->meas.AnalogRefBlock;

  form().reset_button[1].UserClick();
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "AI1 Reference reset to default?\n    . Press Yes when ready.");
  EXPECT_EQ(RefFile(), Bytes(before.begin(), before.end()));
  EXPECT_EQ(Codes(rig.Frames()), (std::vector<int>{wire::CMD_WRITE_FILE, wire::CMD_RELOAD_AD_REF}));
  ASSERT_GE(rig.app->log_lines.size(), 10u);
  for (int row = 0; row < 10; ++row)
    EXPECT_EQ(rig.app->log_lines[static_cast<std::size_t>(row)], HexRow(before.data(), row));
  EXPECT_EQ(form().result[1].caption, "Reference reset Done!");

  rig.sim->ClearFrames();
  form().reset_button[0].UserClick();
  const Bytes file = RefFile();
  EXPECT_DOUBLE_EQ(GetLeDouble(&file[80]), kFactoryRef);
  EXPECT_EQ(Bytes(file.begin() + 88, file.end()), Bytes(before.begin() + 88, before.end()));
  EXPECT_EQ(Codes(rig.Frames()), (std::vector<int>{wire::CMD_WRITE_FILE, wire::CMD_RELOAD_AD_REF}));
  EXPECT_EQ(rig.sleeper.sleeps, (std::vector<int>{1500, 500, 1500, 500}));
}

TEST_F(AnalogCalibration, AFailedFileWriteEnablesTheButtonsAgainAndLeavesTheLabel) {
  // The module goes away between the file's announce and its content.
  rig.sleeper.on_sleep = [this](int ms) {
    if (ms == kAnnounceSettleMs) rig.sim->Stop();
  };
  rig.sim->WireToVref(2, true);
  const std::pair<Button*, std::string> clicks[] = {
      {&form().cal_button[2],
       "AI2 calibration failed:\n    . File /local/ad_ref.cfg: Data connection to 127.0.0.1:"},
      {&form().reset_button[3],
       "AI3 reference reset failed:\n    . File /local/ad_ref.cfg not sent: Connect Timeout"},
  };
  for (const auto& [button, says] : clicks) {
    button->UserClick();
    EXPECT_EQ(rig.dialogs.boxes.back().caption, "Error");
    EXPECT_EQ(rig.dialogs.boxes.back().text.rfind(says, 0), 0u) << rig.dialogs.boxes.back().text;
    EXPECT_TRUE(AllButtonsEnabled());
  }
  EXPECT_EQ(form().result[2].caption, "");
  EXPECT_EQ(form().result[3].caption, "");
  for (int code : Codes(rig.Frames())) EXPECT_NE(code, wire::CMD_RELOAD_AD_REF);
}

// A module that does not take the reference file's announce gets nothing more: no content, no
// reload; one that does not take the reload leaves the new reference unused. Neither is done.
TEST_F(AnalogCalibration, AStepTheModuleDidNotTakeIsAFailureNotDone) {
  struct Case {
    sim::Fault fault;
    std::uint8_t code;
    const char* why;  // the end of the failure box
  };
  const Case cases[] = {
      {sim::Fault::Refuse, wire::CMD_WRITE_FILE,
       "its announce was not acknowledged, the module refused it (status 0x15); the content was "
       "not sent"},
      {sim::Fault::NoReply, wire::CMD_WRITE_FILE,
       "its announce was not acknowledged, no reply came (Wait RX Timeout!); the content was not "
       "sent"},
      {sim::Fault::WrongSignature, wire::CMD_WRITE_FILE,
       "its announce was not acknowledged, the reply does not start with the frame signature "
       "(InValid Header package!); the content was not sent"},
      {sim::Fault::Reset, wire::CMD_WRITE_FILE,
       "its announce was not acknowledged, no whole reply came (the connection broke or the reply "
       "was cut short); the content was not sent"},
      {sim::Fault::Refuse, wire::CMD_RELOAD_AD_REF,
       "the module did not acknowledge the reload of /local/ad_ref.cfg: the module refused it "
       "(status 0x15)"},
      {sim::Fault::WrongSignature, wire::CMD_RELOAD_AD_REF,
       "the module did not acknowledge the reload of /local/ad_ref.cfg: the reply does not start "
       "with the frame signature (InValid Header package!)"},
  };
  rig.sim->WireToVref(2, true);
  for (const Case& c : cases) {
    for (const bool reset : {false, true}) {
      SCOPED_TRACE(std::string(sim::FaultName(c.fault)) + "@" + std::to_string(c.code) +
                   (reset ? " reset" : " calibration"));
      rig.sim->ClearFrames();
      rig.dialogs.boxes.clear();
      const int streams = static_cast<int>(rig.sim->Streams().size());
      rig.sim->InjectFault(c.fault, 1, c.code);
      Label& result = form().result[2];
      result.caption.clear();
      (reset ? form().reset_button[2] : form().cal_button[2]).UserClick();
      EXPECT_EQ(result.caption, "");
      const test::Box& box = rig.dialogs.boxes.back();
      EXPECT_EQ(box.caption, "Error");
      EXPECT_EQ(box.icon, MsgIcon::Error);
      const std::string operation = reset ? "AI2 reference reset" : "AI2 calibration";
      const std::string file =
          c.code == wire::CMD_WRITE_FILE ? "File /local/ad_ref.cfg not written: " : "";
      EXPECT_EQ(box.text, operation + " failed:\n    . " + file + c.why);
      if (c.code == wire::CMD_WRITE_FILE) {
        EXPECT_EQ(Codes(rig.Frames()).back(), wire::CMD_WRITE_FILE);  // nothing after it
        EXPECT_EQ(static_cast<int>(rig.sim->Streams().size()), streams);
      }
      EXPECT_TRUE(AllButtonsEnabled());
    }
  }
}

// Inputs wired the other way round read negative: the reference is negative too, and written so.
TEST_F(AnalogCalibration, ANegativeReadingGivesANegativeReference) {
  rig.sim->SetAnalogVolts(2, -1.25);
  form().cal_button[2].UserClick();
  const auto& log = rig.app->log_lines;
  const auto reading = std::find_if(log.begin(), log.end(),
                                    [](const std::string& l) { return l.rfind("ii=>", 0) == 0; });
  ASSERT_NE(reading, log.end());
  EXPECT_LT(std::stoi(reading->substr(4)), 0) << *reading;
  EXPECT_LT(GetLeDouble(&RefFile()[96]), 0.0);
  EXPECT_EQ(form().result[2].caption, "Calibration Done!");
}

// The calibration stops before writing whenever its reading is not its own at range 2.
struct Refusal {
  const char* name;
  std::function<void(Rig&)> arrange;
  const char* why;
};

void PrintTo(const Refusal& r, std::ostream* os) {
  *os << r.name;
}

class AnalogCalibrationRefusal : public AnalogCalibration,
                                 public ::testing::WithParamInterface<Refusal> {
 protected:
  AnalogCalibrationRefusal() : AnalogCalibration(/*skip_wifi_check=*/false) {}
};

TEST_P(AnalogCalibrationRefusal, TellsWhyAndWritesNothing) {
  rig.sim->WireToVref(2, true);
  GetParam().arrange(rig);
  form().result[2].caption = "Calibration Done!";
  const auto block = rig.app->meas.AnalogRefBlock;

  form().cal_button[2].UserClick();

  ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
  const test::Box& box = rig.dialogs.boxes[1];
  EXPECT_EQ(box.caption, "Information");
  EXPECT_EQ(box.icon, MsgIcon::Information);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(box.text,
            std::string("AI2 calibration stopped, nothing written:\n    . ") + GetParam().why);
  for (int code : Codes(rig.Frames())) {
    EXPECT_NE(code, wire::CMD_WRITE_FILE);
    EXPECT_NE(code, wire::CMD_RELOAD_AD_REF);
  }
  EXPECT_FALSE(rig.sim->File(wire::kAnalogRefFile));
  EXPECT_EQ(rig.app->meas.AnalogRefBlock.ActiveRef(2), block.ActiveRef(2));
  EXPECT_EQ(form().result[2].caption, "Calibration Done!");
  EXPECT_TRUE(AllButtonsEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnalogCalibrationRefusal,
    ::testing::Values(
        Refusal{"ModuleNotFound", [](Rig& rig) { rig.fake_hosts->adapter_scans = {{}}; },
                "the range setting could not be sent to the module"},
        Refusal{"PollRefused",
                [](Rig& rig) { rig.sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_READ_DATA); },
                "no data reply came from the voltage module"},
        Refusal{"PollUnanswered",
                [](Rig& rig) { rig.sim->InjectFault(sim::Fault::NoReply, 1, wire::CMD_READ_DATA); },
                "no data reply came from the voltage module"},
        Refusal{"RangeNotTaken",
                [](Rig& rig) {
                  // The module goes back to range 0 while the range settles.
                  rig.sleeper.on_sleep = [&rig](int) { rig.sim->SetRangeCode(2, 0); };
                },
                "the module reports AI2 at range 0, not at 2:-/+2.5V"},
        Refusal{"ReadsZero",
                [](Rig& rig) {
                  rig.sim->WireToVref(2, false);
                  rig.sim->SetAnalogVolts(2, 0.0);
                },
                "AI2 reads 0; please check that AI2+ is connected to Vref pin"},
        Refusal{"NoReferenceVoltage",
                [](Rig& rig) {
                  rig.sim->SetVrefCount(0);
                  rig.sim->WireToVref(2, false);
                  rig.sim->SetAnalogVolts(2, 2.5);
                },
                "the module reports no reference voltage (Vref count 0)"}),
    [](const auto& info) { return info.param.name; });

TEST(AnalogCalibrationWithoutModule, Ai4CalDoesNothingWhileAi4ResetStillAsks) {
  Rig rig({.model = std::nullopt});
  rig.window->FormCreate();
  AnalogCalibrationWindow& w = rig.system->analog_calibration;
  w.form.cal_button[4].UserClick();
  EXPECT_TRUE(rig.dialogs.boxes.empty());

  // Yes: nothing was ever read from a voltage module, so there is no block to write back.
  w.form.reset_button[4].UserClick();
  ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "AI4 Reference reset to default?\n    . Press Yes when ready.");
  EXPECT_EQ(rig.dialogs.boxes[1].text,
            "AI4 reference reset stopped, nothing written:\n    . no reference block has been "
            "read from the voltage module yet");
  EXPECT_EQ(rig.network.connects, 0);
  EXPECT_EQ(w.form.result[4].caption, "");
}

}  // namespace
}  // namespace zvk
