// The gateway of `zvk publish` over libmosquitto: the engine of src/engine polls the module of
// --host, or every module of an inventory, and hands every sample to the MQTT sink of
// src/publish, which publishes them all through one connection to the broker.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/metrics_option.h"
#include "cli/publish_backend.h"

namespace zvk::cli {

class MqttPublish final : public PublishBackend {
 public:
  // `metrics`: what serves --metrics; null in a build without it.
  explicit MqttPublish(MetricsBackend* metrics = nullptr) : metrics_(metrics) {}
  void CheckArguments(const PublishArguments& args) override;
  void Run(Session& session, const PublishArguments& args) override;
  int RunMany(const std::vector<std::string>& labels, const Command::SessionMaker& open,
              std::ostream& out, std::ostream& err, const PublishArguments& args) override;

 private:
  MetricsBackend* metrics_;
};

}  // namespace zvk::cli
