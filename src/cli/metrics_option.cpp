#include "cli/metrics_option.h"

#include <charconv>

#include "cli/cli_error.h"
#include "util/message_text.h"

namespace zvk::cli {

MetricsAddress ParseMetricsAddress(const std::string& text, const std::string& command) {
  MetricsAddress address;
  const std::size_t colon = text.rfind(':');
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  if (colon != std::string::npos) address.host = text.substr(0, colon);
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  const bool port_ok = !port.empty() && ec == std::errc() && end == port.data() + port.size() &&
                       value <= 65535 && port.find_first_not_of("0123456789") == port.npos;
  if (!port_ok || !IsDottedIpv4(address.host))
    throw UsageError(command +
                     ": --metrics is PORT (on 127.0.0.1) or ADDRESS:PORT, such as 9464 or "
                     "0.0.0.0:9464, not '" +
                     ShortenedForMessage(text) + "'");
  address.port = static_cast<std::uint16_t>(value);
  return address;
}

std::unique_ptr<MetricsEndpoint> ServeMetrics(MetricsBackend* backend,
                                              const std::optional<MetricsAddress>& address,
                                              const engine::MetricsSink& sink, std::ostream& err) {
  if (!address) return nullptr;
  std::unique_ptr<MetricsEndpoint> endpoint = backend->Serve(*address, sink);
  err << "zvk: metrics at http://" << address->host << ":" << endpoint->port() << "/metrics\n";
  return endpoint;
}

void MetricsNotAvailable(const std::string& command) {
  throw Failed(command + ": --metrics is not available in this build (no HTTP library)");
}

}  // namespace zvk::cli
