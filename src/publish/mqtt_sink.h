// The MQTT gateway as a sink of a long run: every admitted module published through one
// GatewayPublisher (one connection to the broker). What becomes of a module (published, its
// queue full) and of the broker (lost, connected again, the session taken) is told as lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/sink.h"
#include "publish/gateway_publisher.h"

namespace zvk::publish {

class MqttSink final : public engine::Sink {
 public:
  // A line for the run to tell: of one module (`module` its index), or of the gateway (none).
  using Tell = std::function<void(std::optional<std::size_t> module, const std::string& line)>;

  // `broker_url` as the user gave it, for the reasons that name it. `several`: a module's lines
  // name it by its id.
  MqttSink(PublishSettings settings, std::string broker_url, bool several, Tell tell);

  // Connects the gateway, waiting up to `timeout`; throws PublishError.
  void Connect(std::chrono::milliseconds timeout);

  // Refuses a module whose MAC is missing, all zeros, or already published in the run ("left out
  // of the gateway: the module ..."); tells the topics of one it takes.
  std::string Admit(std::size_t index, const engine::ModuleEntry& module,
                    const zvk::ModuleIdentity& identity) override;
  void Receive(std::size_t index, const zvk::Sample& sample) override;
  // Tells what changed at the broker; throws engine::SinkError once the gateway gave up (another
  // client kept taking its session).
  void EndRound() override;
  bool Finish(std::chrono::steady_clock::time_point deadline) override;
  // "16 published, 0 queued, 0 dropped, broker connected"
  std::string Status() const override;
  // "16 published, 0 not delivered, 0 polls dropped"
  std::string Summary() const override;

  GatewayPublisher& gateway() { return gateway_; }
  // The id the module `index` is published under; empty while it is not.
  std::string ModuleId(std::size_t index) const;

 private:
  // Tells what changed at the broker since the last time; throws once the gateway gave up.
  void TellBroker();

  PublishSettings settings_;
  std::string broker_url_;
  bool several_;
  Tell tell_;
  GatewayPublisher gateway_;
  std::map<std::size_t, std::string> ids_;           // index: module id
  std::map<std::string, std::string> published_at_;  // module id: its address
  std::map<std::size_t, std::size_t> dropped_told_;
  bool broker_connected_ = true;
  bool takeover_told_ = false;
  bool finished_ = false;
  bool delivered_ = true;
};

}  // namespace zvk::publish
