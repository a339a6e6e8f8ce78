#include "publish/module_publisher.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

namespace zvk::publish {

namespace {

constexpr int kQos = 1;
// Messages handed to the client at once and not yet acknowledged: enough to fill a slow link,
// few enough that a queue of hours is not copied into the client while it cannot send.
constexpr std::size_t kWindow = 20;

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ErrorText(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::generic_category().message(errno);
  return mosquitto_strerror(rc);
}

std::string BrokerName(const BrokerAddress& b) {
  const bool ipv6 = b.host.find(':') != std::string::npos;
  return (b.tls ? "mqtts://" : "mqtt://") + (ipv6 ? "[" + b.host + "]" : b.host) + ":" +
         std::to_string(b.port);
}

}  // namespace

ModulePublisher::ModulePublisher(PublishSettings settings, ModuleIdentity module)
    : settings_(std::move(settings)),
      module_(std::move(module)),
      topics_(settings_.topic_prefix, module_.id),
      readings_(topics_),
      outbox_(settings_.queue_polls) {
  InitLibrary();
  if (settings_.client_id.empty()) settings_.client_id = "zvk-" + module_.id;
}

ModulePublisher::~ModulePublisher() {
  if (client_) {
    if (loop_running_) {
      mosquitto_disconnect(client_);
      mosquitto_loop_stop(client_, true);
    }
    mosquitto_destroy(client_);
  }
}

void ModulePublisher::OnChange(std::function<void()> notify) {
  std::lock_guard<std::mutex> lock(mutex_);
  notify_ = std::move(notify);
}

void ModulePublisher::Connect(std::chrono::milliseconds timeout) {
  const std::string broker = BrokerName(settings_.broker);
  client_ = mosquitto_new(settings_.client_id.c_str(), true, this);
  if (!client_)
    throw PublishError("cannot create an MQTT client: " + ErrorText(MOSQ_ERR_ERRNO), false);
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  // A poll's few small messages go out at once instead of waiting for the broker's delayed
  // acknowledgement of the previous segment (tens of milliseconds per poll otherwise).
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  const std::string status = topics_.Status();
  int rc = mosquitto_will_set(client_, status.c_str(), static_cast<int>(std::strlen(kOffline)),
                              kOffline, kQos, true);
  if (rc != MOSQ_ERR_SUCCESS)
    throw PublishError("cannot set the last will on " + status + ": " + ErrorText(rc), false);
  if (!settings_.username.empty() || settings_.password) {
    rc = mosquitto_username_pw_set(
        client_, settings_.username.empty() ? nullptr : settings_.username.c_str(),
        settings_.password ? settings_.password->c_str() : nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      throw PublishError("cannot use the credentials: " + ErrorText(rc), false);
  }
  if (settings_.broker.tls) {
    rc = settings_.cafile.empty()
             ? mosquitto_tls_set(client_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
             : mosquitto_tls_set(client_, settings_.cafile.c_str(), nullptr, nullptr, nullptr,
                                 nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      throw PublishError("cannot use the CA certificates " +
                             (settings_.cafile.empty() ? std::string("of the system")
                                                       : "\"" + settings_.cafile + "\"") +
                             ": " + ErrorText(rc),
                         false);
  }
  mosquitto_reconnect_delay_set(client_, 1, static_cast<unsigned>(settings_.reconnect_max_seconds),
                                true);
  mosquitto_connect_callback_set(client_, &ModulePublisher::HandleConnect);
  mosquitto_disconnect_callback_set(client_, &ModulePublisher::HandleDisconnect);
  mosquitto_publish_callback_set(client_, &ModulePublisher::HandlePublish);
  mosquitto_log_callback_set(client_, &ModulePublisher::HandleLog);

  // The first connection is made here, so that an unreachable broker is told at once rather than
  // retried in the background.
  rc = mosquitto_connect(client_, settings_.broker.host.c_str(), settings_.broker.port,
                         settings_.keepalive_seconds);
  if (rc != MOSQ_ERR_SUCCESS)
    throw PublishError("cannot reach the broker " + broker + ": " + ErrorText(rc), false);
  rc = mosquitto_loop_start(client_);
  if (rc != MOSQ_ERR_SUCCESS)
    throw PublishError("cannot start the MQTT client: " + ErrorText(rc), false);
  loop_running_ = true;

  std::unique_lock<std::mutex> lock(mutex_);
  const bool answered = changed_.wait_for(
      lock, timeout, [this] { return connack_.has_value() || closed_before_answer_; });
  if (connack_ && *connack_ == 0) return;
  std::string why;
  bool refused = false;
  if (connack_) {
    refused = true;
    why =
        "the broker " + broker + " refused the connection: " + mosquitto_connack_string(*connack_);
  } else if (closed_before_answer_) {
    why = "the broker " + broker + " closed the connection before accepting it" +
          (status_.last_error.empty() ? std::string() : " (" + status_.last_error + ")");
  } else if (!answered) {
    why = "no answer from the broker " + broker + " within " +
          std::to_string(timeout.count() / 1000) + " s" +
          (status_.last_error.empty() ? std::string() : " (" + status_.last_error + ")");
  }
  lock.unlock();
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, true);
  loop_running_ = false;
  throw PublishError(why, refused);
}

void ModulePublisher::HandleConnect(mosquitto*, void* self, int rc) {
  static_cast<ModulePublisher*>(self)->Connected(rc);
}
void ModulePublisher::HandleDisconnect(mosquitto*, void* self, int rc) {
  static_cast<ModulePublisher*>(self)->Disconnected(rc);
}
void ModulePublisher::HandlePublish(mosquitto*, void* self, int mid) {
  static_cast<ModulePublisher*>(self)->Acknowledged(mid);
}

// The client's own errors (a certificate that does not verify) say more than the bare fact
// that the connection ended; one before the broker's first answer ends the wait for it.
void ModulePublisher::HandleLog(mosquitto*, void* self, int level, const char* text) {
  if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr) return;
  auto* p = static_cast<ModulePublisher*>(self);
  {
    std::lock_guard<std::mutex> lock(p->mutex_);
    p->status_.last_error = text;
    if (!p->connack_) p->closed_before_answer_ = true;
  }
  p->changed_.notify_all();
}

void ModulePublisher::Connected(int rc) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool first = !connack_.has_value();
    connack_ = rc;
    if (rc != 0) {
      status_.last_error = std::string("refused: ") + mosquitto_connack_string(rc);
      // Credentials or a client id the broker refuses stay refused: trying again only
      // hammers it. The front end tells the person and stops.
      if (!first) {
        status_.refused = true;
        mosquitto_disconnect(client_);
      }
    } else {
      if (!first) ++status_.reconnects;
      connected_ = true;
      status_.last_error.clear();
      // A broker that restarted without keeping its retained messages learns the module's
      // state and its sensors again.
      if (module_known_)
        PublishCurrentLocked({topics_.Status(), module_online_ ? kOnline : kOffline, true});
      if (settings_.discovery)
        for (const Message& m : DiscoveryMessages(settings_.discovery_prefix, topics_, module_,
                                                  announced_channels_, announced_units_))
          PublishCurrentLocked(m);
      FlushLocked();
    }
  }
  changed_.notify_all();
  Notify();
}

void ModulePublisher::Disconnected(int rc) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connack_) closed_before_answer_ = true;
    connected_ = false;
    if (rc != 0 && !status_.refused) status_.last_error = "connection lost: " + ErrorText(rc);
  }
  changed_.notify_all();
  Notify();
}

void ModulePublisher::Acknowledged(int mid) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in_flight_.erase(mid);
    if (readings_in_flight_.erase(mid) > 0) ++status_.published;
    FlushLocked();
  }
  changed_.notify_all();
  Notify();
}

void ModulePublisher::PublishCurrentLocked(const Message& m) {
  int mid = 0;
  const int rc =
      mosquitto_publish(client_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                        m.payload.data(), kQos, m.retain);
  if (rc == MOSQ_ERR_SUCCESS) in_flight_.insert(mid);
}

void ModulePublisher::FlushLocked() {
  while (connected_ && in_flight_.size() < kWindow && !outbox_.empty()) {
    const Message& m = *outbox_.Front();
    int mid = 0;
    const int rc =
        mosquitto_publish(client_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                          m.payload.data(), kQos, m.retain);
    if (rc != MOSQ_ERR_SUCCESS) return;  // kept for the next connection
    in_flight_.insert(mid);
    readings_in_flight_.insert(mid);
    outbox_.Pop();
  }
}

void ModulePublisher::Submit(const Sample& sample) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Message> poll = readings_.For(sample);
    if (sample.kind != SampleKind::Pause) {
      const bool online = sample.kind == SampleKind::Readings;
      if (!module_known_ || online != module_online_) {
        module_known_ = true;
        module_online_ = online;
        if (connected_) PublishCurrentLocked({topics_.Status(), online ? kOnline : kOffline, true});
      }
    }
    if (settings_.discovery &&
        (readings_.channels() != announced_channels_ || readings_.units() != announced_units_)) {
      announced_channels_ = readings_.channels();
      announced_units_ = readings_.units();
      if (connected_)
        for (const Message& m : DiscoveryMessages(settings_.discovery_prefix, topics_, module_,
                                                  announced_channels_, announced_units_))
          PublishCurrentLocked(m);
    }
    outbox_.Push(std::move(poll));
    FlushLocked();
  }
  Notify();
}

PublisherStatus ModulePublisher::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  PublisherStatus s = status_;
  s.connected = connected_;
  s.queued = outbox_.messages() + readings_in_flight_.size();
  s.queued_polls = outbox_.polls();
  s.dropped_polls = outbox_.dropped_polls();
  return s;
}

bool ModulePublisher::WaitDelivered(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline,
                             [this] { return outbox_.empty() && readings_in_flight_.empty(); });
}

bool ModulePublisher::Finish(std::chrono::steady_clock::time_point deadline) {
  if (!client_ || !loop_running_) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  finishing_ = true;
  if (connected_) PublishCurrentLocked({topics_.Status(), kOffline, true});
  changed_.wait_until(lock, deadline,
                      [this] { return !connected_ || (in_flight_.empty() && outbox_.empty()); });
  const bool all_delivered = in_flight_.empty() && outbox_.empty();
  lock.unlock();
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  loop_running_ = false;
  return all_delivered;
}

void ModulePublisher::Notify() {
  std::function<void()> notify;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    notify = notify_;
  }
  if (notify) notify();
}

}  // namespace zvk::publish
