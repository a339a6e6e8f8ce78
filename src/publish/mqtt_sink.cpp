#include "publish/mqtt_sink.h"

#include <utility>

#include "publish/messages.h"
#include "record/timestamp.h"

namespace zvk::publish {

namespace {

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Now() {
  return LocalTimestamp(std::chrono::system_clock::now());
}

}  // namespace

MqttSink::MqttSink(PublishSettings settings, std::string broker_url, bool several, Tell tell)
    : settings_(settings),
      broker_url_(std::move(broker_url)),
      several_(several),
      tell_(std::move(tell)),
      gateway_(std::move(settings)) {}

void MqttSink::Connect(std::chrono::milliseconds timeout) {
  gateway_.Connect(timeout);
}

std::string MqttSink::Admit(std::size_t index, const engine::ModuleEntry& module,
                            const zvk::ModuleIdentity& identity) {
  const ModuleIdentity published = IdentityOf(identity);
  // The MAC names the module's topics; two modules under one would mix their readings.
  std::string why = UnpublishableId(published.id);
  if (why.empty() && published_at_.count(published.id) > 0)
    why = "reports the MAC address " + published.id + " of the module at " +
          published_at_.at(published.id) + ", which is published already";
  if (!why.empty()) return "left out of the gateway: the module " + why;
  gateway_.Add(published);
  ids_[index] = published.id;
  published_at_[published.id] = module.address;
  const Topics topics = gateway_.TopicsOf(published.id);
  tell_(index, "publishing " + published.model + " " + published.id + " to " + topics.Channel("#") +
                   " (status " + topics.Status() + ")");
  return "";
}

std::string MqttSink::ModuleId(std::size_t index) const {
  const auto it = ids_.find(index);
  return it == ids_.end() ? std::string() : it->second;
}

void MqttSink::Receive(std::size_t index, const zvk::Sample& sample) {
  const auto it = ids_.find(index);
  if (it == ids_.end()) return;
  gateway_.Submit(it->second, sample);
  const PublisherStatus st = gateway_.Status(it->second);
  std::size_t& told = dropped_told_[index];
  if (st.dropped_polls > told) {
    told = st.dropped_polls;
    tell_(index, Now() + " " + (several_ ? it->second + ": " : "") +
                     "the queue is full: the oldest poll was dropped (" +
                     Counted(st.dropped_polls, "poll", "polls") + " dropped so far)");
  }
}

void MqttSink::EndRound() {
  TellBroker();
}

void MqttSink::TellBroker() {
  const PublisherStatus st = gateway_.Status();
  if (st.refused) throw engine::SinkError("the broker " + broker_url_ + " " + st.last_error);
  if (st.taken_over && !takeover_told_) {
    // Said once: the lost and regained connections that follow are the same story.
    takeover_told_ = true;
    tell_(std::nullopt, Now() + " another client with the client id \"" + gateway_.client_id() +
                            "\" took the session at the broker (it closed the connection right "
                            "after accepting it); trying again with a growing back-off");
  }
  if (st.connected == broker_connected_) return;
  broker_connected_ = st.connected;
  if (st.taken_over) return;
  if (broker_connected_)
    tell_(std::nullopt, Now() + " the broker is connected again");
  else
    tell_(std::nullopt, Now() + " the broker is lost (" + st.last_error +
                            "); readings are queued, at most " +
                            Counted(settings_.queue_polls, "poll", "polls"));
}

bool MqttSink::Finish(std::chrono::steady_clock::time_point deadline) {
  if (finished_) return delivered_;
  finished_ = true;
  // A run that ends on an error still says "offline" for every module and the gateway: a clean
  // goodbye leaves no last will to say it.
  delivered_ = gateway_.Finish(deadline);
  return delivered_;
}

std::string MqttSink::Status() const {
  const PublisherStatus st = gateway_.Status();
  return std::to_string(st.published) + " published, " + std::to_string(st.queued) + " queued, " +
         std::to_string(st.dropped_polls) + " dropped, " +
         (st.connected ? "broker connected" : "waiting for the broker");
}

std::string MqttSink::Summary() const {
  const PublisherStatus st = gateway_.Status();
  return std::to_string(st.published) + " published, " + std::to_string(st.queued) +
         " not delivered, " + Counted(st.dropped_polls, "poll", "polls") + " dropped";
}

}  // namespace zvk::publish
