// The publishing settings, their defaults and their checks, for every front end: `zvk publish`
// names a setting by its option ("--queue"), the desktop program's dialog by its label ("The
// queue"); the rule and its words are the same.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "publish/broker_url.h"

namespace zvk::publish {

// What the desktop program's dialog offers first: a broker on this machine.
inline constexpr const char* kDefaultBrokerUrl = "mqtt://127.0.0.1:1883";
inline constexpr const char* kDefaultTopicPrefix = "zvk";
inline constexpr const char* kDefaultDiscoveryPrefix = "homeassistant";
// Polls kept for each module while the broker is away: about 8½ hours at the default interval.
inline constexpr std::size_t kDefaultQueuePolls = 10000;
inline constexpr long long kLargestQueuePolls = 10'000'000;
// Seconds from the start of one poll to the next, as the window polls.
inline constexpr double kDefaultIntervalSeconds = 3.1;
inline constexpr double kLongestIntervalSeconds = 24 * 3600.0;
// Polls closer together than this only pile up in the queue: a broker acknowledges a poll's
// messages in about a millisecond on loopback, far longer across a network.
inline constexpr double kShortestIntervalSeconds = 0.1;
// The environment variable the broker password is read from when no password file is given.
inline constexpr const char* kPasswordVariable = "ZVK_MQTT_PASSWORD";

struct PublishSettings {
  BrokerAddress broker;
  std::string cafile;  // mqtts: the CA certificates; empty: the system's
  std::string username;
  std::optional<std::string> password;
  // The gateway's client id, which also names its status topic: the desktop program's
  // DesktopClientId, or `zvk publish`'s own, so the two never take each other's session.
  std::string client_id;
  std::string topic_prefix = kDefaultTopicPrefix;
  bool discovery = false;
  std::string discovery_prefix = kDefaultDiscoveryPrefix;
  std::size_t queue_polls = kDefaultQueuePolls;  // each module's
  int keepalive_seconds = 30;
  // The back-off doubles from the first wait up to the longest; it starts again from the first
  // once a connection stayed up for the longest wait.
  std::chrono::milliseconds reconnect_first{1000};
  int reconnect_max_seconds = 30;
};

// The client id the desktop program uses for a module.
std::string DesktopClientId(const std::string& module_id);
// The client id of a gateway over several modules: `prefix` and a short FNV-1a hash of their
// addresses, the same for the same modules in any order, another for other modules, within the
// 23 characters every broker accepts. `zvk publish` takes "zvk-gw-", the desktop program
// "zvk-analog-gw-".
std::string GatewayClientId(const std::string& prefix, std::vector<std::string> addresses);

// How a front end names the settings in its reasons.
struct SettingNames {
  std::string topic_prefix;
  std::string queue;
  std::string interval;
  std::string cafile;
};
// `zvk publish`'s options: "--topic-prefix", "--queue", "--interval", "--cafile".
const SettingNames& OptionNames();
// The dialog's labels: "The topic prefix", "The queue", "The interval", "The CA file".
const SettingNames& LabelNames();

// Each check is empty when the value can be used, else one line that names the setting, says
// what it must be and, as typed, what it was.
std::string TopicPrefixProblem(const std::string& prefix, const SettingNames& names);
std::string QueueProblem(long long polls, const std::string& typed, const SettingNames& names);
std::string IntervalProblem(double seconds, const std::string& typed, const SettingNames& names);
// A CA file is for a TLS broker only; `broker_url` as typed.
std::string CaFileProblem(const std::string& cafile, const std::string& broker_url,
                          const SettingNames& names);

// The broker password: the first line of `file`, else the environment's kPasswordVariable, else
// none. Throws std::runtime_error ("cannot read the password file "F": why") when the file
// cannot be read.
std::optional<std::string> ReadPassword(const std::optional<std::string>& file);

}  // namespace zvk::publish
