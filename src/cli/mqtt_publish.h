// The gateway of `zvk publish` over libmosquitto: polls the module as `log` does and publishes
// every sample of every module through one GatewayPublisher of src/publish.
#pragma once

#include <ostream>
#include <vector>

#include "cli/publish_backend.h"

namespace zvk::cli {

class MqttPublish final : public PublishBackend {
 public:
  void CheckArguments(const PublishArguments& args) override;
  void Run(Session& session, const PublishArguments& args) override;
  std::size_t RunMany(const std::vector<GatewayModule>& modules, const PublishArguments& args,
                      std::ostream& err) override {
    return RunGateway(modules, args, &err);
  }
  // The gateway over several modules, each polled through its own run (its own System and
  // link) and published under its own topics and status through the gateway's one client (one
  // connection, one last will on the gateway's status), one poll of each per interval. What
  // concerns the broker is said on `err` (else the first module's standard error).
  // `zvk publish` gives it the one module of --host, or every module of an inventory. A module
  // whose MAC is missing, all zeros or already published in the run is left out (the one module
  // of --host fails the run instead); one that has not described itself yet is tried again with
  // a growing back-off. Returns how many modules were left out or never published.
  std::size_t RunGateway(const std::vector<GatewayModule>& modules, const PublishArguments& args,
                         std::ostream* err = nullptr);
};

}  // namespace zvk::cli
