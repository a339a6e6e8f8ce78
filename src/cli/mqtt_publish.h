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
  void RunMany(const std::vector<Session*>& sessions, const PublishArguments& args) override {
    RunGateway(sessions, args);
  }
  // The gateway over several modules, each polled through its own run (its own System and
  // link) and published through its own client and status topic, one poll of each per interval.
  // `zvk publish` gives it the one module of --host, or every module of an inventory.
  void RunGateway(const std::vector<Session*>& sessions, const PublishArguments& args);
};

}  // namespace zvk::cli
