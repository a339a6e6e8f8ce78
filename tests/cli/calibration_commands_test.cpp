// The calibration commands of zvk, in-process against the simulator on loopback: what they print,
// what the module ends up holding, and how refusals end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "link/wire.h"
#include "sim/fault_list.h"
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

      {{"user-curve", "1", "--hi", "70000:680", "--mid", "25:10000", "--low", "0:32650"},
       1,
       "zvk: input refused: Hi temperature: '70000' is outside -32768 to 32767 degrees; nothing "
       "sent"},
      {{"user-curve", "1", "--hi", "100:680", "--mid", "25:10000", "--low", "-40000:680"},
       1,
       "zvk: input refused: Low temperature: '-40000' is outside -32768 to 32767 degrees; "
       "nothing sent"},
      {{"user-curve", "1", "--hi", "100:0.01", "--mid", "25:10000", "--low", "0:32650"},
       1,
       "zvk: input refused: Hi resistance: '0.01' is less than 0.1 ohms, the smallest the module "
       "keeps; nothing sent"},
      {{"user-curve", "1", "--hi", "100:680", "--mid", "25:1e-9", "--low", "0:32650"},
       1,
       "zvk: input refused: Mid resistance: '1e-9' is less than 0.1 ohms, the smallest the "
       "module keeps; nothing sent"},
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

TEST_F(cliCalibration, UserCurvePrintsTheTenthsTheFileHoldsExactly) {
  StartModule(sim::Model::Qn6);
  const Result o = Zvk(
      {"user-curve", "2", "--hi", "150:3360001.9", "--mid", "25:214748364.7", "--low", "-40:0.1"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(o.out.rfind("User curve")),
            "User curve 2 saved: Hi 150:3360001.9, Mid 25:214748364.7, Low -40:0.1\n");
}

TEST_F(cliCalibration, AUserCurveThatCannotBeFittedIsSavedButFails) {
  StartModule(sim::Model::Qn6);
  const Result o = Zvk({"user-curve", "3", "--hi", "100:680", "--mid", "25:680", "--low", "0:3"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out.substr(o.out.rfind("User curve")),
            "User curve 3 saved: Hi 100:680.0, Mid 25:680.0, Low 0:3.0\n");
  EXPECT_EQ(o.err.substr(o.err.rfind("zvk: ")),
            "zvk: user curve 3 was saved but cannot be fitted: its three points admit no curve "
            "(two equal resistances or temperatures?), so sensor type 73 has no curve to convert "
            "with\n");
  EXPECT_TRUE(sim->File(wire::kUserCurveFile));
}

// A module that does not take the announce of the calibration's file: nothing more is sent (no
// content, no reload), nothing says done, and the command fails with the announce's reason.
TEST_F(cliCalibration, AnAnnounceTheModuleDidNotTakeFailsTheCalibration) {
  struct Command {
    sim::Model model;
    std::vector<std::string> args;
    const char* what;
  };
  const Command commands[] = {
      {sim::Model::Km3, {"calibrate", "AI0"}, "zvk: AI0 calibration failed: "},
      {sim::Model::Km3, {"reset-ref", "AI1"}, "zvk: AI1 reference reset failed: "},
      {sim::Model::Qn6,
       {"user-curve", "3", "--hi", "100:680", "--mid", "25:10000", "--low", "-40:336000"},
       "zvk: saving user curve 3 failed: "},
  };
  const struct {
    sim::Fault fault;
    const char* why;
  } faults[] = {
      {sim::Fault::Refuse, "the module refused it (status 0x15)"},
      {sim::Fault::NoReply, "no reply came (Wait RX Timeout!)"},
      {sim::Fault::WrongSignature,
       "the reply does not start with the frame signature (InValid Header package!)"},
      {sim::Fault::Reset, "no whole reply came (the connection broke or the reply was cut short)"},
  };
  for (const Command& c : commands) {
    StartModule(c.model);
    if (c.model == sim::Model::Km3) sim->WireToVref(0, true);
    for (const auto& f : faults) {
      SCOPED_TRACE(c.args[0] + " / " + sim::FaultName(f.fault));
      sim->ClearFrames();
      const std::size_t streams = sim->Streams().size();
      sim->InjectFault(f.fault, 1, wire::CMD_WRITE_FILE);
      const Result o = Zvk(c.args);
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.out.find("Done!"), std::string::npos) << o.out;
      EXPECT_EQ(o.out.find("saved"), std::string::npos) << o.out;
      const std::string file =
          c.model == sim::Model::Km3 ? wire::kAnalogRefFile : wire::kUserCurveFile;
      EXPECT_EQ(o.err.substr(o.err.rfind("zvk: ")),
                std::string(c.what) + "File " + file +
                    " not written: its announce was not acknowledged, " + f.why +
                    "; the content was not sent\n");
      EXPECT_EQ(Codes().back(), wire::CMD_WRITE_FILE);
      EXPECT_EQ(sim->Streams().size(), streams);
    }
    sim->Stop();
  }
}

// The module takes the file but answers its reload with a reply that is no acknowledgement.
TEST_F(cliCalibration, AReloadTheModuleDidNotAcknowledgeFailsTheCalibration) {
  StartModule(sim::Model::Km3);
  for (const sim::Fault fault : {sim::Fault::Refuse, sim::Fault::WrongSignature}) {
    SCOPED_TRACE(sim::FaultName(fault));
    sim->InjectFault(fault, 1, wire::CMD_RELOAD_AD_REF);
    const Result o = Zvk({"reset-ref", "AI2"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out.find("Done!"), std::string::npos) << o.out;
    const std::string last = o.err.substr(o.err.rfind("zvk: "));
    EXPECT_EQ(last.rfind("zvk: AI2 reference reset failed: the module did not acknowledge the "
                         "reload of /local/ad_ref.cfg: ",
                         0),
              0u)
        << o.err;
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
