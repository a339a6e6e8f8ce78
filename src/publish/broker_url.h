// Where the gateway publishes: a broker named as mqtt://HOST[:PORT] or mqtts://HOST[:PORT].
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zvk::publish {

inline constexpr std::uint16_t kMqttPort = 1883;
inline constexpr std::uint16_t kMqttTlsPort = 8883;

struct BrokerAddress {
  bool tls = false;
  std::string host;
  std::uint16_t port = kMqttPort;
};

// A broker URL that names no broker; the text says what is wrong with it.
class BrokerUrlError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// "mqtt://broker.lan", "mqtts://10.0.0.5:8884", "mqtt://[::1]:1883". Anything else (another
// scheme, a path, user info, an empty host, a port outside 1 to 65535) is a BrokerUrlError.
BrokerAddress ParseBrokerUrl(const std::string& url);

}  // namespace zvk::publish
