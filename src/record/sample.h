// One look at the readings after a poll, taken from what the main window shows, and the sampler
// that takes one after every supervision tick.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "state/app.h"

namespace zvk {

struct MainForm;

using TimePoint = std::chrono::system_clock::time_point;
// Where the time of a sample comes from: the system clock, or a clock a test or a screenshot
// moves itself.
using WallClock = std::function<TimePoint()>;
inline WallClock SystemWallClock() {
  return [] { return std::chrono::system_clock::now(); };
}

enum class SampleKind {
  Readings,  // the values the window shows after an answered poll
  Gap,       // a poll that brought no values
  Pause,     // polling paused by a modal window: no poll, and no row for it
};

struct Sample {
  TimePoint time;
  SampleKind kind = SampleKind::Gap;
  std::vector<std::string> names;  // channel captions ("AI0", "TH3"), Readings only
  std::vector<std::string> texts;  // each channel's value as shown ("1.2346V", "Disable")
  // The module the main window was identified with when the sample was taken: its MAC from the
  // identity record ("02:5A:51:36:00:01"), empty when none was read whole, and what a person
  // calls it (its location, else its model and MAC). Readings of another module than the last
  // ones must not continue the last module's series, file or topics.
  std::string module;
  std::string module_name;
};

// Whether `sample` comes from another module than `module` (a MAC as Sample::module holds it):
// readings always say whose they are; a gap only when it names a module (one that came before
// any identity record belongs to the module watched so far).
bool OfAnotherModule(const Sample& sample, const std::string& module);

// The captions and value texts of the channel group the window shows; both empty when it
// shows none (no module identified).
void ShownChannels(const MainForm& f, std::vector<std::string>& names,
                   std::vector<std::string>& texts);

// Takes a sample after every supervision tick of the main window and hands it on. Installs
// itself as the state's poll observer for its lifetime.
class PollSampler {
 public:
  using Sink = std::function<void(const Sample&)>;
  PollSampler(App& app, const MainForm& form, WallClock clock, Sink sink);
  ~PollSampler();
  PollSampler(const PollSampler&) = delete;
  PollSampler& operator=(const PollSampler&) = delete;

  Sample Take(PollOutcome outcome) const;

 private:
  App& app_;
  const MainForm& form_;
  WallClock clock_;
  Sink sink_;
};

}  // namespace zvk
