// The thermistor calibration window end to end against the simulated thermistor module: the
// reference buttons, the user curve edits, the file they are saved to and the fit.
#include "calibration/th_cal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "admin/remote_files.h"
#include "app/system.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "support/rig.h"
#include "thermistor/sensor_table.h"
#include "thermistor/user_curves.h"

namespace zvk {
namespace {

using test::Logged;
using test::Rig;
using Bytes = std::vector<std::uint8_t>;

class ThermistorCalibration : public ::testing::Test {
 protected:
  explicit ThermistorCalibration(bool skip_wifi_check = true)
      : rig({.model = sim::Model::Qn6, .skip_wifi_check = skip_wifi_check}) {}

  void SetUp() override {
    rig.sleeper.on_sleep = [this](int) { test::WaitForAnnouncedContent(*rig.sim); };
    rig.sim->SetUserCurveRecord(std::array<std::uint8_t, 144>{});  // a table of zeros
    rig.Start();
    ASSERT_TRUE(rig.TickUntilIdentified());
    rig.window->SpeedButton2Click();  // opens the window
    ASSERT_FALSE(rig.app->discovery.PollingEnabled);
    rig.sim->ClearFrames();
    rig.app->log_lines.clear();
  }

  ThermistorCalibrationWindow& window() { return rig.system->thermistor_calibration; }
  ThermistorCalibrationForm& form() { return window().form; }

  void Type(const std::vector<std::string>& six) {
    Edit* edits[6] = {&form().hi_degrees, &form().mid_degrees, &form().low_degrees,
                      &form().hi_ohms,    &form().mid_ohms,    &form().low_ohms};
    for (std::size_t i = 0; i < 6; ++i) edits[i]->text = six[i];
  }
  std::vector<std::string> Shown() {
    return {form().hi_degrees.text, form().mid_degrees.text, form().low_degrees.text,
            form().hi_ohms.text,    form().mid_ohms.text,    form().low_ohms.text};
  }

  Bytes UserFile() { return rig.sim->File(wire::kUserCurveFile).value_or(Bytes{}); }
  std::vector<int> Codes() {
    std::vector<int> codes;
    for (const Bytes& f : rig.Frames()) codes.push_back(f[wire::kReplyCode]);
    return codes;
  }

  Rig rig;
};

TEST_F(ThermistorCalibration, OpensWithItsControlsAndTheCurveTheComboNames) {
  const ThermistorCalibrationForm& f = form();
  EXPECT_EQ(f.Caption, "Thermistor Calibration/User Define");
  ASSERT_EQ(f.user_curve.items.size(), 8u);
  EXPECT_EQ(f.user_curve.items[0], "70:User-defined0 -50\u00B0C ~ 150\u00B0C");
  EXPECT_EQ(f.user_curve.items[7], "77:User-defined7 -50\u00B0C ~ 150\u00B0C");
  EXPECT_EQ(f.user_curve.text(), f.user_curve.items[0]);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"0", "0", "0", "0.0", "0.0", "0.0"}));
  EXPECT_EQ(f.reference_result.color, kBlue);
}

TEST_F(ThermistorCalibration, SavingTheWorkedExampleWritesTheFileReloadsAndFits) {
  Type({"100", "25", "0", "680.0", "10000.0", "32650.0"});
  form().save_button.UserClick();

  ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.boxes[0].caption, "Information");
  EXPECT_EQ(rig.dialogs.boxes[0].text, "Save User Define?\n    Press Yes when ready.");
  Bytes expected(144, 0);
  const std::pair<std::size_t, Bytes> fields[] = {
      {0, {0x64, 0x00}},
      {16, {0x19, 0x00}},
      {48, {0x90, 0x1A, 0x00, 0x00}},
      {80, {0xA0, 0x86, 0x01, 0x00}},
      {112, {0x64, 0xFB, 0x04, 0x00}},
  };
  for (const auto& [offset, bytes] : fields)
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<long>(offset));
  EXPECT_EQ(UserFile(), expected);
  EXPECT_EQ(Codes(), (std::vector<int>{wire::CMD_WRITE_FILE, wire::CMD_RELOAD_AD_REF}));
  EXPECT_EQ(rig.sleeper.sleeps.back(), 500);
  EXPECT_TRUE(Logged(*rig.app, "Reload AD REF Cfg Done!!"));

  const SensorCurve& row = rig.app->sensors[13];
  EXPECT_NEAR(row.A, 1.125294e-03, 1e-9);
  EXPECT_NEAR(row.B, 2.347148e-04, 1e-10);
  EXPECT_NEAR(row.C, 8.565019e-08, 1e-13);
  // The seven curves of zeros have no fit; their rows keep what they had.
  EXPECT_EQ(rig.app->sensors[14].A, DefaultSensorTable()[14].A);
  EXPECT_TRUE(Logged(*rig.app, KeptCurvesLogLine(7)));
  EXPECT_FALSE(Logged(*rig.app, KeptCurvesLogLine(0)));
}

TEST_F(ThermistorCalibration, NegativeDegreesAndTenthsAreWrittenAsTheModuleKeepsThem) {
  form().user_curve.UserPick(2);
  Type({"-40", "-32768", "0", "1000", "12.34", "90"});
  form().save_button.UserClick();

  const Bytes file = UserFile();
  ASSERT_EQ(file.size(), 144u);
  EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 6), (Bytes{0xD8, 0xFF}));       // -40
  EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 22), (Bytes{0x00, 0x80}));     // -32768
  EXPECT_EQ(Bytes(file.begin() + 88, file.begin() + 92), (Bytes{0x7B, 0, 0, 0}));  // 12.34: 123
  // Fitted on the ohms as typed.
  EXPECT_EQ(rig.app->curves.OhmsMid[2], 12.34);

  // The module reports the record back; the window shows what it holds.
  window().FormClose();
  rig.app->discovery.SupervisionTicks = 30;
  rig.Timer3();
  rig.window->SpeedButton2Click();
  EXPECT_EQ(form().user_curve.text().substr(0, 2), "72");
  EXPECT_EQ(Shown(), (std::vector<std::string>{"-40", "-32768", "0", "1000.0", "12.3", "90.0"}));
}

TEST_F(ThermistorCalibration, SwitchingCurvesKeepsTheEditsOfEach) {
  Type({"100", "25", "0", "680", "10000", "32650"});
  form().user_curve.UserPick(3);
  EXPECT_EQ(window().SelectedUserCurve, 3);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"0", "0", "0", "0.0", "0.0", "0.0"}));
  form().user_curve.UserPick(0);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"100", "25", "0", "680.0", "10000.0", "32650.0"}));

  // No to the question: the shown curve's edits are in memory all the same, nothing is sent.
  Type({"90", "25", "0", "680", "10000", "32650"});
  rig.dialogs.answers = {MsgResult::No};
  form().save_button.UserClick();
  EXPECT_EQ(rig.app->curves.TempHi[0], 90);
  EXPECT_TRUE(rig.Frames().empty());
}

TEST_F(ThermistorCalibration, AnEditLeftAsShownKeepsTheExactValue) {
  // 1234567.8 ohms shows as 1234568.0 (seven digits); saving another curve keeps it exact.
  rig.app->curves.ResLow[1] = 12345678;
  rig.app->curves.OhmsLow[1] = 1234567.8;
  form().user_curve.UserPick(1);
  EXPECT_EQ(form().low_ohms.text, "1234568.0");
  form().user_curve.UserPick(0);
  form().save_button.UserClick();
  const Bytes file = UserFile();
  ASSERT_EQ(file.size(), 144u);
  EXPECT_EQ(Bytes(file.begin() + 116, file.begin() + 120), (Bytes{0x4E, 0x61, 0xBC, 0x00}));
}

TEST_F(ThermistorCalibration, ReferenceButtonsSendTheirOptionAndLogTheNewCount) {
  rig.sim->SetMeasuredThRefCount(0xC0DE);
  form().reference_cal_button.UserClick();
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Thermistor Reference calibration?\n    . 1. Please connect TH0 to Vref pin\n"
            "    . 2. Connect TH0's AGND to Vref's AGND pin\n    . 3. Press Yes when ready.");
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0xD5, 0x00}));
  EXPECT_EQ(form().reference_result.caption, "Reference calibration. Done!");
  EXPECT_TRUE(Logged(*rig.app, "QN6 AD Cal. Done!! => C0DE"));
  EXPECT_EQ(rig.app->meas.ThermistorRefCount, 0xC0DE);
  EXPECT_EQ(rig.app->link.PendingCommand, 0);

  form().reference_reset_button.UserClick();
  EXPECT_EQ(rig.dialogs.boxes[1].text,
            "Thermistor Reference reset to default?\n    . Press Yes when ready");
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0xD5, 0x02}));
  EXPECT_EQ(form().reference_result.caption, "Reference reset Done!");
  EXPECT_TRUE(Logged(*rig.app, "QN6 AD Cal. Done!! => C1BF"));

  // Closing clears the result and hands the poll back.
  window().FormClose();
  EXPECT_EQ(form().reference_result.caption, "");
  EXPECT_TRUE(rig.app->discovery.PollingEnabled);
}

TEST_F(ThermistorCalibration, AReferenceCommandTheModuleDidNotTakeIsNotDone) {
  struct Case {
    sim::Fault fault;
    const char* why;
  };
  const Case cases[] = {
      {sim::Fault::Refuse, "the module refused it (status 0x15)"},
      {sim::Fault::WrongSignature,
       "the reply does not start with the frame signature (InValid Header package!)"},
      {sim::Fault::NoReply, "no reply came (Wait RX Timeout!)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::FaultName(c.fault));
    rig.app->log_lines.clear();
    rig.sim->InjectFault(c.fault, 1, wire::CMD_CALIBRATE_TH_REF);
    form().reference_cal_button.UserClick();
    EXPECT_EQ(form().reference_result.caption, "");
    EXPECT_EQ(rig.dialogs.boxes.back().caption, "Error");
    EXPECT_EQ(rig.dialogs.boxes.back().text,
              std::string("The reference calibration failed:\n    . the module did not "
                          "acknowledge it: ") +
                  c.why);
    EXPECT_FALSE(Logged(*rig.app, "QN6 AD Cal. Done!! => C1BF"));
  }
}

TEST_F(ThermistorCalibration, ComboTextNamingNoUserCurveIsRefused) {
  form().user_curve.UserPick(5);
  Type({"1", "2", "3", "4", "5", "6"});
  for (const char* text : {"6A:YSI", "78:User", "7", "", "zz:curve", "-1"}) {
    SCOPED_TRACE(text);
    rig.dialogs.errors.clear();
    form().user_curve.UserType(text);
    ASSERT_EQ(rig.dialogs.errors.size(), 1u);
    EXPECT_NE(rig.dialogs.errors[0].find("names no user curve"), std::string::npos);
    EXPECT_EQ(window().SelectedUserCurve, 5);
  }
  // The edits were stored into curve 5 and still show it.
  EXPECT_EQ(rig.app->curves.OhmsLow[5], 6.0);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

TEST_F(ThermistorCalibration, AnEditThatIsRefusedEndsTheSaveNamingItsField) {
  const struct {
    std::vector<std::string> six;
    std::string error;
  } cases[] = {
      {{"25.5", "25", "0", "680", "10000", "32650"},
       "Hi temperature: '25.5' is not a whole number of degrees"},
      {{"100", "", "0", "680", "10000", "32650"},
       "Mid temperature: '' is not a whole number of degrees"},
      {{"100", "25", "0", "abc", "10000", "32650"}, "Hi resistance: 'abc' is not a number of ohms"},
      {{"100", "25", "0", "680", "0", "32650"}, "Mid resistance: '0' is not more than 0 ohms"},
      {{"100", "25", "0", "680", "10000", "-5"}, "Low resistance: '-5' is not more than 0 ohms"},
      {{"100", "25", "0", "214748364.8", "10000", "32650"},
       "Hi resistance: '214748364.8' is too large (at most 214748364.7 ohms)"},
      {{"100", "25", "0", "680", "nan", "32650"}, "Mid resistance: 'nan' is not a number of ohms"},
      {{"70000", "25", "0", "680", "10000", "32650"},
       "Hi temperature: '70000' is outside -32768 to 32767 degrees"},
      {{"100", "25", "-40000", "680", "10000", "32650"},
       "Low temperature: '-40000' is outside -32768 to 32767 degrees"},
      {{"100", "25", "0", "0.01", "10000", "32650"},
       "Hi resistance: '0.01' is less than 0.1 ohms, the smallest the module keeps"},
      {{"100", "25", "0", "680", "10000", "1e-9"},
       "Low resistance: '1e-9' is less than 0.1 ohms, the smallest the module keeps"},
      {{"100", "25", "0", std::string(100, '9'), "10000", "32650"},
       "Hi resistance: '" + std::string(40, '9') +
           "... (100 bytes)' is too large (at most 214748364.7 ohms)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    rig.dialogs.errors.clear();
    rig.dialogs.boxes.clear();
    Type(c.six);
    form().save_button.UserClick();
    EXPECT_EQ(rig.dialogs.errors, std::vector<std::string>{c.error});
    EXPECT_TRUE(rig.dialogs.boxes.empty());  // no question
    EXPECT_TRUE(rig.Frames().empty());
  }
  // Fields before the refused one keep their new values.
  EXPECT_EQ(rig.app->curves.TempHi[0], 100);
  EXPECT_EQ(rig.app->curves.OhmsHi[0], 680.0);
  // The largest resistance the module's tenths can hold is taken.
  Type({"100", "25", "0", "214748364.7", "10000", "32650"});
  EXPECT_TRUE(window().StoreUserCurveEdits());
  // And so are the ends of what the file holds.
  Type({"32767", "-32768", "0", "0.1", "10000", "32650"});
  EXPECT_TRUE(window().StoreUserCurveEdits());
}

TEST(ThermistorCalibrationTenths, OhmsTimesTenTruncatedTowardZero) {
  EXPECT_EQ(TenthsOfOhm(12.34), 123);
  EXPECT_EQ(TenthsOfOhm(-12.34), -123);
  EXPECT_EQ(TenthsOfOhm(214748364.7), 2147483647);
  EXPECT_EQ(TenthsOfOhm(214748364.8), std::nullopt);
  EXPECT_EQ(TenthsOfOhm(-214748364.8), -2147483648);
  EXPECT_EQ(TenthsOfOhm(std::nan("")), std::nullopt);
}

TEST_F(ThermistorCalibration, AFailedFileWriteEndsTheSaveBeforeReloadAndFit) {
  const double a_before = rig.app->sensors[13].A;
  Type({"100", "25", "0", "680", "10000", "32650"});
  rig.sim->Stop();
  form().save_button.UserClick();
  EXPECT_EQ(rig.dialogs.boxes.back().caption, "Error");
  EXPECT_EQ(rig.dialogs.boxes.back().text.rfind("Saving the user curves failed:\n    . File "
                                                "/local/th_user.cfg not sent: ",
                                                0),
            0u)
      << rig.dialogs.boxes.back().text;
  EXPECT_EQ(rig.app->sensors[13].A, a_before);
}

// An announce of the curve file that the module did not take ends the save there: no content,
// no reload, no fit; a reload it did not take, no fit either.
TEST_F(ThermistorCalibration, ASaveStopsAtTheFirstStepTheModuleDidNotTake) {
  struct Case {
    sim::Fault fault;
    std::uint8_t code;
    std::vector<int> sent;
  };
  const Case cases[] = {
      {sim::Fault::Refuse, wire::CMD_WRITE_FILE, {wire::CMD_WRITE_FILE}},
      {sim::Fault::NoReply, wire::CMD_WRITE_FILE, {wire::CMD_WRITE_FILE}},
      {sim::Fault::WrongSignature, wire::CMD_WRITE_FILE, {wire::CMD_WRITE_FILE}},
      {sim::Fault::Reset, wire::CMD_WRITE_FILE, {wire::CMD_WRITE_FILE}},
      {sim::Fault::Refuse,
       wire::CMD_RELOAD_AD_REF,
       {wire::CMD_WRITE_FILE, wire::CMD_RELOAD_AD_REF}},
  };
  const double a_before = rig.app->sensors[13].A;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(sim::FaultName(c.fault)) + "@" + std::to_string(c.code));
    rig.sim->ClearFrames();
    const std::size_t streams = rig.sim->Streams().size();
    rig.sim->InjectFault(c.fault, 1, c.code);
    Type({"100", "25", "0", "680", "10000", "32650"});
    form().save_button.UserClick();
    EXPECT_EQ(Codes(), c.sent);
    EXPECT_EQ(rig.dialogs.boxes.back().caption, "Error");
    EXPECT_EQ(rig.dialogs.boxes.back().text.rfind("Saving the user curves failed:\n    . ", 0), 0u);
    if (c.code == wire::CMD_WRITE_FILE) {
      EXPECT_EQ(rig.sim->Streams().size(), streams);
      EXPECT_NE(UserFile().size(), 144u);
    }
    EXPECT_EQ(rig.app->sensors[13].A, a_before);
  }
}

TEST_F(ThermistorCalibration, ACurveThatCannotBeFittedIsSaidAfterTheSave) {
  Type({"100", "25", "0", "680", "680", "32650"});  // two equal resistances
  form().save_button.UserClick();
  EXPECT_EQ(UserFile().size(), 144u);
  EXPECT_EQ(rig.dialogs.boxes.back().caption, "Error");
  EXPECT_EQ(rig.dialogs.boxes.back().text.rfind("Fitting user curve 0 failed:\n    . ", 0), 0u);
  EXPECT_TRUE(Logged(*rig.app, KeptCurvesLogLine(0)));

  // A curve never defined (all zero) is not fitted either, and that is no failure to report.
  form().user_curve.UserPick(6);
  rig.dialogs.boxes.clear();
  form().save_button.UserClick();
  ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.boxes[0].caption, "Information");  // the question only
}

class ThermistorCalibrationNoModule : public ThermistorCalibration {
 protected:
  ThermistorCalibrationNoModule() : ThermistorCalibration(/*skip_wifi_check=*/false) {}
};

TEST_F(ThermistorCalibrationNoModule, ReferenceButtonsSayDoneOnlyWhenTheCommandWentOut) {
  rig.fake_hosts->adapter_scans = {{}};
  form().reference_cal_button.UserClick();
  EXPECT_EQ(form().reference_result.caption, "");
  ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
  EXPECT_EQ(rig.dialogs.boxes[1].text,
            "The reference calibration failed:\n    . it was not sent: the module could not be "
            "reached");
  EXPECT_TRUE(rig.Frames().empty());

  rig.sim->Stop();
  rig.fake_hosts->adapter_scans = {test::FakeHostInterfaces::OneMatch()->adapter_scans.front()};
  form().reference_reset_button.UserClick();
  EXPECT_EQ(form().reference_result.caption, "");
  EXPECT_EQ(rig.dialogs.boxes.back().text,
            "The reference reset failed:\n    . it was not sent: the module could not be reached");
}

}  // namespace
}  // namespace zvk
