#include "publish/settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace zvk::publish {

std::string DesktopClientId(const std::string& module_id) {
  return "zvk-analog-" + module_id;
}

const SettingNames& OptionNames() {
  static const SettingNames names{"--topic-prefix", "--queue", "--interval", "--cafile"};
  return names;
}

const SettingNames& LabelNames() {
  static const SettingNames names{"The topic prefix", "The queue", "The interval", "The CA file"};
  return names;
}

std::string TopicPrefixProblem(const std::string& prefix, const SettingNames& names) {
  // The prefix is the first levels of every topic: no wildcard, no empty level at either end.
  if (!prefix.empty() && prefix.find_first_of("+#") == std::string::npos && prefix.front() != '/' &&
      prefix.back() != '/')
    return "";
  return names.topic_prefix +
         " must be a topic without + or # and without a leading or trailing /, not '" + prefix +
         "'";
}

std::string QueueProblem(long long polls, const std::string& typed, const SettingNames& names) {
  if (polls >= 1 && polls <= kLargestQueuePolls) return "";
  return names.queue + " must be 1 to " + std::to_string(kLargestQueuePolls) + " polls, not " +
         typed;
}

std::string IntervalProblem(double seconds, const std::string& typed, const SettingNames& names) {
  if (seconds >= 0 && seconds <= kLongestIntervalSeconds) return "";
  return names.interval + " must be 0 to " +
         std::to_string(static_cast<long long>(kLongestIntervalSeconds)) + " seconds, not " + typed;
}

std::string CaFileProblem(const std::string& cafile, const std::string& broker_url,
                          const SettingNames& names) {
  if (cafile.empty() || broker_url.rfind("mqtts://", 0) == 0) return "";
  return names.cafile + " needs an mqtts:// broker";
}

std::optional<std::string> ReadPassword(const std::optional<std::string>& file) {
  if (!file) {
    if (const char* password = std::getenv(kPasswordVariable)) return std::string(password);
    return std::nullopt;
  }
  errno = 0;
  std::ifstream in(*file, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read the password file \"" + *file +
                             "\": " + std::generic_category().message(errno != 0 ? errno : ENOENT));
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string GatewayClientId(const std::string& prefix, std::vector<std::string> addresses) {
  std::sort(addresses.begin(), addresses.end());
  std::uint32_t hash = 2166136261u;
  for (const std::string& address : addresses)
    for (const char c : address + '\n') {
      hash ^= static_cast<unsigned char>(c);
      hash *= 16777619u;
    }
  static const char kHex[] = "0123456789abcdef";
  std::string id = prefix;
  for (int shift = 28; shift >= 0; shift -= 4) id += kHex[(hash >> shift) & 0xF];
  return id;
}

}  // namespace zvk::publish
