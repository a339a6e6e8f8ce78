#include "record/sample.h"

#include "monitor/main_form.h"

namespace zvk {

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
