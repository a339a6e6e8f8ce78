#include "engine/metrics_sink.h"

#include <charconv>
#include <cmath>

#include "util/text_codec.h"

namespace zvk::engine {

namespace {

// A module's location is 32 bytes at most; anything longer is no text of a module.
constexpr std::size_t kLongestLabelValue = 64;

// The shortest text that reads back as the same double (1.2346, not 1.2345999999999999).
std::string Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end);
}

std::string Seconds(TimePoint time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  return Number(static_cast<double>(ms.count()) / 1000.0);
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

}  // namespace

std::string MetricsLabelValue(const std::string& text) {
  std::size_t cut = std::min(text.size(), kLongestLabelValue);
  // Never inside a character: back to the byte that begins one.
  while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  const std::string shown = ControlCharactersEscaped(std::string_view(text).substr(0, cut));
  std::string quoted;
  for (const char c : shown) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted;
}

std::string MetricsSink::Admit(std::size_t index, const ModuleEntry& module,
                               const ModuleIdentity& identity) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (modules_.size() <= index) modules_.resize(index + 1);
  Module& m = modules_[index];
  m.admitted = true;
  m.address = module.address;
  m.identity = identity;
  return "";
}

void MetricsSink::Receive(std::size_t index, const Sample& sample) {
  if (sample.kind == SampleKind::Pause) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (index >= modules_.size()) return;
  Module& m = modules_[index];
  ++m.polls;
  m.channels.clear();
  m.up = sample.kind == SampleKind::Readings;
  if (!m.up) {
    ++m.failed;
    return;
  }
  if (!sample.module.empty()) m.identity = sample.identity;
  m.last_reading = sample.time;
  for (const Reading& r : sample.readings)
    if (r.value && r.state == ReadingState::Ok)
      m.channels.push_back({r.channel, UnitName(r.unit), *r.value});
}

std::string MetricsSink::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t up = 0, all = 0;
  for (const Module& m : modules_) {
    all += m.admitted;
    up += m.admitted && m.up;
  }
  return std::to_string(up) + " of " + std::to_string(all) + (all == 1 ? " module" : " modules") +
         " up";
}

std::string MetricsSink::Exposition() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> labels(modules_.size());
  for (std::size_t i = 0; i < modules_.size(); ++i) {
    const Module& m = modules_[i];
    labels[i] = "mac=\"" + MetricsLabelValue(m.identity.mac) + "\",address=\"" +
                MetricsLabelValue(m.address) + "\",location=\"" +
                MetricsLabelValue(m.identity.location) + "\",model=\"" +
                MetricsLabelValue(ModelName(m.identity.model_code)) + "\"";
  }
  std::string out;
  Family(out, "zvk_reading", "gauge", "The channel's last value, in its unit.");
  for (std::size_t i = 0; i < modules_.size(); ++i)
    for (const Channel& c : modules_[i].channels)
      out += "zvk_reading{" + labels[i] + ",channel=\"" + MetricsLabelValue(c.name) + "\",unit=\"" +
             MetricsLabelValue(c.unit) + "\"} " + Number(c.value) + '\n';
  const auto each = [&](const char* name, const char* type, const char* help, auto value) {
    Family(out, name, type, help);
    for (std::size_t i = 0; i < modules_.size(); ++i) {
      if (!modules_[i].admitted) continue;
      const std::optional<std::string> v = value(modules_[i]);
      if (v) out += std::string(name) + '{' + labels[i] + "} " + *v + '\n';
    }
  };
  each("zvk_module_up", "gauge", "1 when the module answered its last poll, else 0.",
       [](const Module& m) { return std::optional<std::string>(m.up ? "1" : "0"); });
  each("zvk_polls_total", "counter", "Polls of the module.",
       [](const Module& m) { return std::optional<std::string>(std::to_string(m.polls)); });
  each("zvk_polls_failed_total", "counter", "Polls of the module that brought no values.",
       [](const Module& m) { return std::optional<std::string>(std::to_string(m.failed)); });
  each("zvk_last_reading_timestamp_seconds", "gauge",
       "When the module's last values were read (Unix time).", [](const Module& m) {
         return m.last_reading ? std::optional<std::string>(Seconds(*m.last_reading))
                               : std::nullopt;
       });
  return out;
}

}  // namespace zvk::engine
