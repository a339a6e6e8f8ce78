#include "cli/http_metrics.h"

#include "cli/cli_error.h"
#include "engine/metrics_sink.h"
#include "metrics/metrics_server.h"

namespace zvk::cli {

namespace {

class HttpEndpoint final : public MetricsEndpoint {
 public:
  HttpEndpoint(const MetricsAddress& address, const engine::MetricsSink& sink)
      : server_(
            address.host, address.port, [&sink] { return sink.Exposition(); },
            engine::kMetricsContentType) {}
  std::uint16_t port() const override { return server_.port(); }

 private:
  metrics::MetricsServer server_;
};

}  // namespace

std::unique_ptr<MetricsEndpoint> HttpMetrics::Serve(const MetricsAddress& address,
                                                    const engine::MetricsSink& sink) {
  try {
    return std::make_unique<HttpEndpoint>(address, sink);
  } catch (const metrics::MetricsServerError& e) {
    throw Failed(e.what());
  }
}

}  // namespace zvk::cli
