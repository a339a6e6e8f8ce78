#include "publish/broker_url.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zvk::publish {

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool HostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

}  // namespace

BrokerAddress ParseBrokerUrl(const std::string& url) {
  BrokerAddress address;
  std::string rest;
  if (StartsWith(url, "mqtt://")) {
    rest = url.substr(7);
  } else if (StartsWith(url, "mqtts://")) {
    address.tls = true;
    address.port = kMqttTlsPort;
    rest = url.substr(8);
  } else {
    throw BrokerUrlError("the broker is mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not '" + url +
                         "'");
  }
  // A trailing slash is what people paste from a browser; anything after it is not ours.
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find_first_of("/?#") != std::string::npos)
    throw BrokerUrlError("the broker URL '" + url + "' has a path; give mqtt://HOST[:PORT] only");
  if (rest.find('@') != std::string::npos)
    throw BrokerUrlError("the broker URL '" + url +
                         "' holds user information; give --username and the password apart");

  std::string port_text;
  if (StartsWith(rest, "[")) {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos)
      throw BrokerUrlError("the broker URL '" + url + "' opens an IPv6 address it never closes");
    address.host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') throw BrokerUrlError("the broker URL '" + url + "' is malformed");
      port_text = after.substr(1);
      if (port_text.empty()) throw BrokerUrlError("the broker URL '" + url + "' has no port");
    }
    const bool ipv6 =
        !address.host.empty() && std::all_of(address.host.begin(), address.host.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
    if (!ipv6) throw BrokerUrlError("the broker URL '" + url + "' has no IPv6 address in [ ]");
  } else {
    const std::size_t colon = rest.find(':');
    address.host = rest.substr(0, colon);
    if (colon != std::string::npos) {
      port_text = rest.substr(colon + 1);
      if (port_text.empty()) throw BrokerUrlError("the broker URL '" + url + "' has no port");
    }
    if (address.host.empty()) throw BrokerUrlError("the broker URL '" + url + "' names no host");
    if (!std::all_of(address.host.begin(), address.host.end(), HostCharacter))
      throw BrokerUrlError("the broker URL '" + url + "' has no valid host name");
  }
  if (!port_text.empty()) {
    unsigned value = 0;
    const char* last = port_text.data() + port_text.size();
    const auto [end, ec] = std::from_chars(port_text.data(), last, value);
    if (ec != std::errc() || end != last || value < 1 || value > 65535)
      throw BrokerUrlError("the broker port is 1 to 65535, not '" + port_text + "'");
    address.port = static_cast<std::uint16_t>(value);
  }
  return address;
}

}  // namespace zvk::publish
