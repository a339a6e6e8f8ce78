#include "record/sample.h"

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
  if (f.GroupBox1.visible) {
    take(f.AnalogCaption, f.AnalogValue);
  } else if (f.GroupBox2.visible) {
    take(f.ThermistorCaption, f.ThermistorValue);
  }
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
  const DeviceConfig& dev = app_.device;
  s.module = dev.DevMac;
  // The location is the module's only while its record was read whole (the MAC is known).
  if (!dev.DevMac.empty()) {
    // A module text, in the module's 8-bit code page; trailing blanks are padding.
    std::string location = ModuleTextToUtf8(dev.DeviceLocation);
    while (!location.empty() && (location.back() == ' ' || location.back() == '\0'))
      location.pop_back();
    s.module_name = !location.empty()                  ? location
                    : dev.ModelCode == wire::kModelKm3 ? "zVK-KM3 " + dev.DevMac
                                                       : "zVK-QN6 " + dev.DevMac;
  }
  switch (outcome) {
    case PollOutcome::Readings:
      ShownChannels(form_, s.names, s.texts);
      s.kind = s.names.empty() ? SampleKind::Gap : SampleKind::Readings;
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
