#include "publish/messages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "link/wire.h"
#include "monitor/main_form.h"
#include "record/timestamp.h"
#include "state/app.h"
#include "util/text_codec.h"

namespace zvk::publish {

namespace {

using nlohmann::json;

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string StripPrefix(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0 ? s.substr(prefix.size()) : s;
}

// The window's unit signs and the units consumers expect ("°C" rather than the one-character
// degree Celsius sign).
struct UnitSign {
  const char* shown;
  const char* unit;
};
constexpr UnitSign kUnits[] = {{"V", "V"}, {"\u2103", "\u00B0C"}, {"\u2109", "\u00B0F"}};

std::string DefaultUnit(const std::string& channel) {
  return channel.rfind("TH", 0) == 0 ? "\u00B0C" : "V";
}

}  // namespace

ModuleIdentity IdentityOf(const App& app, const MainForm& form) {
  ModuleIdentity m;
  const std::string mac = StripPrefix(form.StatusBar1.panels[0], "Dev MAC: ");
  for (char c : mac)
    if (c != ':') m.id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (app.device.ModelCode == wire::kModelKm3) m.model = "zVK-KM3";
  if (app.device.ModelCode == wire::kModelQn6) m.model = "zVK-QN6";
  // A module text, in the module's 8-bit code page; trailing blanks are padding.
  std::string location = ModuleTextToUtf8(app.device.DeviceLocation);
  while (!location.empty() && (location.back() == ' ' || location.back() == '\0'))
    location.pop_back();
  m.name = location.empty() ? m.model + " " + mac : location;
  m.firmware = StripPrefix(form.StatusBar2.panels[1], "FW: ");
  return m;
}

std::string UnpublishableId(const std::string& id) {
  const bool hex = id.size() == 12 && std::all_of(id.begin(), id.end(), [](char c) {
                     return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                   });
  if (!hex) return "reported no MAC address to publish under";
  if (id.find_first_not_of('0') == std::string::npos)
    return "reported the MAC address 00:00:00:00:00:00, which names no module";
  return "";
}

ChannelReading ReadChannel(const std::string& channel, const std::string& shown,
                           const std::string& last_unit) {
  ChannelReading r;
  r.channel = channel;
  r.unit = last_unit.empty() ? DefaultUnit(channel) : last_unit;
  for (const UnitSign& u : kUnits) {
    const std::string sign = u.shown;
    if (!EndsWith(shown, sign) || shown.size() == sign.size()) continue;
    const std::string number = shown.substr(0, shown.size() - sign.size());
    double value = 0;
    const char* last = number.data() + number.size();
    const auto [end, ec] = std::from_chars(number.data(), last, value);
    if (ec == std::errc() && end == last && std::isfinite(value)) {
      r.value = value;
      r.unit = u.unit;
      r.state = kStateOk;
      return r;
    }
  }
  // "Disable", "Over Range", "Under Range", "Range?": the window's text is the state.
  r.state = shown;
  return r;
}

Topics::Topics(std::string prefix, std::string module_id)
    : base_(std::move(prefix) + "/" + std::move(module_id)) {}

std::string Topics::Channel(const std::string& channel) const {
  return base_ + "/" + channel;
}

std::string Topics::Status() const {
  return base_ + "/status";
}

std::string ReadingPayload(const ChannelReading& reading, const std::string& time) {
  // In this order for a person reading the messages: the value first.
  nlohmann::ordered_json j;
  if (reading.value)
    j["value"] = *reading.value;
  else
    j["value"] = nullptr;
  j["unit"] = reading.unit;
  j["time"] = time;
  j["state"] = reading.state;
  return j.dump();
}

std::vector<Message> ReadingMessages::For(const Sample& sample) {
  std::vector<Message> messages;
  if (sample.kind == SampleKind::Pause) return messages;
  // One time for all channels of the poll, broken down into local time once.
  const std::string time = LocalTimestamp(sample.time);
  if (sample.kind == SampleKind::Readings) {
    if (sample.names != channels_) {
      // Another module or model answered at this address: its own channels from now on.
      channels_ = sample.names;
      std::map<std::string, std::string> kept;
      for (const std::string& ch : channels_)
        if (auto it = units_.find(ch); it != units_.end()) kept.insert(*it);
      units_ = std::move(kept);
    }
    for (std::size_t i = 0; i < sample.names.size() && i < sample.texts.size(); ++i) {
      const std::string& ch = sample.names[i];
      const auto unit = units_.find(ch);
      const ChannelReading r =
          ReadChannel(ch, sample.texts[i], unit == units_.end() ? "" : unit->second);
      units_[ch] = r.unit;
      messages.push_back({topics_.Channel(ch), ReadingPayload(r, time), true});
    }
    return messages;
  }
  for (const std::string& ch : channels_) {
    ChannelReading r;
    r.channel = ch;
    r.unit = units_.count(ch) ? units_.at(ch) : DefaultUnit(ch);
    r.state = kStateNoReading;
    messages.push_back({topics_.Channel(ch), ReadingPayload(r, time), true});
  }
  return messages;
}

std::vector<Message> DiscoveryMessages(const std::string& discovery_prefix, const Topics& topics,
                                       const ModuleIdentity& module,
                                       const std::vector<std::string>& channels,
                                       const std::map<std::string, std::string>& units) {
  std::vector<Message> messages;
  const json device = {{"identifiers", json::array({"zvk_" + module.id})},
                       {"name", module.name},
                       {"model", module.model},
                       {"sw_version", module.firmware}};
  json origin = {{"name", "zVK-Analog"}, {"sw_version", ZVK_VERSION}};
  if (std::string(ZVK_SUPPORT_URL).size() > 0) origin["support_url"] = ZVK_SUPPORT_URL;
  for (const std::string& ch : channels) {
    const auto unit = units.find(ch);
    const std::string u = unit == units.end() ? DefaultUnit(ch) : unit->second;
    const std::string id = "zvk_" + module.id + "_" + ch;
    // No attributes topic: the state's payload carries a new time with every poll, which would
    // rewrite the attributes each time.
    json config = {
        {"name", ch},
        {"unique_id", id},
        {"default_entity_id", "sensor." + id},
        {"state_topic", topics.Channel(ch)},
        // A channel without a number ("Disable", a gap) has a null value, rendered as None: the
        // sensor is unknown, not zero, and no text a numeric sensor would refuse.
        {"value_template", "{{ value_json.value }}"},
        {"unit_of_measurement", u},
        {"device_class", u == "V" ? "voltage" : "temperature"},
        {"state_class", "measurement"},
        {"availability_topic", topics.Status()},
        {"payload_available", kOnline},
        {"payload_not_available", kOffline},
        {"qos", 1},
        {"device", device},
        {"origin", origin},
    };
    messages.push_back({discovery_prefix + "/sensor/zvk_" + module.id + "/" + ch + "/config",
                        config.dump(), true});
  }
  return messages;
}

}  // namespace zvk::publish
