#include "harness/soak.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "harness/harness_system.h"
#include "link/wire.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::harness {

namespace {

constexpr long kTimerMs = 100;

const Bytes kIdentityRequest{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0, 0};
const Bytes kDataPoll{0x5A, 0x35, 0x77, 0xA5, wire::CMD_READ_DATA};
const Bytes kLocate{0x5A, 0x35, 0x77, 0xA5, wire::CMD_SET_LOCATOR, 0, 0};

std::string Hex(const Bytes& bytes) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < bytes.size() && i < 16; ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", unsigned{bytes[i]});
    text += byte;
  }
  return bytes.size() > 16 ? text + " ..." : text;
}

// What the window shows of the module: identity, values and settings, named.
std::vector<std::pair<std::string, std::string>> Shown(const MainWindow& w, sim::Model model) {
  const MainForm& f = w.form;
  std::vector<std::pair<std::string, std::string>> shown{{"model", f.module_state.caption},
                                                         {"location", f.location_text.caption},
                                                         {"signal", f.rssi.caption}};
  if (model == sim::Model::Km3) {
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
      const std::string name = "AI" + std::to_string(ch);
      shown.emplace_back(name, f.analog_value[ch].caption);
      shown.emplace_back(name + " range", f.range[ch].text());
    }
    shown.emplace_back("sampling", f.sampling_fast.checked() ? "Fast" : "Normal");
  } else {
    for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
      const std::string name = "TH" + std::to_string(ch);
      shown.emplace_back(name, f.thermistor_value[ch].caption);
      shown.emplace_back(name + " sensor", f.sensor_type[ch].text());
      shown.emplace_back(name + " unit", f.fahrenheit[ch].checked() ? "F" : "C");
      shown.emplace_back(name + " offset", f.offset[ch].text());
    }
  }
  return shown;
}

class Soak {
 public:
  explicit Soak(const SoakOptions& options)
      : options_(options), peer_(options.model, options.seed), h_(peer_), now_(h_.network.now_ms) {
    peer_.clock = &h_.network.now_ms;
    peer_.fault_percent = options.fault_percent;
    peer_.on_frame = [this](const Bytes& frame) { CheckFrame(frame); };
    h_.pump.on_events = [this] { FireDueTimers(); };
    h_.app.on_status = [this](const std::string& text) {
      if (text != "Set Locator done!") return;
      // Success is shown only for a locator command the module received.
      if (peer_.module.locator_count == locates_before_)
        h_.Violation("\"Set Locator done!\" shown, but the module never got the command");
      locate_asked_ = false;
    };
    // The module's location in its own 8-bit characters: "Büro 3 €".
    peer_.module.config.location =
        "B\xFC"
        "ro 3 \x80";
  }

  SoakReport Run() {
    report_.model = options_.model;
    report_.seed = options_.seed;
    MainWindow& w = h_.window;
    w.FormCreate();
    w.FormActivate();
    while (cycles_ < options_.cycles) Step(true);
    peer_.StopFaults();
    h_.hosts.matches = 1;
    const long stopped_at = cycles_;
    // Two supervision cycles: each runs when its tick comes, so the second has run once the
    // tick after it is due.
    while (cycles_ < stopped_at + 2) Step(false);
    while (h_.app.discovery.SupervisionTicks != 0 && h_.app.discovery.SupervisionTicks < 30)
      Step(false);
    Compare();
    Finish();
    return std::move(report_);
  }

 private:
  // One pass of the event loop at the top: the clock moves to the next timer, which fires.
  void Step(bool with_faults) {
    now_ = std::max(now_, std::min(next_timer1_, next_timer3_));
    const std::size_t violations = h_.violations().size();
    try {
      FireDueTimers();
      if (with_faults) Disturb();
    } catch (const std::exception& e) {
      h_.Violation(std::string("an error escaped a tick: ") + e.what());
    }
    h_.CheckIdle("after a tick");
    if (h_.violations().size() > violations && peer_.current)
      ++failed_[static_cast<int>(*peer_.current)];
    // The hidden log is never shown; a long run must not keep all of it.
    h_.app.log_lines.clear();
  }

  // Timer ticks that are due, as the event loop runs them, also inside an exchange's waits. A
  // timer does not interrupt its own tick; Timer3 stops itself for its tick.
  void FireDueTimers() {
    MainWindow& w = h_.window;
    if (!in_timer1_ && now_ >= next_timer1_) {
      next_timer1_ = now_ + kTimerMs;
      in_timer1_ = true;
      w.Timer1Timer();
      in_timer1_ = false;
    }
    if (w.Timer3Enabled() && now_ >= next_timer3_) {
      ++report_.ticks;
      if (h_.app.discovery.SupervisionTicks == 30) Supervision();
      w.Timer3Timer();
      next_timer3_ = now_ + kTimerMs;
    }
  }

  void Supervision() {
    ++cycles_;
    if (!peer_.faults) return;
    peer_.MaybeDropOff();
    // The PC's Wi-Fi goes away for a cycle or three, now and then.
    if (wifi_back_at_ > 0 && cycles_ >= wifi_back_at_) {
      h_.hosts.matches = 1;
      wifi_back_at_ = 0;
    } else if (wifi_back_at_ == 0 && peer_.Uniform(1, 100) == 1) {
      h_.hosts.matches = 0;
      wifi_back_at_ = cycles_ + peer_.Uniform(1, 3);
      ++peer_.injected[static_cast<int>(Fault::WifiLost)];
    }
  }

  // Between ticks: the user acts now and then, and the module's inputs move.
  void Disturb() {
    if (peer_.Uniform(1, 150) == 1) UserAction();
    if (peer_.Uniform(1, 40) == 1) MoveInputs();
  }

  void UserAction() {
    ++report_.user_actions;
    MainWindow& w = h_.window;
    MainForm& f = w.form;
    const int choice = peer_.Uniform(1, 10);
    if (choice <= 3) {
      if (!locate_asked_) locates_before_ = peer_.module.locator_count;
      locate_asked_ = true;
      w.Image3Click();
      return;
    }
    if (choice <= 5) {
      w.Image2Click();
      return;
    }
    changing_setting_ = true;
    const int ch = peer_.Uniform(0, 7);
    if (options_.model == sim::Model::Km3) {
      if (choice <= 8)
        f.range[ch % wire::kAnalogChannels].UserPick(peer_.Uniform(0, 3));
      else
        (f.sampling_normal.checked() ? f.sampling_fast : f.sampling_normal).UserClick();
    } else if (choice <= 7) {
      f.fahrenheit[ch].UserClick();
    } else if (choice <= 9) {
      f.sensor_type[ch].UserPick(peer_.Uniform(0, 21));
    } else {
      f.offset[ch].UserSetValue(peer_.Uniform(-127, 127));
    }
    changing_setting_ = false;
  }

  void MoveInputs() {
    sim::Module& m = peer_.module;
    const int ch = peer_.Uniform(0, 7);
    if (options_.model == sim::Model::Km3)
      m.volts[ch % wire::kAnalogChannels] = peer_.Uniform(-10000, 10000) / 1000.0;
    else
      m.ohms[ch] = peer_.Uniform(300, 400000);
    m.rssi = static_cast<std::uint16_t>(65536 - peer_.Uniform(30, 95));
  }

  // Nothing goes out but the identity request, the data poll and what the user asked for.
  void CheckFrame(const Bytes& frame) {
    if (frame == kIdentityRequest || frame == kDataPoll) return;
    if (frame == kLocate && locate_asked_) return;
    const std::uint8_t setting =
        options_.model == sim::Model::Km3 ? wire::CMD_SET_RANGE_CONFIG : wire::CMD_SET_TH_CONFIG;
    const std::size_t length =
        options_.model == sim::Model::Km3 ? wire::kLenRangeConfig : wire::kLenThConfig;
    if (changing_setting_ && frame.size() == length && frame[wire::kReplyCode] == setting) return;
    h_.Violation("sent " + Hex(frame) + ", which nobody asked for");
  }

  // The window two cycles after the faults stopped against a fresh one on the same module.
  void Compare() {
    FaultyModule clean(options_.model, options_.seed);
    clean.module = peer_.module;
    clean.StopFaults();
    HarnessSystem fresh(clean);
    clean.clock = &fresh.network.now_ms;
    fresh.window.FormCreate();
    fresh.window.FormActivate();
    fresh.window.Timer3Timer();  // the identity request
    fresh.app.discovery.SupervisionTicks = 30;
    fresh.window.Timer3Timer();  // one data poll
    if (!fresh.app.device.Identified)
      report_.mismatches.push_back("a fresh window did not identify the module");
    const auto expected = Shown(fresh.window, options_.model);
    const auto shown = Shown(h_.window, options_.model);
    for (std::size_t i = 0; i < expected.size(); ++i)
      if (shown[i].second != expected[i].second)
        report_.mismatches.push_back(expected[i].first + " shows '" + shown[i].second + "', not '" +
                                     expected[i].second + "'");
  }

  void Finish() {
    report_.cycles = cycles_;
    report_.exchanges = h_.network.connects;
    report_.decoded = h_.dispatches;
    report_.virtual_seconds = now_ / 1000;
    report_.injected = peer_.injected;
    for (int k = 0; k < kFaultKinds; ++k) report_.survived[k] = peer_.injected[k] - failed_[k];
    report_.violations = h_.violations();
  }

  SoakOptions options_;
  FaultyModule peer_;
  HarnessSystem h_;
  long& now_;  // the virtual clock of the network
  SoakReport report_;
  long cycles_ = 0;
  long next_timer1_ = kTimerMs;
  long next_timer3_ = kTimerMs;
  bool in_timer1_ = false;
  long wifi_back_at_ = 0;
  bool locate_asked_ = false;
  int locates_before_ = 0;
  bool changing_setting_ = false;
  std::array<long, kFaultKinds> failed_{};
};

}  // namespace

SoakReport RunSoak(const SoakOptions& options) {
  return Soak(options).Run();
}

std::string FormatReport(const SoakReport& r) {
  std::string text;
  char line[256];
  std::snprintf(line, sizeof line,
                "soak %s, seed %u: %ld supervision cycles (the last 2 without faults), %ld Timer3 "
                "ticks, %ld connections, %ld replies decoded, %ld user actions, %ld s of module "
                "time\n",
                r.model == sim::Model::Km3 ? "zVK-KM3" : "zVK-QN6", r.seed, r.cycles, r.ticks,
                r.exchanges, r.decoded, r.user_actions, r.virtual_seconds);
  text += line;
  std::snprintf(line, sizeof line, "  %-16s %9s %9s\n", "fault", "injected", "survived");
  text += line;
  for (int k = 0; k < kFaultKinds; ++k) {
    std::snprintf(line, sizeof line, "  %-16s %9ld %9ld\n", FaultName(static_cast<Fault>(k)),
                  r.injected[k], r.survived[k]);
    text += line;
  }
  if (r.ok()) text += "  crashes 0, problems 0; the window shows what the module reports\n";
  for (const std::string& v : r.violations) text += "  problem: " + v + "\n";
  for (const std::string& m : r.mismatches) text += "  after the faults: " + m + "\n";
  return text;
}

}  // namespace zvk::harness
