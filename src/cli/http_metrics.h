// The metrics endpoint over cpp-httplib (src/metrics), in zvk-publish.
#pragma once

#include "cli/metrics_option.h"

namespace zvk::cli {

class HttpMetrics final : public MetricsBackend {
 public:
  std::unique_ptr<MetricsEndpoint> Serve(const MetricsAddress& address,
                                         const engine::MetricsSink& sink) override;
};

}  // namespace zvk::cli
