// Bad input typed into every edit and editable combo box of the windows: each kind of bad text
// gives the error the window defines for it, as one well-formed message, and sends nothing. A
// text the window's own rules accept goes no further than the question before a change (answered
// No here), or, for the main window's combo boxes, out as the typed code: nothing else goes out.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "admin/setup_window.h"
#include "calibration/th_cal.h"
#include "link/wire.h"
#include "monitor/main_window.h"
#include "support/rig.h"
#include "util/message_text.h"

namespace zvk {
namespace {

using test::Rig;

const std::string kLong(100000, 'x');
const std::string kLongShown = ShortenedForMessage(kLong);

// The kinds of bad text, in the order of every control's outcomes below.
const char* const kKinds[] = {"empty",          "spaces",          "letters",
                              "huge number",    "negative number", "outside the code page",
                              "two-byte first", "over-long"};
const std::string kTexts[] = {"",   "   ",          "xyz",           "99999999999999999999999",
                              "-5", "\u4E2D\u6587", "\u00E9t\u00E9", kLong};

// What typing one text does.
struct Outcome {
  enum class Kind { ErrorBox, Box, Asked, Sent };
  Kind kind;
  std::string caption;  // Box
  std::string text;     // ErrorBox, Box
  int sent_code = -1;   // Sent
};

Outcome ErrorBox(const std::string& text) {
  return {Outcome::Kind::ErrorBox, "", text};
}
Outcome NotInteger(const std::string& shown) {
  return ErrorBox(shown + " is not a valid integer value");
}
Outcome Box(const std::string& caption, const std::string& text) {
  return {Outcome::Kind::Box, caption, text};
}
Outcome ErrorFound(const std::string& text) {
  return Box("Error found!", text);
}
// A character the module's 8-bit code page lacks, in a setup window field.
Outcome NotInCodePage(const std::string& field) {
  return ErrorFound("    . " + field +
                    ": the character \"\u4E2D\" (U+4E2D) is not in the module's code page "
                    "(Windows-1252).");
}
const Outcome kAsked{Outcome::Kind::Asked};
Outcome Sent(int code) {
  return {Outcome::Kind::Sent, "", "", code};
}

struct TypedControl {
  const char* name;
  sim::Model model;
  int channels;
  // Types the text into the control of channel `ch` and does what makes the window read it.
  std::function<void(System&, int ch, const std::string&)> type;
  std::size_t code_offset;  // Sent: where the frame carries the code of channel 0
  std::vector<Outcome> outcomes;
};

// The setup window as its action finds it: activated, the other fields of the action valid.
SetupForm& Setup(System& s) {
  s.setup_window.FormActivate();
  SetupForm& f = s.setup_window.form;
  f.ap_ssid.text = f.station_ssid.text = "zVK";
  f.ap_key_wpa.UserClick();       // AP key WPA/WPA2
  f.station_key_wpa.UserClick();  // station key WPA/WPA2
  f.ap_key.text = f.station_key.text = "12345678";
  f.static_ip_address.text = "192.168.1.10";
  f.static_ip_mask.text = "255.255.255.0";
  f.static_ip_gateway.text = "192.168.1.1";
  f.modbus_port.text = "502";
  f.modbus_timeout.text = "30";
  return f;
}

// The thermistor calibration window activated on the first user curve, its points as shown.
ThermistorCalibrationForm& Curves(System& s) {
  s.thermistor_calibration.form.user_curve.SetItemIndex(0);
  s.thermistor_calibration.FormActivate();
  return s.thermistor_calibration.form;
}

std::vector<Outcome> Repeat(const Outcome& o) {
  return std::vector<Outcome>(std::size(kTexts), o);
}

const std::vector<TypedControl>& Controls() {
  const auto setup_edit = [](Edit SetupForm::*edit, void (SetupWindow::*action)()) {
    return [edit, action](System& s, int, const std::string& text) {
      Setup(s).*edit = Edit{.text = text};
      (s.setup_window.*action)();
    };
  };
  const auto curve_edit = [](Edit ThermistorCalibrationForm::*edit) {
    return [edit](System& s, int, const std::string& text) {
      (Curves(s).*edit).text = text;
      s.thermistor_calibration.SpeedButton2Click();
    };
  };
  const Outcome ssid_key_rules = ErrorFound(kSsidKeyRules);
  const Outcome not_quad = ErrorFound("    . IP, Mask, Gateway input error.\n");
  const Outcome web_key = ErrorFound("    . WEB Key must be 5 chars.");
  const Outcome location = ErrorFound("    . Location string must less then 31 chars.");
  const auto port = [](const std::string& shown) {
    return Box("Modbus port input Error", shown + " is not a valid integer value");
  };
  const auto timeout = [](const std::string& shown) {
    return Box("Modbus Idle Timeout input Error", shown + " is not a valid integer value");
  };
  const auto no_curve = [](const std::string& shown) {
    return ErrorBox(shown + " names no user curve: the text must start with 70 to 77");
  };
  const auto not_degrees = [](const std::string& shown) {
    return ErrorBox("Hi temperature: " + shown + " is not a whole number of degrees");
  };
  const auto not_ohms = [](const std::string& shown) {
    return ErrorBox("Low resistance: " + shown + " is not a number of ohms");
  };
  const std::vector<Outcome> ssid = {ssid_key_rules,        kAsked, kAsked,        kAsked, kAsked,
                                     NotInCodePage("SSID"), kAsked, ssid_key_rules};
  std::vector<Outcome> key = Repeat(ssid_key_rules);
  key[5] = NotInCodePage("Key");

  static const std::vector<TypedControl> controls = {
      {"main window: Device IP (Static IP button)",
       sim::Model::Qn6,
       1,
       [](System& s, int, const std::string& text) {
         s.main_window.form.device_ip.text = text;
         s.main_window.form.static_ip_button.UserClick();
       },
       0,
       {NotInteger("''"), NotInteger("'   '"), NotInteger("'xyz'"),
        NotInteger("'99999999999999999999999'"), NotInteger("''"), NotInteger("'\u4E2D\u6587'"),
        NotInteger("'\u00E9t\u00E9'"), NotInteger("'" + kLongShown + "'")}},
      {"main window: range box",
       sim::Model::Km3,
       wire::kAnalogChannels,
       [](System& s, int ch, const std::string& text) {
         s.main_window.form.range[ch].UserType(text);
       },
       wire::rangecfg::kRangeCodes,
       {NotInteger("''"), NotInteger("' '"), NotInteger("'x'"), Sent(9), NotInteger("'-'"),
        NotInteger("'\u4E2D'"), NotInteger("'\u00E9'"), NotInteger("'x'")}},
      {"main window: sensor type box",
       sim::Model::Qn6,
       wire::kThermistorChannels,
       [](System& s, int ch, const std::string& text) {
         s.main_window.form.sensor_type[ch].UserType(text);
       },
       wire::thcfg::kSensorTypes,
       {NotInteger("'0x'"), NotInteger("'0x  '"), NotInteger("'0xxy'"), Sent(0x99),
        NotInteger("'0x-5'"), NotInteger("'0x\u4E2D\u6587'"), NotInteger("'0x\u00E9t'"),
        NotInteger("'0xxx'")}},
      {"setup: AP SSID", sim::Model::Qn6, 1,
       setup_edit(&SetupForm::ap_ssid, &SetupWindow::Image2Click), 0, ssid},
      {"setup: AP key", sim::Model::Qn6, 1,
       setup_edit(&SetupForm::ap_key, &SetupWindow::Image2Click), 0, key},
      {"setup: station SSID", sim::Model::Qn6, 1,
       setup_edit(&SetupForm::station_ssid, &SetupWindow::Image3Click), 0, ssid},
      {"setup: station key", sim::Model::Qn6, 1,
       setup_edit(&SetupForm::station_key, &SetupWindow::Image3Click), 0, key},
      {"setup: static IP", sim::Model::Qn6, 1,
       [](System& s, int, const std::string& text) {
         Setup(s);
         s.setup_window.form.static_ip.SetChecked(true);
         s.setup_window.form.static_ip_address.text = text;
         s.setup_window.Image10Click();
       },
       0, Repeat(not_quad)},
      {"setup: net mask", sim::Model::Qn6, 1,
       [](System& s, int, const std::string& text) {
         Setup(s);
         s.setup_window.form.static_ip.SetChecked(true);
         s.setup_window.form.static_ip_mask.text = text;
         s.setup_window.Image10Click();
       },
       0, Repeat(not_quad)},
      {"setup: gateway", sim::Model::Qn6, 1,
       [](System& s, int, const std::string& text) {
         Setup(s);
         s.setup_window.form.static_ip.SetChecked(true);
         s.setup_window.form.static_ip_gateway.text = text;
         s.setup_window.Image10Click();
       },
       0, Repeat(not_quad)},
      {"setup: web login key",
       sim::Model::Qn6,
       1,
       setup_edit(&SetupForm::web_key, &SetupWindow::Image5Click),
       0,
       {web_key, kAsked, kAsked, web_key, kAsked, NotInCodePage("WEB Key"), kAsked, web_key}},
      {"setup: location",
       sim::Model::Qn6,
       1,
       setup_edit(&SetupForm::location, &SetupWindow::Image6Click),
       0,
       {location, kAsked, kAsked, kAsked, kAsked, NotInCodePage("Location"), kAsked, location}},
      {"setup: Modbus port",
       sim::Model::Qn6,
       1,
       setup_edit(&SetupForm::modbus_port, &SetupWindow::Image9Click),
       0,
       {port("''"), port("'   '"), port("'xyz'"), port("'99999999999999999999999'"),
        Box("Modbus port range Error", "Port number over range!"), port("'\u4E2D\u6587'"),
        port("'\u00E9t\u00E9'"), port("'" + kLongShown + "'")}},
      {"setup: Modbus idle timeout",
       sim::Model::Qn6,
       1,
       setup_edit(&SetupForm::modbus_timeout, &SetupWindow::Image9Click),
       0,
       {timeout("''"), timeout("'   '"), timeout("'xyz'"), timeout("'99999999999999999999999'"),
        Box("Modbus Idle Timeout input Error",
            "Timeout range must in 1 ~ 65000 Sec! Recommend 30 Sec."),
        timeout("'\u4E2D\u6587'"), timeout("'\u00E9t\u00E9'"), timeout("'" + kLongShown + "'")}},
      {"thermistor calibration: user curve box",
       sim::Model::Qn6,
       1,
       [](System& s, int, const std::string& text) { Curves(s).user_curve.UserType(text); },
       0,
       {no_curve("''"), no_curve("'   '"), no_curve("'xyz'"), no_curve("'99999999999999999999999'"),
        no_curve("'-5'"), no_curve("'\u4E2D\u6587'"), no_curve("'\u00E9t\u00E9'"),
        no_curve("'" + kLongShown + "'")}},
      {"thermistor calibration: Hi temperature",
       sim::Model::Qn6,
       1,
       curve_edit(&ThermistorCalibrationForm::hi_degrees),
       0,
       {not_degrees("''"), not_degrees("'   '"), not_degrees("'xyz'"),
        not_degrees("'99999999999999999999999'"), kAsked, not_degrees("'\u4E2D\u6587'"),
        not_degrees("'\u00E9t\u00E9'"), not_degrees("'" + kLongShown + "'")}},
      {"thermistor calibration: Low resistance",
       sim::Model::Qn6,
       1,
       curve_edit(&ThermistorCalibrationForm::low_ohms),
       0,
       {not_ohms("''"), not_ohms("'   '"), not_ohms("'xyz'"),
        ErrorBox("Low resistance: '99999999999999999999999' is too large (at most 214748364.7 "
                 "ohms)"),
        ErrorBox("Low resistance: '-5' is not more than 0 ohms"), not_ohms("'\u4E2D\u6587'"),
        not_ohms("'\u00E9t\u00E9'"), not_ohms("'" + kLongShown + "'")}},
  };
  return controls;
}

TEST(BadInput, EveryTypedTextGivesItsErrorAndSendsNothing) {
  for (const TypedControl& control : Controls()) {
    ASSERT_EQ(control.outcomes.size(), std::size(kTexts)) << control.name;
    Rig rig({.model = control.model});
    rig.Start();
    ASSERT_TRUE(rig.TickUntilIdentified());
    App& app = *rig.app;
    const std::string host = app.link.DeviceHost;
    const sim::State initial = rig.sim->Snapshot();
    for (int ch = 0; ch < control.channels; ++ch) {
      for (std::size_t i = 0; i < std::size(kTexts); ++i) {
        SCOPED_TRACE(std::string(control.name) + " " + std::to_string(ch) + ", " + kKinds[i]);
        const Outcome& expected = control.outcomes[i];
        // The module's settings as they were, and a data poll whose reply puts every box back.
        for (int c = 0; c < wire::kAnalogChannels; ++c)
          rig.sim->SetRangeCode(c, initial.range_codes[c]);
        for (int c = 0; c < wire::kThermistorChannels; ++c)
          rig.sim->SetSensorType(c, initial.sensor_types[c]);
        app.discovery.SupervisionTicks = 30;
        rig.Timer3();
        rig.sim->ClearFrames();
        rig.dialogs.errors.clear();
        rig.dialogs.boxes.clear();
        rig.dialogs.answers = {MsgResult::No};

        control.type(*rig.system, ch, kTexts[i]);
        const std::vector<test::Box> boxes = rig.dialogs.boxes;
        rig.Tick(3);  // whatever the input queued would go out now

        switch (expected.kind) {
          case Outcome::Kind::ErrorBox:
            EXPECT_EQ(rig.dialogs.errors, std::vector<std::string>{expected.text});
            EXPECT_EQ(boxes.size(), 0u);
            break;
          case Outcome::Kind::Box:
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, expected.caption);
            EXPECT_EQ(boxes[0].text, expected.text);
            EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
            EXPECT_EQ(rig.dialogs.errors.size(), 0u);
            break;
          case Outcome::Kind::Asked:
            ASSERT_EQ(boxes.size(), 1u) << (boxes.empty() ? "" : boxes[0].text);
            EXPECT_EQ(boxes[0].buttons, MsgButtons::YesNo) << boxes[0].text;
            EXPECT_EQ(rig.dialogs.errors.size(), 0u);
            break;
          case Outcome::Kind::Sent:
            EXPECT_TRUE(rig.dialogs.errors.empty());
            ASSERT_EQ(rig.Frames().size(), 1u);
            EXPECT_EQ(rig.Frames()[0].at(control.code_offset + ch), expected.sent_code);
            break;
        }
        if (expected.kind != Outcome::Kind::Sent) {
          EXPECT_EQ(rig.Frames().size(), 0u);
        }
        EXPECT_EQ(app.link.DeviceHost, host);
      }
    }
  }
}

}  // namespace
}  // namespace zvk
