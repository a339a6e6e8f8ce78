// The texts a person types and the module's texts, through every conversion the windows and the
// command line make of them: the 8-bit codec both ways, the "Static IP" edit, the range and
// sensor type combo boxes, the numbers of the command line, the echo of long texts in messages,
// the setup window's dotted quads, numbers and every edit of its six actions, and the thermistor
// calibration window's user curve box and points. Each conversion either gives what the text
// says or a clear, well-formed error, and a refused text sends nothing.
//
// Input: [conversion] [channel] [text...]
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "admin/setup_input.h"
#include "admin/setup_window.h"
#include "calibration/th_cal.h"
#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "fuzz/fuzz_support.h"
#include "monitor/main_window.h"
#include "state/app.h"
#include "util/message_text.h"
#include "util/text_codec.h"

namespace zvk::fuzz {

namespace {

using harness::IsUtf8;

// An error a window shows for a typed text: well-formed, and one readable line.
void RequireClearError(const harness::HarnessSystem& h, const std::string& typed) {
  Require(h.dialogs.errors.size() == 1, "a refused text did not give one error box");
  const std::string& error = h.dialogs.errors.front();
  Require(!IsUtf8(typed) || IsUtf8(error), "the error for a typed text is not UTF-8: " + error);
  Require(error.size() <= 200, "the error for a typed text is not one line: " + error);
}

// The first n characters of UTF-8 text.
std::string FirstCharacters(const std::string& text, std::size_t n) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < n && at < text.size(); ++i) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return text.substr(0, at);
}

bool AllOf(const std::string& text, bool (*accept)(char)) {
  for (char c : text)
    if (!accept(c)) return false;
  return true;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void ModuleBytes(const std::string& bytes) {
  const std::string shown = ModuleTextToUtf8(bytes);
  Require(IsUtf8(shown), "module bytes did not become UTF-8");
  Require(Utf8ToModuleText(shown) == bytes, "module bytes did not survive a round trip");
}

void TypedText(const std::string& text) {
  try {
    const std::string bytes = Utf8ToModuleText(text);
    Require(ModuleTextToUtf8(bytes) == text, "a typed text did not survive a round trip");
  } catch (const TextCodecError& e) {
    Require(IsUtf8(e.what()), std::string("a codec error is not UTF-8: ") + e.what());
  }
}

// The "Static IP" button: the address is taken as typed, or refused with nothing changed; it
// sends nothing by itself (the identity request waits for the next tick).
void StaticIp(const std::string& text) {
  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  h.window.FormCreate();
  const std::string host = h.app.link.DeviceHost;
  h.window.form.device_ip.text = text;
  h.window.SpeedButton5Click();
  Require(h.network.connects == 0, "the Static IP button sent something");
  if (h.dialogs.errors.empty()) {
    Require(h.app.link.DeviceHost == text, "an accepted address is not the typed one");
  } else {
    RequireClearError(h, text);
    Require(h.app.link.DeviceHost == host, "a refused address changed the module's address");
  }
}

// A range box of the voltage module: the first character is the code.
void RangeBox(int ch, const std::string& text) {
  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  h.window.FormCreate();
  AssumeModel(h, wire::kModelKm3);
  peer.connects.push_back({});
  peer.replies.push_back(WholeReply({0x5A, 0x35, 0x77, 0xA5, 0xD6, 0x06}));
  h.window.form.range[ch].UserType(text);
  const std::string first = FirstCharacters(text, 1);
  if (first.size() == 1 && IsDigit(first[0])) {
    Require(h.network.frames.size() == 1, "a range code was not sent");
    Require(h.network.frames[0].at(6 + ch) == first[0] - '0', "the range code sent is not typed");
  } else {
    RequireClearError(h, text);
    Require(h.network.connects == 0, "a refused range text sent something");
  }
  RequireNoViolations(h);
}

// A sensor type box of the thermistor module: the first two characters are the hex code.
void SensorBox(int ch, const std::string& text) {
  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  h.window.FormCreate();
  AssumeModel(h, wire::kModelQn6);
  peer.connects.push_back({});
  peer.replies.push_back(WholeReply({0x5A, 0x35, 0x77, 0xA5, 0xD7, 0x15}));
  h.window.form.sensor_type[ch].UserType(text);
  const std::string code = FirstCharacters(text, 2);
  if (!code.empty() && AllOf(code, IsHexDigit)) {
    Require(h.network.frames.size() == 1, "a sensor type was not sent");
    Require(h.network.frames[0].at(5 + ch) == std::stoi(code, nullptr, 16),
            "the sensor type sent is not the typed one");
  } else {
    RequireClearError(h, text);
    Require(h.network.connects == 0, "a refused sensor text sent something");
  }
  RequireNoViolations(h);
}

void WholeNumber(const std::string& text) {
  try {
    const std::int64_t value = cli::ParseWholeNumber(text, "n");
    const std::size_t sign = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const std::string digits = text.substr(sign);
    Require(!digits.empty() && AllOf(digits, IsDigit), "not a whole number, taken as one: " + text);
    Require((value < 0) == (text[0] == '-' && value != 0), "a whole number lost its sign: " + text);
  } catch (const cli::CliError& e) {
    Require(e.exit_code() == cli::kExitUsage, "a malformed number is not a usage error");
  }
}

void Decimal(const std::string& text) {
  try {
    const double value = cli::ParseDecimal(text, "x");
    Require(value == value && value - value == 0, "a number that is not finite: " + text);
  } catch (const cli::CliError& e) {
    Require(e.exit_code() == cli::kExitUsage, "a malformed number is not a usage error");
  }
}

void Echo(const std::string& text) {
  const std::string shown = ShortenedForMessage(text);
  Require(text.size() > kEchoedTextLimit || shown == text, "a short text was changed");
  Require(shown.size() <= kEchoedTextLimit + 32, "a long text was echoed long");
  Require(!IsUtf8(text) || IsUtf8(shown), "a shortened text is no longer UTF-8");
}

// Exactly three dots between four runs of digits, each at most 255, and those are the bytes.
void DottedQuad(const std::string& text) {
  const auto bytes = DottedQuadBytes(text);
  Require(bytes.has_value() == IsDottedQuad(text), "the two dotted-quad checks disagree");
  std::array<int, 4> parts{};
  std::size_t part = 0;
  std::string digits;
  bool ok = true;
  for (std::size_t i = 0; i <= text.size() && ok; ++i) {
    if (i < text.size() && IsDigit(text[i])) {
      digits += text[i];
    } else if (i == text.size() || text[i] == '.') {
      const std::size_t first = digits.find_first_not_of('0');
      const std::string value = first == std::string::npos ? "0" : digits.substr(first);
      ok = !digits.empty() && part < 4 && value.size() <= 3 && std::stoi(value) <= 255;
      if (ok) parts[part++] = std::stoi(value);
      digits.clear();
    } else {
      ok = false;
    }
  }
  ok = ok && part == 4;
  Require(ok == bytes.has_value(), "a dotted quad judged wrongly: " + text);
  if (ok)
    for (std::size_t i = 0; i < 4; ++i) Require((*bytes)[i] == parts[i], "a quad's bytes differ");
}

// A whole number within 32 bits with an optional sign, or the conversion's error, one line.
void SetupNumber(const std::string& text) {
  std::string error;
  const auto value = StrToInt(text, &error);
  if (value) {
    const std::size_t sign = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    Require(text.size() > sign && AllOf(text.substr(sign), IsDigit), "not a number: " + text);
    Require(std::to_string(*value) == std::to_string(std::stoll(text)), "a number misread");
  } else {
    Require(error.size() <= 200 && (!IsUtf8(text) || IsUtf8(error)), "an unclear error: " + error);
  }
}

// One action of the setup window with the text in one of its edits (the others valid, every
// question answered Yes): refused with its error box and nothing sent, or done with exactly the
// module's 8-bit bytes of the text written.
void SetupAction(std::uint8_t which, const std::string& text) {
  AckPeer peer;
  harness::HarnessSystem h(peer);
  h.window.FormCreate();
  AssumeModel(h, wire::kModelQn6);
  SetupWindow& w = h.system.setup_window;
  w.FormActivate();
  SetupForm& f = w.form;
  f.ap_ssid.text = f.station_ssid.text = "zVK";
  f.ap_key_wpa.UserClick();
  f.station_key_wpa.UserClick();
  f.ap_key.text = f.station_key.text = "12345678";
  f.location.text = "Lab";
  f.web_key.text = "key";
  f.modbus_port.text = "502";
  f.static_ip_address.text = "192.168.1.10";
  f.static_ip_mask.text = "255.255.255.0";
  f.static_ip_gateway.text = "192.168.1.1";
  f.modbus_timeout.text = "30";
  f.static_ip.SetChecked(true);
  struct Field {
    Edit* edit;
    void (SetupWindow::*action)();
    bool module_text;  // written as the module's 8-bit bytes of the text
  };
  const Field fields[] = {
      {&f.ap_ssid, &SetupWindow::Image2Click, true},
      {&f.ap_key, &SetupWindow::Image2Click, true},
      {&f.station_ssid, &SetupWindow::Image3Click, true},
      {&f.station_key, &SetupWindow::Image3Click, true},
      {&f.location, &SetupWindow::Image6Click, true},
      {&f.web_key, &SetupWindow::Image5Click, false},
      {&f.modbus_port, &SetupWindow::Image9Click, false},
      {&f.static_ip_address, &SetupWindow::Image10Click, false},
      {&f.static_ip_mask, &SetupWindow::Image10Click, false},
      {&f.static_ip_gateway, &SetupWindow::Image10Click, false},
      {&f.modbus_timeout, &SetupWindow::Image9Click, false},
  };
  const Field& field = fields[which % std::size(fields)];
  field.edit->text = text;
  (w.*field.action)();
  for (const std::string& box : h.dialogs.boxes)
    Require(IsUtf8(box) && box.size() <= 400, "an unclear box: " + box);
  if (w.last_outcome == SetupOutcome::Refused) {
    Require(h.network.connects == 0, "a refused setup text sent something");
  } else {
    Require(w.last_outcome == SetupOutcome::Done, "a setup action neither refused nor done");
    if (field.module_text) {
      const std::string bytes = Utf8ToModuleText(text);
      const Bytes content(bytes.begin(), bytes.end());
      Require(std::find(h.network.frames.begin(), h.network.frames.end(), content) !=
                  h.network.frames.end(),
              "the text written is not the module's bytes of the typed one");
    }
  }
  RequireNoViolations(h);
}

// The thermistor calibration window: the text in its user curve box or one of the six points,
// then a save (answered Yes). Refused with an error box and nothing sent, or saved.
void UserCurve(std::uint8_t which, const std::string& text) {
  AckPeer peer;
  harness::HarnessSystem h(peer);
  h.window.FormCreate();
  AssumeModel(h, wire::kModelQn6);
  ThermistorCalibrationWindow& w = h.system.thermistor_calibration;
  w.FormActivate();
  ThermistorCalibrationForm& f = w.form;
  Edit* edits[] = {&f.hi_degrees, &f.mid_degrees, &f.low_degrees,
                   &f.hi_ohms,    &f.mid_ohms,    &f.low_ohms};
  if (which % 7 == 6) {
    f.user_curve.UserType(text);
  } else {
    edits[which % 7]->text = text;
    w.SpeedButton2Click();
  }
  for (const std::string& e : h.dialogs.errors)
    Require(IsUtf8(e) && e.size() <= 300, "an unclear error: " + e);
  Require(w.SelectedUserCurve < 8, "a user curve outside the table");
  if (!h.dialogs.errors.empty())
    Require(h.network.connects == 0, "a refused curve text sent something");
  RequireNoViolations(h);
}

}  // namespace

int RunTexts(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t which = in.Byte();
  const std::uint8_t channel = in.Byte();
  const Bytes rest = in.Rest();
  const std::string text(rest.begin(), rest.end());
  // The windows and the command line receive text as well-formed UTF-8.
  const bool typed = IsUtf8(text);
  switch (which % 12) {
    case 0:
      ModuleBytes(text);
      break;
    case 1:
      TypedText(text);
      break;
    case 2:
      if (typed) StaticIp(text);
      break;
    case 3:
      if (typed) RangeBox(channel % 5, text);
      break;
    case 4:
      if (typed) SensorBox(channel % 8, text);
      break;
    case 5:
      WholeNumber(text);
      break;
    case 6:
      Decimal(text);
      break;
    case 7:
      Echo(text);
      break;
    case 8:
      DottedQuad(text);
      break;
    case 9:
      SetupNumber(text);
      break;
    case 10:
      if (typed) SetupAction(channel, text);
      break;
    case 11:
      if (typed) UserCurve(channel, text);
      break;
  }
  return 0;
}

}  // namespace zvk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zvk::fuzz::RunTexts(data, size);
}
