// What the gateway publishes for one module: its topics, one retained JSON message per channel
// and poll, its status, and the discovery configuration of its sensors.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "record/sample.h"

namespace zvk::publish {

// States of a channel besides the window's own texts ("Disable", "Over Range", "Under Range").
inline constexpr const char* kStateOk = "OK";
// A poll that brought no values: the channel is published with this state and no value.
inline constexpr const char* kStateNoReading = "No Reading";
inline constexpr const char* kOnline = "online";
inline constexpr const char* kOffline = "offline";

struct ModuleIdentity {
  std::string id;        // the topic level of the module: its MAC, 12 lower-case hex digits
  std::string model;     // "zVK-KM3"
  std::string name;      // what a person calls it: its location, else model and MAC
  std::string firmware;  // "V01.12", as the window writes it
};

// The module as published, from what its identity record said.
ModuleIdentity IdentityOf(const zvk::ModuleIdentity& module);

// Why a module cannot be published under the id IdentityOf gave it; empty when it can. The id
// names its topics and client, so it must be a whole MAC, and not all zeros, which every module
// without one would share. The one check of a module's MAC for every front end.
std::string UnpublishableId(const std::string& id);

struct Message {
  std::string topic;
  std::string payload;
  bool retain = true;
};

// What the message of one channel of one poll says: 1.2346 in V, state OK; or no value and the
// state ("Over Range", "No Reading").
struct ChannelReading {
  std::string channel;
  std::optional<double> value;
  std::string unit;  // "V", "°C", "°F"
  std::string state;
};
ChannelReading Published(const Reading& reading);

class Topics {
 public:
  Topics(std::string prefix, std::string module_id);
  std::string Channel(const std::string& channel) const;  // PREFIX/MODULE/CHANNEL
  std::string Status() const;                             // PREFIX/MODULE/status
 private:
  std::string base_;
};

// PREFIX/gateway/CLIENT/status: the status of a gateway publishing under its client id, "online"
// while it is connected; its last will says "offline" there.
std::string GatewayStatusTopic(const std::string& prefix, const std::string& client_id);

// The payload of a channel message: {"value":1.2346,"unit":"V","time":"…","state":"OK"}, with
// `time` as the readings CSV writes it (LocalTimestamp); "value" is null whenever the channel
// shows no number.
std::string ReadingPayload(const ChannelReading& reading, const std::string& time);

// Turns samples into channel messages, remembering the channels and units of the last readings
// so that a gap is published for each of them as a state.
class ReadingMessages {
 public:
  explicit ReadingMessages(Topics topics) : topics_(std::move(topics)) {}
  // The messages of one sample; none for a pause, or for a gap before any readings.
  std::vector<Message> For(const Sample& sample);
  // The channels of the last readings and their units, in the window's order.
  const std::vector<std::string>& channels() const { return channels_; }
  const std::map<std::string, std::string>& units() const { return units_; }

 private:
  Topics topics_;
  std::vector<std::string> channels_;
  std::map<std::string, std::string> units_;
};

// The retained configuration messages of the home-automation discovery format for each channel
// as a sensor (device class temperature or voltage, unit, state topic), with the origin block
// naming this program. The sensor is available while both the gateway's status and the module's
// say "online": a gateway that dies leaves its modules' statuses as they were, and its last will
// makes them unavailable all the same. A channel without a number renders as None, which a
// numeric sensor takes as unknown.
std::vector<Message> DiscoveryMessages(const std::string& discovery_prefix,
                                       const std::string& gateway_status, const Topics& topics,
                                       const ModuleIdentity& module,
                                       const std::vector<std::string>& channels,
                                       const std::map<std::string, std::string>& units);

}  // namespace zvk::publish
