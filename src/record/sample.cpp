#include "record/sample.h"

#include <algorithm>

#include "link/wire.h"
#include "monitor/main_form.h"
#include "util/text_codec.h"

namespace zvk {

bool OfAnotherModule(const Sample& sample, const std::string& module) {
  switch (sample.kind) {
    case SampleKind::Readings:
      return sample.module != module;
    case SampleKind::Gap:
      return !sample.module.empty() && sample.module != module;
    case SampleKind::Pause:
      break;
  }
  return false;
}

void ShownChannels(const MainForm& f, std::vector<std::string>& names,
                   std::vector<std::string>& texts) {
  names.clear();
  texts.clear();
  auto take = [&](const auto& captions, const auto& values) {
    for (std::size_t ch = 0; ch < values.size(); ++ch) {
      names.push_back(captions[ch].caption);
      texts.push_back(values[ch].caption);
    }
  };
  if (f.analog_group.visible) {
    take(f.analog_caption, f.analog_value);
  } else if (f.thermistor_group.visible) {
    take(f.thermistor_caption, f.thermistor_value);
  }
}

std::vector<Reading> ShownReadings(const App& app, const MainForm& f) {
  if (f.analog_group.visible) return {app.meas.AnalogReading.begin(), app.meas.AnalogReading.end()};
  if (f.thermistor_group.visible)
    return {app.meas.ThermistorReading.begin(), app.meas.ThermistorReading.end()};
  return {};
}

std::vector<std::string> ChannelsOf(const std::vector<Reading>& readings) {
  std::vector<std::string> names;
  names.reserve(readings.size());
  for (const Reading& r : readings) names.push_back(r.channel);
  return names;
}

bool SameChannels(const std::vector<Reading>& readings, const std::vector<std::string>& channels) {
  return std::equal(readings.begin(), readings.end(), channels.begin(), channels.end(),
                    [](const Reading& r, const std::string& ch) { return r.channel == ch; });
}

std::vector<std::string> TextsOf(const std::vector<Reading>& readings) {
  std::vector<std::string> texts;
  texts.reserve(readings.size());
  for (const Reading& r : readings) texts.push_back(r.text);
  return texts;
}

std::string ModelName(std::uint8_t model_code) {
  if (model_code == wire::kModelKm3) return "zVK-KM3";
  if (model_code == wire::kModelQn6) return "zVK-QN6";
  return "";
}

ModuleIdentity ModuleOf(const DeviceConfig& dev) {
  ModuleIdentity m;
  m.model_code = dev.ModelCode;
  m.mac = dev.DevMac;
  // The rest is the module's only while its record was read whole (the MAC is known).
  if (dev.DevMac.empty()) return m;
  m.firmware = dev.DevFirmware;
  // A module text, in the module's 8-bit code page; trailing blanks are padding.
  m.location = ModuleTextToUtf8(dev.DeviceLocation);
  while (!m.location.empty() && (m.location.back() == ' ' || m.location.back() == '\0'))
    m.location.pop_back();
  return m;
}

std::string ModuleName(const ModuleIdentity& m) {
  if (m.mac.empty()) return "";
  return !m.location.empty() ? m.location : ModelName(m.model_code) + " " + m.mac;
}

PollSampler::PollSampler(App& app, const MainForm& form, WallClock clock, Sink sink)
    : app_(app), form_(form), clock_(std::move(clock)), sink_(std::move(sink)) {
  app_.on_poll = [this](PollOutcome outcome) { sink_(Take(outcome)); };
}

PollSampler::~PollSampler() {
  app_.on_poll = nullptr;
}

Sample PollSampler::Take(PollOutcome outcome) const {
  Sample s;
  s.time = clock_();
  s.identity = ModuleOf(app_.device);
  s.module = s.identity.mac;
  s.module_name = ModuleName(s.identity);
  switch (outcome) {
    case PollOutcome::Readings:
      s.readings = ShownReadings(app_, form_);
      s.kind = s.readings.empty() ? SampleKind::Gap : SampleKind::Readings;
      break;
    case PollOutcome::NoReadings:
      s.kind = SampleKind::Gap;
      break;
    case PollOutcome::Paused:
      s.kind = SampleKind::Pause;
      break;
  }
  return s;
}

}  // namespace zvk
