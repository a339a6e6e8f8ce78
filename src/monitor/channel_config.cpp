#include "monitor/channel_config.h"

#include <algorithm>
#include <charconv>

#include "link/discovery.h"
#include "link/exchange.h"
#include "monitor/main_form.h"
#include "state/app.h"
#include "util/message_text.h"

namespace zvk {

namespace {

std::optional<int> ParseInt(const std::string& digits, int base) {
  int value = 0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  auto [end, ec] = std::from_chars(first, last, value, base);
  // Signs are not part of a code.
  if (digits.empty() || digits[0] == '-' || ec != std::errc() || end != last) return std::nullopt;
  return value;
}

void ConversionError(App& app, const std::string& converted) {
  app.seams.dialogs.ErrorBox("'" + converted + "' is not a valid integer value");
}

}  // namespace

bool ReadAnalogControls(App& app, const MainForm& f) {
  MeasurementState& m = app.meas;
  m.SamplingMode = f.sampling_normal.checked() ? 0 : 1;
  for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
    const std::string& text = f.range[ch].text();
    auto code = RangeCodeOfText(text);
    if (!code) {
      ConversionError(app, FirstCharacters(text, 1));
      return false;
    }
    m.RangeCode[ch] = static_cast<std::uint8_t>(*code);
  }
  return true;
}

namespace {

void AnalogControlChanged(App& app, const MainForm& f) {
  if (app.discovery.SupervisionTicks == 30) return;
  // Raised by the refresh inside a reply decoding (a radio button checked before the range
  // boxes are refreshed): nothing could be sent while the link is busy, and reading the
  // not-yet-refreshed boxes would overwrite the ranges the module just reported.
  if (app.link.LinkBusy) return;
  if (ReadAnalogControls(app, f)) SendRangeConfig(app);
}

}  // namespace

std::optional<int> RangeCodeOfText(const std::string& text) {
  return ParseInt(FirstCharacters(text, 1), 10);
}

std::optional<int> SensorCodeOfText(const std::string& text) {
  return ParseInt(FirstCharacters(text, 2), 16);
}

int SensorItemIndex(std::uint8_t sensor_type) {
  if (sensor_type >= 0x60 && sensor_type <= 0x6C) return sensor_type - 0x5F;
  if (sensor_type >= 0x70 && sensor_type <= 0x77) return sensor_type - 0x62;
  return 0;
}

bool SendRangeConfig(App& app) {
  if (!SelectDevice(app.link)) return false;
  auto& frame = app.link.CommandFrame;
  app.link.PendingCommand = wire::CMD_SET_RANGE_CONFIG;
  frame[4] = wire::CMD_SET_RANGE_CONFIG;
  frame[wire::rangecfg::kSamplingMode] = app.meas.SamplingMode;
  std::copy(app.meas.RangeCode.begin(), app.meas.RangeCode.end(),
            frame.begin() + wire::rangecfg::kRangeCodes);
  return Transact(app.link, wire::kLenRangeConfig);
}

void SendChannelConfig(App& app) {
  if (!SelectDevice(app.link)) return;
  if (app.link.PendingCommand != 0) return;
  auto& frame = app.link.CommandFrame;
  const MeasurementState& m = app.meas;
  app.link.PendingCommand = wire::CMD_SET_TH_CONFIG;
  frame[4] = wire::CMD_SET_TH_CONFIG;
  std::copy(m.SensorType.begin(), m.SensorType.end(), frame.begin() + wire::thcfg::kSensorTypes);
  std::copy(m.Fahrenheit.begin(), m.Fahrenheit.end(), frame.begin() + wire::thcfg::kFahrenheit);
  for (int ch = 0; ch < 8; ++ch)
    frame[wire::thcfg::kOffsets + ch] = static_cast<std::uint8_t>(m.TempOffset[ch]);
  Transact(app.link, wire::kLenThConfig);
  app.discovery.SupervisionTicks = 0;
}

void RefreshAnalogControls(App& app, MainForm& f) {
  const MeasurementState& m = app.meas;
  if (m.SamplingMode != 0)
    f.sampling_fast.SetChecked(true);
  else
    f.sampling_normal.SetChecked(true);
  for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
    ComboBox& combo = f.range[ch];
    // A code without an item keeps the box as it is; its value label says "Range?".
    if (m.RangeCode[ch] >= combo.items.size()) continue;
    auto shown = RangeCodeOfText(combo.text());
    if (!shown || *shown != m.RangeCode[ch]) combo.SetItemIndex(m.RangeCode[ch]);
  }
}

void RefreshThermistorControls(App& app, MainForm& f) {
  const MeasurementState& m = app.meas;
  for (int ch = 0; ch < wire::kThermistorChannels; ++ch)
    f.fahrenheit[ch].SetChecked(m.Fahrenheit[ch] != 0);
  for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
    ComboBox& combo = f.sensor_type[ch];
    auto shown = SensorCodeOfText(combo.text());
    if (!shown || *shown != m.SensorType[ch]) combo.SetItemIndex(SensorItemIndex(m.SensorType[ch]));
  }
  for (int ch = 0; ch < wire::kThermistorChannels; ++ch) f.offset[ch].SetValue(m.TempOffset[ch]);
}

void RangeConfigReply(App& app) {
  if (app.link.ReplyBuffer[wire::kReplyStatus] != wire::ACK) return;
  app.link.PendingCommand = 0;
  app.Log("Set_Range_Cfg Done!!");
}

void ConnectChannelHandlers(App& app, MainForm& f) {
  for (auto& combo : f.range) combo.on_change = [&app, &f] { AnalogControlChanged(app, f); };
  f.sampling_normal.on_click = [&app, &f] { AnalogControlChanged(app, f); };
  f.sampling_fast.on_click = [&app, &f] { AnalogControlChanged(app, f); };
  for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
    f.fahrenheit[ch].on_click = [&app, &f, ch] {
      app.meas.Fahrenheit[ch] = f.fahrenheit[ch].checked() ? 1 : 0;
      SendChannelConfig(app);
    };
    f.sensor_type[ch].on_change = [&app, &f, ch] {
      const std::string& text = f.sensor_type[ch].text();
      auto code = SensorCodeOfText(text);
      if (!code) {
        ConversionError(app, "0x" + FirstCharacters(text, 2));
        return;
      }
      app.meas.SensorType[ch] = static_cast<std::uint8_t>(*code);
      SendChannelConfig(app);
    };
    f.offset[ch].on_change = [&app, &f, ch] {
      app.meas.TempOffset[ch] = static_cast<std::int8_t>(f.offset[ch].value() & 0xFF);
      SendChannelConfig(app);
    };
  }
}

}  // namespace zvk
