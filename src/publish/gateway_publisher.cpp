#include "publish/gateway_publisher.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace zvk::publish {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQos = 1;
// Messages handed to the client at once and not yet acknowledged: enough to fill a slow link,
// few enough that a queue of hours is not copied into the client while it cannot send.
constexpr std::size_t kWindow = 20;
// One turn of the client waits this long for traffic at most; the keepalive is kept between
// turns. A publish from another thread wakes it at once.
constexpr int kTurnMs = 1000;
// How long the network thread may still spend on a clean goodbye once told to stop.
constexpr std::chrono::seconds kGoodbye{2};

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ErrorText(int rc, int saved_errno = 0) {
  if (rc == MOSQ_ERR_ERRNO) return std::generic_category().message(saved_errno);
  // A reason code the broker sent with its DISCONNECT (MQTT 5).
  if (rc >= 0x80) return mosquitto_reason_string(rc);
  return mosquitto_strerror(rc);
}

// The broker's answer to CONNECT; MQTT 5's refusals that 3.1.1 knows read as they always did.
std::string ConnackText(int rc, int protocol) {
  if (protocol != MQTT_PROTOCOL_V5) return mosquitto_connack_string(rc);
  switch (rc) {
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
      return mosquitto_connack_string(1);
    case MQTT_RC_CLIENTID_NOT_VALID:
      return mosquitto_connack_string(2);
    case MQTT_RC_SERVER_UNAVAILABLE:
      return mosquitto_connack_string(3);
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
      return mosquitto_connack_string(4);
    case MQTT_RC_NOT_AUTHORIZED:
      return mosquitto_connack_string(5);
    default:
      return mosquitto_reason_string(rc);
  }
}

std::string BrokerName(const BrokerAddress& b) {
  const bool ipv6 = b.host.find(':') != std::string::npos;
  return (b.tls ? "mqtts://" : "mqtt://") + (ipv6 ? "[" + b.host + "]" : b.host) + ":" +
         std::to_string(b.port);
}

}  // namespace

GatewayPublisher::Module::Module(const PublishSettings& settings, ModuleIdentity module)
    : identity(std::move(module)),
      topics(settings.topic_prefix, identity.id),
      readings(topics),
      outbox(settings.queue_polls) {}

GatewayPublisher::GatewayPublisher(PublishSettings settings)
    : settings_(std::move(settings)),
      status_topic_(GatewayStatusTopic(settings_.topic_prefix, settings_.client_id)) {
  if (settings_.client_id.empty()) throw std::invalid_argument("a gateway needs a client id");
  InitLibrary();
  backoff_ = settings_.reconnect_first;
}

GatewayPublisher::~GatewayPublisher() {
  StopNetwork();
  guard_.reset();  // its thread tells this publisher why it ended a connection
  if (client_) mosquitto_destroy(client_);
  if (tls_context_) FreeTlsContext(tls_context_);
}

void GatewayPublisher::OnChange(std::function<void()> notify) {
  std::lock_guard<std::mutex> lock(mutex_);
  notify_ = std::move(notify);
}

void GatewayPublisher::CreateClient(int version) {
  if (client_) mosquitto_destroy(client_);
  client_ = mosquitto_new(settings_.client_id.c_str(), true, this);
  if (!client_)
    throw PublishError("cannot create an MQTT client: " + ErrorText(MOSQ_ERR_ERRNO, errno), false);
  protocol_ = version;
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, version);
  // Publishing from the caller's thread wakes the network thread instead of writing itself.
  mosquitto_threaded_set(client_, true);
  // A poll's few small messages go out at once instead of waiting for the broker's delayed
  // acknowledgement of the previous segment (tens of milliseconds per poll otherwise).
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  const std::string& status = status_topic_;
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
  if (settings_.broker.tls && !tls_context_) {
    // The guard is the TLS client (see Guard); libmosquitto speaks plain MQTT to it.
    try {
      tls_context_ = NewTlsContext(settings_.cafile);
    } catch (const std::runtime_error& e) {
      throw PublishError("cannot use the CA certificates " +
                             (settings_.cafile.empty() ? std::string("of the system")
                                                       : "\"" + settings_.cafile + "\"") +
                             ": " + e.what(),
                         false);
    }
  }
  mosquitto_connect_callback_set(client_, &GatewayPublisher::HandleConnect);
  mosquitto_disconnect_callback_set(client_, &GatewayPublisher::HandleDisconnect);
  mosquitto_publish_callback_set(client_, &GatewayPublisher::HandlePublish);
  mosquitto_log_callback_set(client_, &GatewayPublisher::HandleLog);
}

void GatewayPublisher::Connect(std::chrono::milliseconds timeout) {
  // MQTT 5 tells the client when another one took its session, and carries the largest packet
  // the gateway takes. A broker that speaks only 3.1.1 answers that it does not know the
  // version, and is then spoken to in 3.1.1.
  std::optional<PublishError> error = Attempt(MQTT_PROTOCOL_V5, timeout);
  if (error && unsupported_version_) error = Attempt(MQTT_PROTOCOL_V311, timeout);
  if (error) throw *error;
}

std::optional<PublishError> GatewayPublisher::Attempt(int version,
                                                      std::chrono::milliseconds timeout) {
  const std::string broker = BrokerName(settings_.broker);
  StopNetwork();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connack_.reset();
    closed_before_answer_ = false;
    guard_ended_ = false;
    unsupported_version_ = false;
    stopping_ = false;
    status_.last_error.clear();
  }
  CreateClient(version);

  // The first connection is made here, so that an unreachable broker is told at once rather than
  // retried in the background.
  int rc = MOSQ_ERR_SUCCESS;
  int saved_errno = 0;
  if (version == MQTT_PROTOCOL_V5) {
    mosquitto_property* properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, kLargestInboundPacket);
    rc = mosquitto_connect_bind_v5(client_, settings_.broker.host.c_str(), settings_.broker.port,
                                   settings_.keepalive_seconds, nullptr, properties);
    saved_errno = errno;
    mosquitto_property_free_all(&properties);
  } else {
    rc = mosquitto_connect(client_, settings_.broker.host.c_str(), settings_.broker.port,
                           settings_.keepalive_seconds);
    saved_errno = errno;
  }
  if (rc != MOSQ_ERR_SUCCESS)
    return PublishError("cannot reach the broker " + broker + ": " + ErrorText(rc, saved_errno),
                        false);
  Guard();
  network_ = std::thread([this] { Network(); });

  std::unique_lock<std::mutex> lock(mutex_);
  const bool answered = changed_.wait_for(
      lock, timeout, [this] { return connack_.has_value() || closed_before_answer_; });
  if (connack_ && *connack_ == 0) return std::nullopt;
  std::string why;
  bool refused = false;
  if (connack_) {
    refused = true;
    unsupported_version_ =
        version == MQTT_PROTOCOL_V5 && *connack_ == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
    why = "the broker " + broker + " refused the connection: " + ConnackText(*connack_, protocol_);
  } else if (closed_before_answer_ && guard_ended_) {
    // The gateway ended it: a certificate it does not trust, a packet it does not take.
    why = "cannot connect to the broker " + broker + ": " + status_.last_error;
  } else if (closed_before_answer_) {
    why = "the broker " + broker + " closed the connection before accepting it" +
          (status_.last_error.empty() ? std::string() : " (" + status_.last_error + ")");
  } else if (!answered) {
    why = "no answer from the broker " + broker + " within " +
          std::to_string(timeout.count() / 1000) + " s" +
          (status_.last_error.empty() ? std::string() : " (" + status_.last_error + ")");
  }
  lock.unlock();
  StopNetwork();
  return PublishError(why, refused);
}

void GatewayPublisher::Network() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_ && Clock::now() >= stop_by_) return;
    }
    const int rc = mosquitto_loop(client_, kTurnMs, 1);
    if (rc == MOSQ_ERR_SUCCESS) continue;
    // Lost, refused or never made: try again after the back-off, which grows with every failure
    // until a connection stays up, so neither a broker that is down nor one that drops the
    // gateway at once is hammered.
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) return;
    const auto wait = backoff_;
    backoff_ = std::min<std::chrono::milliseconds>(
        backoff_ * 2, std::chrono::seconds(settings_.reconnect_max_seconds));
    if (changed_.wait_for(lock, wait, [this] { return stopping_; })) return;
    lock.unlock();
    // The previous connection's guard, done with it; never joined while holding the lock it
    // takes to tell why it ended one.
    guard_.reset();
    const int again = mosquitto_reconnect_async(client_);
    if (again == MOSQ_ERR_SUCCESS) Guard();
    if (again != MOSQ_ERR_SUCCESS) {
      const int saved_errno = errno;
      lock.lock();
      status_.last_error = "cannot reach the broker: " + ErrorText(again, saved_errno);
      NotTakenOverLocked();
    }
  }
}

void GatewayPublisher::StopNetwork() {
  if (!network_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) stop_by_ = Clock::now() + kGoodbye;
    stopping_ = true;
  }
  changed_.notify_all();
  mosquitto_disconnect(client_);
  network_.join();
  guard_.reset();
}

void GatewayPublisher::Guard() {
  guard_.reset();
  const int fd = mosquitto_socket(client_);
  if (fd < 0) return;
  guard_ = std::make_unique<InboundGuard>(fd, kLargestInboundPacket,
                                          GuardTls{tls_context_, settings_.broker.host},
                                          [this](const std::string& why) {
                                            std::lock_guard<std::mutex> lock(mutex_);
                                            guard_refusal_ = why;
                                          });
  // Never plain MQTT to a broker that expects TLS: without the guard the connection ends.
  if (!guard_->guarding() && tls_context_) ::shutdown(fd, SHUT_RDWR);
}

void GatewayPublisher::HandleConnect(mosquitto*, void* self, int rc) {
  static_cast<GatewayPublisher*>(self)->Connected(rc);
}
void GatewayPublisher::HandleDisconnect(mosquitto*, void* self, int rc) {
  static_cast<GatewayPublisher*>(self)->Disconnected(rc);
}
void GatewayPublisher::HandlePublish(mosquitto*, void* self, int mid) {
  static_cast<GatewayPublisher*>(self)->Acknowledged(mid);
}

// The client's own errors (a certificate that does not verify) say more than the bare fact
// that the connection ended; one before the broker's first answer ends the wait for it.
void GatewayPublisher::HandleLog(mosquitto*, void* self, int level, const char* text) {
  if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr) return;
  auto* p = static_cast<GatewayPublisher*>(self);
  {
    std::lock_guard<std::mutex> lock(p->mutex_);
    p->status_.last_error = text;
    if (!p->connack_) p->closed_before_answer_ = true;
  }
  p->changed_.notify_all();
}

void GatewayPublisher::Connected(int rc) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool first = !connack_.has_value();
    connack_ = rc;
    if (rc != 0) {
      // At a reconnection the refusal is tried again with the back-off, as an outage is: a
      // broker restarting, or its authentication not yet up, says no for a while.
      status_.last_error = "refused: " + ConnackText(rc, protocol_);
      refused_now_ = true;
      NotTakenOverLocked();
    } else {
      if (!first) ++status_.reconnects;
      connected_ = true;
      connected_at_ = Clock::now();
      status_.last_error.clear();
      // Dropped at once without a word, and let in again at once: the broker took the session
      // for another client with this id, and gives it back to whichever connected last.
      if (dropped_while_up_) {
        dropped_while_up_ = false;
        TakenOverLocked(false);
      }
      if (stopping_) {
        // Given up: no module's status may stay "online" behind a gateway that left.
        GoodbyeLocked();
        connected_ = false;
        mosquitto_disconnect(client_);
      } else if (in_flight_.empty()) {
        // libmosquitto sends what the broker had not acknowledged once this callback returns;
        // the rest waits for their first acknowledgement.
        AnnounceLocked();
        FlushLocked();
      } else {
        resend_pending_ = true;
      }
    }
  }
  changed_.notify_all();
  Notify();
}

void GatewayPublisher::TakenOverLocked(bool said) {
  ++status_.takeovers;
  // Without the broker's word, once could be a broker restarting in a hurry; twice is not.
  if (said || status_.takeovers >= 2) status_.taken_over = true;
  const std::string who = "another client with the client id \"" + settings_.client_id + "\"";
  status_.last_error = who + " took the session";
  if (status_.takeovers < kTakeoverLimit) return;
  status_.refused = true;
  status_.last_error = "gave the session to " + who + " " + std::to_string(status_.takeovers) +
                       " times in a row; give each gateway a client id of its own";
  stopping_ = true;
  stop_by_ = Clock::now() + kGoodbye;
}

void GatewayPublisher::NotTakenOverLocked() {
  // An attempt that failed is an outage or a refusal, not another client's turn.
  dropped_while_up_ = false;
  status_.takeovers = 0;
  status_.taken_over = false;
}

void GatewayPublisher::Disconnected(int rc) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connack_) closed_before_answer_ = true;
    const bool was_up = connected_;
    const bool lasted = was_up && Clock::now() - connected_at_ >=
                                      std::chrono::seconds(settings_.reconnect_max_seconds);
    if (lasted) {
      backoff_ = settings_.reconnect_first;
      status_.takeovers = 0;
      status_.taken_over = false;
    }
    connected_ = false;
    resend_pending_ = false;
    if (!guard_refusal_.empty()) {
      // The guard ended it: a broker that sends what it must not, not another client's turn.
      status_.last_error = guard_refusal_;
      guard_refusal_.clear();
      guard_ended_ = true;
      NotTakenOverLocked();
    } else if (rc == MQTT_RC_SESSION_TAKEN_OVER) {
      // MQTT 5 brokers that say so.
      TakenOverLocked(true);
    } else if (was_up && !lasted && rc == MOSQ_ERR_CONN_LOST && !stopping_) {
      // Others close the connection without a word; told apart from an outage by the next
      // attempt being let in at once.
      dropped_while_up_ = true;
      status_.last_error = "connection lost: " + ErrorText(rc, errno);
    } else {
      if (!was_up) NotTakenOverLocked();
      // The connection a refusal ends says no more than the refusal did.
      if (rc != 0 && !refused_now_) status_.last_error = "connection lost: " + ErrorText(rc, errno);
    }
    refused_now_ = false;
  }
  changed_.notify_all();
  Notify();
}

void GatewayPublisher::Acknowledged(int mid) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in_flight_.erase(mid);
    if (auto it = readings_in_flight_.find(mid); it != readings_in_flight_.end()) {
      ++it->second->published;
      --it->second->in_flight;
      readings_in_flight_.erase(it);
    }
    if (resend_pending_) {
      resend_pending_ = false;
      AnnounceLocked();
    }
    FlushLocked();
  }
  changed_.notify_all();
  Notify();
}

void GatewayPublisher::AnnounceLocked() {
  // A broker that restarted without keeping its retained messages learns the gateway's state,
  // the modules' and their sensors again.
  PublishCurrentLocked({status_topic_, finishing_ ? kOffline : kOnline, true});
  for (const std::unique_ptr<Module>& m : modules_) AnnounceModuleLocked(*m);
}

void GatewayPublisher::AnnounceModuleLocked(const Module& m) {
  if (m.known) PublishCurrentLocked({m.topics.Status(), m.online ? kOnline : kOffline, true});
  if (settings_.discovery && !m.left)
    for (const Message& d : DiscoveryMessages(settings_.discovery_prefix, status_topic_, m.topics,
                                              m.identity, m.announced_channels, m.announced_units))
      PublishCurrentLocked(d);
}

void GatewayPublisher::GoodbyeLocked() {
  for (const std::unique_ptr<Module>& m : modules_) {
    m->online = false;
    if (m->known) PublishCurrentLocked({m->topics.Status(), kOffline, true});
  }
  PublishCurrentLocked({status_topic_, kOffline, true});
}

bool GatewayPublisher::PublishCurrentLocked(const Message& m) {
  int mid = 0;
  const int rc =
      mosquitto_publish(client_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                        m.payload.data(), kQos, m.retain);
  if (rc != MOSQ_ERR_SUCCESS) return false;
  in_flight_.insert(mid);
  return true;
}

void GatewayPublisher::FlushLocked() {
  const std::size_t n = modules_.size();
  while (connected_ && !resend_pending_ && in_flight_.size() < kWindow) {
    // The next module in turn with something queued; none: all is handed over.
    Module* m = nullptr;
    for (std::size_t k = 0; k < n && !m; ++k) {
      Module& candidate = *modules_[(turn_ + k) % n];
      if (!candidate.outbox.empty()) {
        m = &candidate;
        turn_ = (turn_ + k + 1) % n;
      }
    }
    if (!m) return;
    const Message& message = *m->outbox.Front();
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, message.topic.c_str(),
                                     static_cast<int>(message.payload.size()),
                                     message.payload.data(), kQos, message.retain);
    if (rc != MOSQ_ERR_SUCCESS) return;  // kept for the next connection
    in_flight_.insert(mid);
    readings_in_flight_[mid] = m;
    ++m->in_flight;
    m->outbox.Pop();
  }
}

GatewayPublisher::Module* GatewayPublisher::Find(const std::string& module_id) {
  const auto it = by_id_.find(module_id);
  return it == by_id_.end() ? nullptr : it->second;
}

const GatewayPublisher::Module* GatewayPublisher::Find(const std::string& module_id) const {
  const auto it = by_id_.find(module_id);
  return it == by_id_.end() ? nullptr : it->second;
}

bool GatewayPublisher::Add(const ModuleIdentity& module) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (by_id_.count(module.id) > 0) return false;
  modules_.push_back(std::make_unique<Module>(settings_, module));
  by_id_[module.id] = modules_.back().get();
  return true;
}

void GatewayPublisher::Submit(const std::string& module_id, const Sample& sample) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Module* m = Find(module_id);
    if (!m) throw std::invalid_argument("the module " + module_id + " is not in the gateway");
    if (m->left) return;
    // Until the messages of the previous connection are sent again, the news waits (the
    // announcement after them tells the current status and sensors).
    const bool now = connected_ && !resend_pending_;
    std::vector<Message> poll = m->readings.For(sample);
    if (sample.kind != SampleKind::Pause) {
      const bool online = sample.kind == SampleKind::Readings;
      if (!m->known || online != m->online) {
        m->known = true;
        m->online = online;
        if (now) PublishCurrentLocked({m->topics.Status(), online ? kOnline : kOffline, true});
      }
    }
    if (settings_.discovery && (m->readings.channels() != m->announced_channels ||
                                m->readings.units() != m->announced_units)) {
      m->announced_channels = m->readings.channels();
      m->announced_units = m->readings.units();
      if (now)
        for (const Message& d :
             DiscoveryMessages(settings_.discovery_prefix, status_topic_, m->topics, m->identity,
                               m->announced_channels, m->announced_units))
          PublishCurrentLocked(d);
    }
    m->outbox.Push(std::move(poll));
    FlushLocked();
  }
  Notify();
}

void GatewayPublisher::Remove(const std::string& module_id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Module* m = Find(module_id);
    if (!m || m->left) return;
    m->left = true;
    m->known = true;
    m->online = false;
    if (connected_ && !resend_pending_) PublishCurrentLocked({m->topics.Status(), kOffline, true});
  }
  Notify();
}

std::vector<std::string> GatewayPublisher::ModuleIds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> ids;
  for (const std::unique_ptr<Module>& m : modules_) ids.push_back(m->identity.id);
  return ids;
}

PublisherStatus GatewayPublisher::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  PublisherStatus s = status_;
  s.connected = connected_;
  for (const std::unique_ptr<Module>& m : modules_) {
    // What was handed to the client and not yet acknowledged is not delivered either.
    s.queued += m->outbox.messages() + m->in_flight;
    s.queued_polls += m->outbox.polls();
    s.dropped_polls += m->outbox.dropped_polls();
    s.published += m->published;
  }
  return s;
}

PublisherStatus GatewayPublisher::Status(const std::string& module_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  PublisherStatus s = status_;
  s.connected = connected_;
  if (const Module* m = Find(module_id)) {
    s.queued = m->outbox.messages() + m->in_flight;
    s.queued_polls = m->outbox.polls();
    s.dropped_polls = m->outbox.dropped_polls();
    s.published = m->published;
  }
  return s;
}

bool GatewayPublisher::DeliveredLocked() const {
  if (!readings_in_flight_.empty()) return false;
  return std::all_of(modules_.begin(), modules_.end(),
                     [](const std::unique_ptr<Module>& m) { return m->outbox.empty(); });
}

bool GatewayPublisher::WaitDelivered(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return DeliveredLocked(); });
}

bool GatewayPublisher::Finish(std::chrono::steady_clock::time_point deadline) {
  if (!client_ || !network_.joinable()) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  finishing_ = true;
  // Said now when connected, else by the announcement of a connection made before the deadline.
  if (connected_ && !resend_pending_) {
    GoodbyeLocked();
  } else {
    for (const std::unique_ptr<Module>& m : modules_) m->online = false;
  }
  // Through an outage too: the broker may be back before the deadline. A publisher that gave
  // up has nothing more to wait for.
  changed_.wait_until(lock, deadline,
                      [this] { return stopping_ || (in_flight_.empty() && DeliveredLocked()); });
  const bool all_delivered = in_flight_.empty() && DeliveredLocked();
  lock.unlock();
  StopNetwork();
  return all_delivered;
}

void GatewayPublisher::Notify() {
  std::function<void()> notify;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    notify = notify_;
  }
  if (notify) notify();
}

}  // namespace zvk::publish
