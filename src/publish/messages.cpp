#include "publish/messages.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "record/timestamp.h"

namespace zvk::publish {

namespace {

using nlohmann::json;

// The unit of a channel no readings have told yet.
std::string DefaultUnit(const std::string& channel) {
  return channel.rfind("TH", 0) == 0 ? "\u00B0C" : "V";
}

}  // namespace

ModuleIdentity IdentityOf(const zvk::ModuleIdentity& module) {
  ModuleIdentity m;
  for (char c : module.mac)
    if (c != ':') m.id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  m.model = ModelName(module.model_code);
  m.name = module.location.empty() ? m.model + " " + module.mac : module.location;
  m.firmware = module.firmware.empty() ? "" : "V" + module.firmware;
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

ChannelReading Published(const Reading& reading) {
  return {reading.channel, reading.value, UnitName(reading.unit), StateName(reading)};
}

Topics::Topics(std::string prefix, std::string module_id)
    : base_(std::move(prefix) + "/" + std::move(module_id)) {}

std::string Topics::Channel(const std::string& channel) const {
  return base_ + "/" + channel;
}

std::string Topics::Status() const {
  return base_ + "/status";
}

std::string GatewayStatusTopic(const std::string& prefix, const std::string& client_id) {
  return prefix + "/gateway/" + client_id + "/status";
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
    if (!SameChannels(sample.readings, channels_)) {
      // Another module or model answered at this address: its own channels from now on.
      channels_ = ChannelsOf(sample.readings);
      std::map<std::string, std::string> kept;
      for (const std::string& ch : channels_)
        if (auto it = units_.find(ch); it != units_.end()) kept.insert(*it);
      units_ = std::move(kept);
    }
    for (const Reading& reading : sample.readings) {
      const ChannelReading r = Published(reading);
      units_[r.channel] = r.unit;
      messages.push_back({topics_.Channel(r.channel), ReadingPayload(r, time), true});
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

std::vector<Message> DiscoveryMessages(const std::string& discovery_prefix,
                                       const std::string& gateway_status, const Topics& topics,
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
  const auto availability = [](const std::string& topic) {
    return json{
        {"topic", topic}, {"payload_available", kOnline}, {"payload_not_available", kOffline}};
  };
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
        {"availability",
         json::array({availability(gateway_status), availability(topics.Status())})},
        {"availability_mode", "all"},
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
