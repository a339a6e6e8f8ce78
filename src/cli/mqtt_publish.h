// The gateway of `zvk publish` over libmosquitto: polls the module as `log` does and publishes
// every sample through a ModulePublisher of src/publish.
#pragma once

#include <vector>

#include "cli/publish_backend.h"

namespace zvk::cli {

class MqttPublish final : public PublishBackend {
 public:
  void CheckArguments(const PublishArguments& args) override;
  void Run(Session& session, const PublishArguments& args) override;
  std::size_t RunMany(const std::vector<GatewayModule>& modules,
                      const PublishArguments& args) override {
    return RunGateway(modules, args);
  }
  // The gateway over several modules, each polled through its own run (its own System and
  // link) and published through its own client and status topic, one poll of each per interval.
  // `zvk publish` gives it the one module of --host, or every module of an inventory. A module
  // whose MAC is missing, all zeros or already published in the run is left out (the one module
  // of --host fails the run instead); one that has not described itself yet is tried again with
  // a growing back-off. Returns how many modules were left out or never published.
  std::size_t RunGateway(const std::vector<GatewayModule>& modules, const PublishArguments& args);
};

}  // namespace zvk::cli
