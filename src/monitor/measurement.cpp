#include "monitor/measurement.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "link/exchange.h"
#include "monitor/channel_config.h"
#include "monitor/device_info.h"
#include "monitor/main_form.h"
#include "state/app.h"
#include "thermistor/convert.h"
#include "util/byte_order.h"
#include "util/format_fixed.h"

namespace zvk {

namespace {

constexpr const char* kDegreeCelsius = "\u2103";
constexpr const char* kDegreeFahrenheit = "\u2109";

// "AD0 => -2 : FFFFFFFE": the reading as signed decimal, then sign-extended to 32 bits in
// upper-case hexadecimal of at least four digits.
void LogReading(App& app, int ch) {
  const auto value = static_cast<std::int16_t>(app.meas.RawReading[ch]);
  char line[32] = "AD0 => ";
  line[2] = static_cast<char>('0' + ch);
  char* p = std::to_chars(line + 7, line + 14, int{value}).ptr;
  p = std::copy_n(" : ", 3, p);
  char hex[8];
  char* hex_end =
      std::to_chars(hex, hex + sizeof hex, static_cast<std::uint32_t>(std::int32_t{value}), 16).ptr;
  p = std::fill_n(p, std::max<std::ptrdiff_t>(4 - (hex_end - hex), 0), '0');
  p = std::transform(hex, hex_end, p,
                     [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
  app.Log(std::string(line, p));
}

}  // namespace

bool SendDataPoll(App& app) {
  app.link.PendingCommand = wire::CMD_READ_DATA;
  app.link.CommandFrame[4] = wire::CMD_READ_DATA;
  return Transact(app.link, wire::kLenReadData);
}

void DecodeDataReply(App& app, MainForm& f) {
  namespace d = wire::data;
  const std::uint8_t* r = app.link.ReplyBuffer.data();
  MeasurementState& m = app.meas;
  if (r[wire::kReplyStatus] != wire::ACK) return;

  if (const std::uint16_t rssi = GetBe16(r + d::kRssi); rssi != 0) f.rssi.caption = RssiText(rssi);

  if (app.device.ModelCode == wire::kModelKm3) {
    m.SamplingMode = r[d::kKm3SamplingMode];
    std::copy_n(r + d::kKm3RangeCodes, wire::kAnalogChannels, m.RangeCode.begin());
    std::copy_n(r + d::kKm3AnalogRef, wire::kAnalogRefBlockSize, m.AnalogRefBlock.begin());
    RefreshAnalogControls(app, f);
    RebuildRangeTable(app);
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch)
      m.RawReading[ch] = GetBe16(r + d::kRawReadings + 2 * ch);
    m.VrefCount = GetBe16(r + d::kKm3VrefCount);
  } else {
    m.ThermistorRefCount = GetBe16(r + d::kQn6RefCount);
    if (m.ThermistorRefCount == 0) m.ThermistorRefCount = wire::kDefaultThermistorRefCount;
    app.VoltsPerCount = 2.5 / m.ThermistorRefCount;
    std::copy_n(r + d::kQn6SensorTypes, 8, m.SensorType.begin());
    std::copy_n(r + d::kQn6Fahrenheit, 8, m.Fahrenheit.begin());
    for (int ch = 0; ch < 8; ++ch)
      m.TempOffset[ch] = static_cast<std::int8_t>(r[d::kQn6Offsets + ch]);
    for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
      m.RawReading[ch] = GetBe16(r + d::kRawReadings + 2 * ch);
      m.ThermistorResult[ch] =
          ConvertThermistor(m.RawReading[ch], m.SensorType[ch], app.VoltsPerCount, app.sensors);
    }
    m.VrefCount = GetBe16(r + d::kQn6VrefCount);
    LoadUserCurveRecord(app.curves, r + d::kQn6UserCurves);
    RefreshUserCurveOhms(app.curves);
  }
  RefreshReadings(app, f);
  ++m.DataRepliesDecoded;
  m.Freshness = ReadingsFreshness::Fresh;
  app.link.PendingCommand = 0;
}

void DecodeStatusOnlyReply(App& app, MainForm& f) {
  const std::uint8_t* r = app.link.ReplyBuffer.data();
  if (r[wire::kReplyCode] == wire::CMD_READ_DATA && r[wire::kReplyStatus] == wire::ACK)
    RefreshReadings(app, f);
}

void RebuildRangeTable(App& app) {
  MeasurementState& m = app.meas;
  for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
    m.RangeTable[ch][3] = GetLeDouble(m.AnalogRefBlock.data() + wire::kActiveRefOffset + 8 * ch);
    // "range_div[0] : 0.00003911556659", made in one buffer.
    std::string line;
    line.reserve(40);
    line += "range_div[";
    line += static_cast<char>('0' + ch);
    line += "] : ";
    AppendFormatFixed(line, m.RangeTable[ch][3], 16, 14);
    app.Log(std::move(line));
  }
  DeriveRanges(m);
}

void DeriveRanges(MeasurementState& m) {
  for (auto& row : m.RangeTable) {
    row[2] = row[3] * 2.0;
    row[1] = row[2] * 2.0;
    row[0] = row[1] * 2.0;
  }
}

void RefreshReadings(App& app, MainForm& f) {
  LogReading(app, 0);
  LogReading(app, 1);
  MeasurementState& m = app.meas;
  if (app.device.ModelCode == wire::kModelKm3) {
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
      m.AnalogReading[ch] = AnalogReading(app, ch);
      f.analog_value[ch].caption = m.AnalogReading[ch].text;
    }
  } else if (app.device.ModelCode == wire::kModelQn6) {
    for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
      m.ThermistorReading[ch] = ThermistorReading(app, ch);
      f.thermistor_value[ch].caption = m.ThermistorReading[ch].text;
    }
    RefreshThermistorControls(app, f);
  }
}

Reading AnalogReading(const App& app, int ch) {
  const MeasurementState& m = app.meas;
  Reading r;
  r.channel = kAnalogChannelNames[ch];
  r.unit = ReadingUnit::Volt;
  const std::uint8_t code = m.RangeCode[ch];
  // A code the module reports without a scale of ours shows no made-up volts.
  if (code > 3) {
    r.state = ReadingState::Unreadable;
    r.text = "Range?";
    return r;
  }
  const double volts = static_cast<std::int16_t>(m.RawReading[ch]) * m.RangeTable[ch][code];
  const double shown = AppendFormatFixedValue(r.text, volts, 5, 4);
  r.text += "V";
  // A scale from the module's reference file can give no finite number ("NANV").
  if (std::isfinite(shown)) {
    r.value = shown;
    r.state = ReadingState::Ok;
  } else {
    r.state = ReadingState::Unreadable;
  }
  return r;
}

Reading ThermistorReading(const App& app, int ch) {
  const MeasurementState& m = app.meas;
  Reading r;
  r.channel = kThermistorChannelNames[ch];
  r.unit = m.Fahrenheit[ch] == 0 ? ReadingUnit::Celsius : ReadingUnit::Fahrenheit;
  const std::int32_t v = m.ThermistorResult[ch];
  if (v == RESULT_DISABLED) {
    r.state = ReadingState::Disable;
    r.text = "Disable";
    return r;
  }
  if (v == RESULT_OVER) {
    r.state = ReadingState::OverRange;
    r.text = "Over Range";
    return r;
  }
  if (v == RESULT_UNDER) {
    r.state = ReadingState::UnderRange;
    r.text = "Under Range";
    return r;
  }
  r.state = ReadingState::Ok;
  if (m.Fahrenheit[ch] == 0) {
    // Tenths of a degree: the text is the integer with a point before its last digit.
    const std::int32_t tenths = v + m.TempOffset[ch];
    std::string s = std::to_string(tenths);
    const std::size_t sign = (s[0] == '-') ? 1 : 0;
    if (s.size() - sign == 1) s.insert(sign, "0");
    s.insert(s.size() - 1, ".");
    r.text = s + kDegreeCelsius;
    r.value = tenths / 10.0;
    return r;
  }
  const double c = v / 10.0;
  double fahrenheit = c * 1.8 + 32;
  fahrenheit = fahrenheit + m.TempOffset[ch] * 0.1;
  r.value = AppendFormatFixedValue(r.text, fahrenheit, 4, 1);
  r.text += kDegreeFahrenheit;
  return r;
}

std::string FormatThermistorValue(const App& app, int ch) {
  return ThermistorReading(app, ch).text;
}

}  // namespace zvk
