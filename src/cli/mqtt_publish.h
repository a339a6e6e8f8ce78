// The gateway of `zvk publish` over libmosquitto: polls the module as `log` does and publishes
// every sample through a ModulePublisher of src/publish.
#pragma once

#include "cli/publish_backend.h"

namespace zvk::cli {

class MqttPublish final : public PublishBackend {
 public:
  void CheckArguments(const PublishArguments& args) override;
  void Run(Session& session, const PublishArguments& args) override;
};

}  // namespace zvk::cli
