// The monitoring commands: what the main window shows and the settings it changes in place.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/fleet_run.h"
#include "cli/session.h"
#include "cli/term/stop_request.h"
#include "cli/term/text.h"
#include "monitor/channel_config.h"
#include "monitor/main_form.h"
#include "operations/operations.h"
#include "record/csv_format.h"
#include "record/sample.h"

namespace zvk::cli {

namespace {

constexpr const char* kMonitoring = "Monitoring";
// Longer intervals would overflow the wait; nobody polls less than daily.
constexpr double kMaxIntervalSeconds = 24 * 60 * 60;

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// "AI2" or "th7" to the channel number; `prefix` is "AI" or "TH".
int ParseChannel(const std::string& text, const std::string& prefix, int count,
                 const std::string& command) {
  const std::string name = Upper(text);
  if (name.size() == prefix.size() + 1 && name.compare(0, prefix.size(), prefix) == 0) {
    const int ch = name.back() - '0';
    if (ch >= 0 && ch < count) return ch;
  }
  throw UsageError(command + ": the channel is " + prefix + "0 to " + prefix +
                   std::to_string(count - 1) + ", not '" + text + "'");
}

std::string Dotted(const std::array<std::uint8_t, 4>& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

bool ShowsVoltageGroup(Session& s) {
  return s.window().form.analog_group.visible;
}

void RequireVoltageModule(Session& s, const std::string& command) {
  if (!ShowsVoltageGroup(s))
    throw Failed(command + " needs the voltage module (AI0 to AI4); this is the " +
                 s.window().form.module_state.caption);
}

void RequireThermistorModule(Session& s, const std::string& command) {
  if (!s.window().form.thermistor_group.visible)
    throw Failed(command + " needs the thermistor module (TH0 to TH7); this is the " +
                 s.window().form.module_state.caption);
}

void PrintThermistorChannel(Session& s, int ch) {
  const MainForm& f = s.window().form;
  s.out << f.thermistor_caption[ch].caption << ' ' << f.thermistor_value[ch].caption << '\n';
}

// A setting that already has the asked value: the window sends nothing for it either.
void NothingToSend(Session& s, const std::string& what) {
  s.err << "zvk: " << what << "; nothing sent\n";
}

class InfoCommand final : public CopyableCommand<InfoCommand> {
 public:
  void Define(CLI::App&) override {}
  void Run(Session& s) override {
    const App& app = s.app();
    const MainForm& f = s.window().form;
    const DeviceConfig& d = app.device;
    std::ostream& out = s.out;
    out << "Model: " << f.module_state.caption << '\n';
    // Identification only succeeds when the reported address is the one asked.
    out << "Address: " << app.link.DeviceHost << '\n';
    out << "MAC: " << d.DevMac << '\n';
    out << "Firmware: V" << d.DevFirmware << '\n';
    out << "Location: " << ModuleTextForTerminal(d.DeviceLocation) << '\n';
    // The label keeps its bare caption when the module reports no signal strength.
    out << (f.rssi.caption == "RSSI:" ? std::string("RSSI: not reported") : f.rssi.caption) << '\n';
    out << "AP SSID: " << ModuleTextForTerminal(d.DevApSsid) << '\n';
    out << "AP key type: " << int{d.DevApKeyType} << '\n';
    out << "Station SSID: " << ModuleTextForTerminal(d.DevStaSsid) << '\n';
    out << "Station key type: " << int{d.DevStaKeyType} << '\n';
    out << "Wi-Fi mode: " << (d.DevWifiMode != 0 ? "AP" : "Station") << '\n';
    out << "Static IP: "
        << (d.DevStaticIpEnabled ? Dotted(d.DevStaticIp) + " / " + Dotted(d.DevSubnetMask) + " / " +
                                       Dotted(d.DevGateway)
                                 : std::string("off"))
        << '\n';
    out << "Modbus port: " << d.DevModbusPort << '\n';
    out << "Modbus idle timeout: " << d.DevIdleTimeout << '\n';
  }
};

class ReadCommand final : public CopyableCommand<ReadCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("--count", count_text_, "Number of polls")
        ->type_name("INT")
        ->capture_default_str();
    sub.add_option("--interval", interval_text_,
                   "Seconds from the start of one poll to the next, at most 86400")
        ->type_name("FLOAT")
        ->capture_default_str();
    sub.add_flag("--csv", csv_, "One header line, then one row per poll: local time and values");
  }
  void CheckArguments() override {
    count_ = ParseWholeNumber(count_text_, "read: --count");
    if (count_ < 1) throw UsageError("read: --count must be 1 or more, not " + count_text_);
    interval_ = ParseDecimal(interval_text_, "read: --interval");
    if (interval_ < 0 || interval_ > kMaxIntervalSeconds)
      throw UsageError("read: --interval must be 0 to 86400 seconds (a day), not " +
                       interval_text_);
  }
  void Run(Session& s) override {
    const auto interval = Interval();
    auto due = std::chrono::steady_clock::now();
    std::vector<std::string> names, texts;
    for (std::int64_t poll = 0; poll < count_; ++poll) {
      if (poll > 0) WaitOrStop(due, poll);
      due = std::chrono::steady_clock::now() + interval;
      Poll(s);
      ShownChannels(s.window().form, names, texts);
      if (csv_) {
        if (poll == 0) s.out << CsvHeader(names) << '\n';
        s.out << CsvRow(std::chrono::system_clock::now(), texts, names.size()) << '\n';
      } else {
        if (poll > 0) s.out << '\n';
        for (std::size_t ch = 0; ch < names.size(); ++ch)
          s.out << names[ch] << ' ' << texts[ch] << '\n';
      }
      s.out << std::flush;
      if (!s.out) return;  // nobody gets the rows: no more polls; the run ends with the reason
    }
  }

 private:
  // The window's periodic poll: the supervision tick checks the connection and sends the data poll.
  static void Poll(Session& s) {
    App& app = s.app();
    app.discovery.SupervisionTicks = 30;
    ExchangeRecord r = s.Observe([&s] { s.window().Timer3Timer(); });
    s.RequireAcknowledged(r, wire::CMD_READ_DATA, "the data poll");
    // The log is never shown; a long logging run must not keep every line of it.
    app.log_lines.clear();
  }

 public:
  // With many modules, the CSV is one: a header "time,module,CH..." with the channels of every
  // model among them, then a row per module and poll, the module's channels filled in.
  bool RunsOnManyTogether() const override { return csv_; }
  int RunOnMany(const std::vector<std::string>& labels, const SessionMaker& open, std::ostream& out,
                std::ostream& err) override {
    const std::size_t n = labels.size();
    std::vector<std::ostringstream> outs(n), errs(n);
    std::vector<std::unique_ptr<Session>> sessions(n);
    for (std::size_t i = 0; i < n; ++i) sessions[i] = open(i, outs[i], errs[i]);
    std::vector<std::string> failures(n);
    // What each module's run said on standard error, named by the module.
    const auto tell = [&] { TellLabelled(labels, outs, errs, err); };
    const auto run = [&](std::size_t i, const std::function<void(Session&)>& step) {
      if (!failures[i].empty()) return;
      try {
        step(*sessions[i]);
      } catch (const std::exception& e) {
        failures[i] = e.what();
        errs[i] << "zvk: " << e.what() << '\n';
      }
    };
    const StopScope scope;
    StopRequest& stop = StopRequest::Get();
    ForEachConcurrently(n, [&](std::size_t i) { run(i, [](Session& s) { s.Identify(); }); });
    tell();

    std::vector<std::string> columns;
    for (std::size_t i = 0; i < n; ++i) {
      if (!failures[i].empty()) continue;
      std::vector<std::string> names, texts;
      ShownChannels(sessions[i]->window().form, names, texts);
      for (const std::string& name : names)
        if (std::find(columns.begin(), columns.end(), name) == columns.end())
          columns.push_back(name);
    }
    std::vector<std::chrono::system_clock::time_point> times(n);
    std::int64_t polls = 0;
    const auto interval = Interval();
    auto due = std::chrono::steady_clock::now();
    for (; polls < count_ && !columns.empty(); ++polls) {
      if (polls > 0 && stop.WaitUntil(due)) break;
      if (stop.requested()) break;
      due = std::chrono::steady_clock::now() + interval;
      ForEachConcurrently(n, [&](std::size_t i) {
        run(i, [&](Session& s) {
          Poll(s);
          times[i] = std::chrono::system_clock::now();
        });
      });
      tell();
      if (polls == 0) out << "time,module," << Joined(columns) << '\n';
      for (std::size_t i = 0; i < n; ++i) {
        if (!failures[i].empty()) continue;
        std::vector<std::string> names, texts;
        ShownChannels(sessions[i]->window().form, names, texts);
        std::vector<std::string> cells(columns.size());
        for (std::size_t ch = 0; ch < names.size(); ++ch)
          cells[static_cast<std::size_t>(std::find(columns.begin(), columns.end(), names[ch]) -
                                         columns.begin())] = texts[ch];
        std::string row = LocalTimestamp(times[i]) + "," + labels[i];
        for (const std::string& cell : cells) row += "," + WithoutUnit(cell);
        out << row << '\n';
      }
      out << std::flush;
    }
    const bool failed = std::any_of(failures.begin(), failures.end(),
                                    [](const std::string& f) { return !f.empty(); });
    if (stop.requested()) {
      err << "zvk: interrupted by " << stop.what() << " after " << polls << " of " << count_
          << " polls\n";
      return kExitFailed;
    }
    return failed ? kExitFailed : kExitOk;
  }

 private:
  std::chrono::steady_clock::duration Interval() const {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(interval_));
  }

  // Waits for the next poll; in a run that takes stop requests (over many modules), one ends the
  // wait and the command, after the polls taken.
  void WaitOrStop(std::chrono::steady_clock::time_point due, std::int64_t polls) const {
    if (!StopRequest::Deferring()) {
      std::this_thread::sleep_until(due);
      return;
    }
    StopRequest& stop = StopRequest::Get();
    if (stop.WaitUntil(due) || stop.requested())
      throw Failed(std::string(kInterruptedBy) + stop.what() + " after " + std::to_string(polls) +
                   " of " + std::to_string(count_) + " polls");
  }

  static std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
    return text;
  }

  std::string count_text_ = "1";
  std::string interval_text_ = "3.1";
  std::int64_t count_ = 1;
  double interval_ = 3.1;
  bool csv_ = false;
};

class LocateCommand final : public CopyableCommand<LocateCommand> {
 public:
  void Define(CLI::App&) override {}
  void Run(Session& s) override {
    s.SendQueued([&s] { s.window().Image3Click(); }, wire::CMD_SET_LOCATOR, "the locator command");
    s.out << s.app().Status() << '\n';
  }
};

class SetRangeCommand final : public CopyableCommand<SetRangeCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("channel", channel_text_, "AI0 to AI4")->required();
    sub.add_option("code", code_text_,
                   "Range code: 0 = -/+10V, 1 = -/+5V, 2 = -/+2.5V, 3 = -/+1.25V")
        ->type_name("INT")
        ->required();
  }
  void CheckArguments() override {
    channel_ = ParseChannel(channel_text_, "AI", 5, "set-range");
    code_ = ParseWholeNumber(code_text_, "set-range: the range code");
  }
  void CheckInput(Session& s) override {
    const ComboBox& combo = s.window().form.range[channel_];
    if (code_ < 0 || code_ >= static_cast<int>(combo.items.size()))
      throw Failed("input refused: the " + Upper(channel_text_) + " range box has no code " +
                   code_text_ + " (0 to " + std::to_string(combo.items.size() - 1) +
                   "); nothing sent");
  }
  void Run(Session& s) override {
    RequireVoltageModule(s, "set-range");
    ops::SetRange(s, channel_, static_cast<int>(code_));
    const MainForm& f = s.window().form;
    s.out << f.analog_caption[channel_].caption << " range " << f.range[channel_].text() << '\n';
  }

 private:
  std::string channel_text_;
  std::string code_text_;
  int channel_ = 0;
  std::int64_t code_ = 0;
};

class SetSamplingCommand final : public CopyableCommand<SetSamplingCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("mode", mode_, "normal or fast")->required();
  }
  void CheckArguments() override {
    const std::string mode = Upper(mode_);
    if (mode != "NORMAL" && mode != "FAST")
      throw UsageError("set-sampling: the mode is normal or fast, not '" + mode_ + "'");
    fast_ = mode == "FAST";
  }
  void Run(Session& s) override {
    RequireVoltageModule(s, "set-sampling");
    MainForm& f = s.window().form;
    if (!ops::SetSampling(s, fast_))
      NothingToSend(s, "the sampling rate is already " +
                           (fast_ ? f.sampling_fast : f.sampling_normal).caption);
    const RadioButton& shown = f.sampling_fast.checked() ? f.sampling_fast : f.sampling_normal;
    s.out << f.sampling_rate_label.caption << ' ' << shown.caption << '\n';
  }

 private:
  std::string mode_;
  bool fast_ = false;
};

class SetSensorCommand final : public CopyableCommand<SetSensorCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("channel", channel_text_, "TH0 to TH7")->required();
    sub.add_option("code", code_text_, "Sensor type code in hex: 00 (disable), 60-6C, 70-77")
        ->required();
  }
  void CheckArguments() override {
    channel_ = ParseChannel(channel_text_, "TH", 8, "set-sensor");
    std::string digits = code_text_;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
      digits.erase(0, 2);
    const bool hex = !digits.empty() && digits.size() <= 2 &&
                     std::all_of(digits.begin(), digits.end(),
                                 [](unsigned char c) { return std::isxdigit(c) != 0; });
    if (!hex)
      throw UsageError("set-sensor: the sensor type is a hex code 00 to FF, not '" + code_text_ +
                       "'");
    code_ = static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16));
  }
  void Run(Session& s) override {
    RequireThermistorModule(s, "set-sensor");
    ops::SetSensor(s, channel_, code_);
    PrintThermistorChannel(s, channel_);
  }

 private:
  std::string channel_text_;
  std::string code_text_;
  int channel_ = 0;
  std::uint8_t code_ = 0;
};

class SetUnitCommand final : public CopyableCommand<SetUnitCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("channel", channel_text_, "TH0 to TH7")->required();
    sub.add_option("unit", unit_text_, "C or F")->required();
  }
  void CheckArguments() override {
    channel_ = ParseChannel(channel_text_, "TH", 8, "set-unit");
    const std::string unit = Upper(unit_text_);
    if (unit != "C" && unit != "F")
      throw UsageError("set-unit: the unit is C or F, not '" + unit_text_ + "'");
    fahrenheit_ = unit == "F";
  }
  void Run(Session& s) override {
    RequireThermistorModule(s, "set-unit");
    if (!ops::SetUnit(s, channel_, fahrenheit_))
      NothingToSend(s, Upper(channel_text_) + " already shows degrees " +
                           (fahrenheit_ ? "Fahrenheit" : "Celsius"));
    PrintThermistorChannel(s, channel_);
  }

 private:
  std::string channel_text_;
  std::string unit_text_;
  int channel_ = 0;
  bool fahrenheit_ = false;
};

class SetOffsetCommand final : public CopyableCommand<SetOffsetCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("channel", channel_text_, "TH0 to TH7")->required();
    sub.add_option("offset", offset_text_, "Display offset in tenths of a degree, -127 to 127")
        ->type_name("INT")
        ->required();
  }
  void CheckArguments() override {
    channel_ = ParseChannel(channel_text_, "TH", 8, "set-offset");
    offset_ = ParseWholeNumber(offset_text_, "set-offset: the offset");
  }
  void CheckInput(Session& s) override {
    const SpinEdit& spin = s.window().form.offset[channel_];
    if (offset_ < spin.min_value || offset_ > spin.max_value)
      throw Failed("input refused: the " + Upper(channel_text_) + " offset is " +
                   std::to_string(spin.min_value) + " to " + std::to_string(spin.max_value) +
                   ", not " + offset_text_ + "; nothing sent");
  }
  void Run(Session& s) override {
    RequireThermistorModule(s, "set-offset");
    if (!ops::SetOffset(s, channel_, static_cast<int>(offset_)))
      NothingToSend(
          s, "the " + Upper(channel_text_) + " offset is already " + std::to_string(offset_));
    PrintThermistorChannel(s, channel_);
  }

 private:
  std::string channel_text_;
  std::string offset_text_;
  int channel_ = 0;
  std::int64_t offset_ = 0;
};

template <typename T>
std::unique_ptr<Command> Make() {
  return std::make_unique<T>();
}

}  // namespace

void AddMonitoringCommands(std::vector<CommandEntry>& table) {
  const CommandEntry entries[] = {
      {"info", kMonitoring, "Show the module's identity and configuration", true, false,
       Make<InfoCommand>},
      {"read", kMonitoring, "Poll the module and print each channel as the main window shows it",
       true, false, Make<ReadCommand>},
      {"locate", kMonitoring, "\"Find me\": make the module show where it is", true, false,
       Make<LocateCommand>},
      {"set-range", kMonitoring, "Input range of an analog channel: set-range AI<n> <0-3>", true,
       false, Make<SetRangeCommand>},
      {"set-sampling", kMonitoring, "Sampling rate of the voltage module: normal or fast", true,
       false, Make<SetSamplingCommand>},
      {"set-sensor", kMonitoring,
       "Sensor type of a thermistor channel: set-sensor TH<n> <hex code>", true, false,
       Make<SetSensorCommand>},
      {"set-unit", kMonitoring, "Display unit of a thermistor channel: set-unit TH<n> C|F", true,
       false, Make<SetUnitCommand>},
      {"set-offset", kMonitoring,
       "Display offset of a thermistor channel in tenths of a degree: set-offset TH<n> <-127..127>",
       true, false, Make<SetOffsetCommand>},
  };
  table.insert(table.end(), std::begin(entries), std::end(entries));
}

}  // namespace zvk::cli
