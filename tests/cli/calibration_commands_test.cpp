// The calibration commands of zvk, in-process against the simulator on loopback: what they print,
// what the module ends up holding, and how refusals end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "link/wire.h"
#include "util/byte_order.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

class cliCalibration : public cliZvk {
 protected:
  // The command with its question answered by --yes (or, without, on the terminal).
  Result Zvk(std::vector<std::string> args, bool yes = true) {
    if (yes) args.insert(args.begin(), "--yes");
    return Run(On(args));
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const Bytes& f : Frames()) codes.push_back(f[wire::kReplyCode]);
    return codes;
  }
};

TEST_F(cliCalibration, CalibrateAnAnalogChannelWiredToVref) {
  StartModule(sim::Model::Km3);
  sim->WireToVref(3, true);
  const Result o = Zvk({"calibrate", "ai3"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out,
            "Information\nAI3 calibration?\n    . 1. Please connect AI3+ to Vref pin\n"
            "    . 2. Connect AI3- to AGND pin\n    . 3. Press Yes when ready.\n"
            "AI3: Calibration Done!\n");
  EXPECT_EQ(Codes(),
            (std::vector<int>{wire::CMD_GET_DEVICE, wire::CMD_SET_RANGE_CONFIG, wire::CMD_READ_DATA,
                              wire::CMD_WRITE_FILE, wire::CMD_RELOAD_AD_REF}));
  const auto file = sim->File(wire::kAnalogRefFile);
  ASSERT_TRUE(file);
  EXPECT_DOUBLE_EQ(GetLeDouble(file->data() + 104), 2.500001376 / 31957 / 2.0);
  EXPECT_EQ(sleeper.sleeps, (std::vector<int>{300, 1500, 500}));
}

TEST_F(cliCalibration, ResetAnAnalogReference) {
  StartModule(sim::Model::Km3);
  const Result o = Zvk({"reset-ref", "AI0"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(o.out.rfind("AI0:")), "AI0: Reference reset Done!\n");
  EXPECT_EQ(Codes(), (std::vector<int>{wire::CMD_GET_DEVICE, wire::CMD_WRITE_FILE,
                                       wire::CMD_RELOAD_AD_REF}));
}

TEST_F(cliCalibration, ThermistorReferenceCommandsPrintTheNewCount) {
  StartModule(sim::Model::Qn6);
  sim->SetMeasuredThRefCount(0xC0DE);
  Result o = Zvk({"calibrate-th"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(o.out.rfind("TH0:")),
            "TH0: Reference calibration. Done!\nReference count: C0DE\n");
  o = Zvk({"reset-th-ref"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(o.out.rfind("TH0:")),
            "TH0: Reference reset Done!\nReference count: C1BF\n");
  EXPECT_EQ(sim->Frames().back(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0xD5, 0x02}));
}

TEST_F(cliCalibration, UserCurveSavesThePointsAndPrintsWhatTheModuleHolds) {
  StartModule(sim::Model::Qn6);
  const Result o =
      Zvk({"user-curve", "4", "--hi", "100:680", "--mid", "25:10000", "--low", "-40:336000.05"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(o.out.rfind("User curve")),
            "User curve 4 saved: Hi 100:680.0, Mid 25:10000.0, Low -40:336000.0\n");
  const auto file = sim->File(wire::kUserCurveFile);
  ASSERT_TRUE(file);
  EXPECT_EQ(static_cast<std::int16_t>(GetLe16(file->data() + 32 + 8)), -40);
  EXPECT_EQ(GetLe32(file->data() + 112 + 16), 3360000u);
  EXPECT_EQ(Codes().back(), wire::CMD_RELOAD_AD_REF);
}

TEST_F(cliCalibration, RefusalsEndWithOneLineAndTheirExitStatus) {
  StartModule(sim::Model::Qn6);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"calibrate", "AI5"}, 2, "zvk: calibrate: the channel is AI0 to AI4, not 'AI5'"},
      {{"user-curve", "8", "--hi", "1:1", "--mid", "2:2", "--low", "3:3"},
       2,
       "zvk: user-curve: the curve is 0 to 7, not '8'"},
      {{"user-curve", "1", "--hi", "100", "--mid", "2:2", "--low", "3:3"},
       2,
       "zvk: user-curve: --hi is TEMPERATURE:OHMS, not '100'"},
      {{"calibrate", "AI1"},
       1,
       "zvk: calibrate needs the voltage module (AI0 to AI4); this is the zVK-QN6 Thermistor "
       "Input Module"},
      {{"user-curve", "1", "--hi", "100:680", "--mid", "25:0", "--low", "0:32650"},
       1,
       "zvk: input refused: Mid resistance: '0' is not more than 0 ohms; nothing sent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    sim->ClearFrames();
    const Result o = Zvk(c.args);
    EXPECT_EQ(o.status, c.status);
    const std::string last_line = o.err.substr(o.err.rfind("zvk: "));
    EXPECT_EQ(last_line, std::string(c.says) + "\n");
    for (int code : Codes()) EXPECT_NE(code, wire::CMD_WRITE_FILE);
  }
}

TEST_F(cliCalibration, QuestionsNeedYesOrATerminal) {
  StartModule(sim::Model::Km3);
  Result o = Zvk({"reset-ref", "AI0"}, /*yes=*/false);
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(sim->Frames().empty());

  // A typed No and the end of the input (Ctrl-D, Ctrl-Z) at the question decline alike.
  for (const std::optional<std::string>& typed :
       {std::optional<std::string>("n"), std::optional<std::string>()}) {
    SCOPED_TRACE(typed.value_or("end of input"));
    sim->ClearFrames();
    read_answer = [typed] { return typed; };
    o = Zvk({"reset-ref", "AI0"}, /*yes=*/false);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "zvk: AI0 reference reset declined; nothing sent\n");
    EXPECT_EQ(Codes(), (std::vector<int>{wire::CMD_GET_DEVICE}));
  }
}

TEST_F(cliCalibration, AStoppedCalibrationSaysWhy) {
  StartModule(sim::Model::Km3);
  sim->SetAnalogVolts(1, 0.0);
  const Result o = Zvk({"calibrate", "AI1"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "zvk: AI1 calibration did not run: AI1 reads 0; please check that AI1+ is connected "
            "to Vref pin\n");
  EXPECT_FALSE(sim->File(wire::kAnalogRefFile));
}

}  // namespace
}  // namespace zvk::cli
