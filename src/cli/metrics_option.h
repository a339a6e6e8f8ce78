// `--metrics [ADDR:]PORT` of the long runs (log, publish): the address a Prometheus server
// scrapes the run's metrics at, and the endpoint that serves them. The endpoint needs the HTTP
// library, which the statically linked zvk does not carry: it is zvk-publish's (see main.cpp);
// a build without it has none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace zvk::engine {
class MetricsSink;
}

namespace zvk::cli {

struct MetricsAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;  // 0: one the system chooses, told when the run starts
};

// "9464" (on 127.0.0.1), "0.0.0.0:9464", "192.168.1.5:9464"; a UsageError naming `command`
// otherwise. Only an address given explicitly listens beyond this machine.
MetricsAddress ParseMetricsAddress(const std::string& text, const std::string& command);

// Serving while it lives.
class MetricsEndpoint {
 public:
  virtual ~MetricsEndpoint() = default;
  virtual std::uint16_t port() const = 0;
};

class MetricsBackend {
 public:
  virtual ~MetricsBackend() = default;
  // Serves the sink's metrics at `address` until the endpoint is destroyed; Failed when it
  // cannot listen there.
  virtual std::unique_ptr<MetricsEndpoint> Serve(const MetricsAddress& address,
                                                 const engine::MetricsSink& sink) = 0;
};

// The endpoint for a run, when --metrics was given (the backend checked before); says where it
// serves on `err`
// ("zvk: metrics at http://127.0.0.1:9464/metrics").
std::unique_ptr<MetricsEndpoint> ServeMetrics(MetricsBackend* backend,
                                              const std::optional<MetricsAddress>& address,
                                              const engine::MetricsSink& sink, std::ostream& err);

// The refusal of --metrics in a build without the endpoint.
[[noreturn]] void MetricsNotAvailable(const std::string& command);

}  // namespace zvk::cli
