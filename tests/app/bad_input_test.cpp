// Bad input typed into every edit and editable combo box of the windows: each kind of bad text
// gives the error the window defines for it, as one well-formed line, and sends nothing; a typed
// number the window takes as a code goes out as typed, and nothing else does.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// What typing one text does: the error box's text, or the code that goes out for it.
struct Outcome {
  std::string error;
  int sent_code = -1;
};

Outcome Error(std::string text) {
  return {text + " is not a valid integer value"};
}
Outcome Sent(int code) {
  return {"", code};
}

struct TypedControl {
  const char* name;
  sim::Model model;
  int channels;
  std::function<void(MainForm&, int ch, const std::string&)> type;
  std::size_t code_offset;  // where the frame carries the typed code of channel 0
  std::vector<Outcome> outcomes;
};

const std::vector<TypedControl>& Controls() {
  static const std::vector<TypedControl> controls = {
      {"Device IP (Static IP button)",
       sim::Model::Qn6,
       1,
       [](MainForm& f, int, const std::string& text) {
         f.Edit2.text = text;
         f.SpeedButton5.UserClick();
       },
       0,
       {Error("''"), Error("'   '"), Error("'xyz'"), Error("'99999999999999999999999'"),
        Error("''"), Error("'\u4E2D\u6587'"), Error("'\u00E9t\u00E9'"),
        Error("'" + kLongShown + "'")}},
      {"range box",
       sim::Model::Km3,
       wire::kAnalogChannels,
       [](MainForm& f, int ch, const std::string& text) { f.RangeCombo[ch].UserType(text); },
       wire::rangecfg::kRangeCodes,
       {Error("''"), Error("' '"), Error("'x'"), Sent(9), Error("'-'"), Error("'\u4E2D'"),
        Error("'\u00E9'"), Error("'x'")}},
      {"sensor type box",
       sim::Model::Qn6,
       wire::kThermistorChannels,
       [](MainForm& f, int ch, const std::string& text) { f.SensorCombo[ch].UserType(text); },
       wire::thcfg::kSensorTypes,
       {Error("'0x'"), Error("'0x  '"), Error("'0xxy'"), Sent(0x99), Error("'0x-5'"),
        Error("'0x\u4E2D\u6587'"), Error("'0x\u00E9t'"), Error("'0xxx'")}},
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

        control.type(rig.form(), ch, kTexts[i]);
        rig.Tick(3);  // whatever the input queued would go out now

        if (expected.sent_code >= 0) {
          EXPECT_TRUE(rig.dialogs.errors.empty());
          ASSERT_EQ(rig.Frames().size(), 1u);
          EXPECT_EQ(rig.Frames()[0].at(control.code_offset + ch), expected.sent_code);
        } else {
          EXPECT_EQ(rig.dialogs.errors, std::vector<std::string>{expected.error});
          EXPECT_EQ(rig.Frames().size(), 0u);
          EXPECT_EQ(app.link.DeviceHost, host);
        }
      }
    }
  }
}

}  // namespace
}  // namespace zvk
