// A gateway's one connection to the broker for all of its modules: one client, whose last will
// says "offline" on the gateway's status topic; for each module its queue of readings and its
// status, published while the broker is reachable and kept in order while it is not. A network
// thread of the publisher's own drives libmosquitto: it reads and writes the connection and
// reconnects with a growing back-off; the caller's thread only queues readings and reads the
// counters, so it never waits on the broker.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "publish/broker_url.h"
#include "publish/inbound_guard.h"
#include "publish/messages.h"
#include "publish/outbox.h"
#include "publish/settings.h"

struct mosquitto;

namespace zvk::publish {

// Takeovers of the session by another client with the same id, in a row, after which the
// publisher gives up: two gateways with one id would otherwise take turns forever. A takeover is
// the broker's word for it (MQTT 5), or an accepted connection closed without a word before it
// stayed up for the longest back-off, followed by an attempt that is let in at once.
inline constexpr std::size_t kTakeoverLimit = 3;
// The largest packet the gateway accepts from the broker, announced when it connects; the
// gateway subscribes to nothing, so the broker sends it only acknowledgements.
inline constexpr std::uint32_t kLargestInboundPacket = 4096;

// The broker could not be reached, or refused the client; `refused` when it answered and said
// no (credentials, client id), which trying again would not change.
class PublishError : public std::runtime_error {
 public:
  PublishError(const std::string& what, bool refused)
      : std::runtime_error(what), refused_(refused) {}
  bool refused() const { return refused_; }

 private:
  bool refused_;
};

// The connection's state, with the counts of one module or of all of them.
struct PublisherStatus {
  bool connected = false;
  bool refused = false;    // the publisher gave up (repeated takeovers); last_error says why
  std::size_t queued = 0;  // channel messages not yet acknowledged by the broker
  std::size_t queued_polls = 0;
  std::size_t dropped_polls = 0;  // polls dropped from a full queue
  std::size_t published = 0;      // channel messages the broker acknowledged
  std::size_t reconnects = 0;
  std::size_t takeovers = 0;  // in a row: the broker handed the session to another client
  bool taken_over = false;    // the takeovers are known for what they are, not a restart
  std::string last_error;     // why the broker was last lost or refused; empty while all is well
};

class GatewayPublisher {
 public:
  // Throws std::invalid_argument without a client id.
  explicit GatewayPublisher(PublishSettings settings);
  ~GatewayPublisher();
  GatewayPublisher(const GatewayPublisher&) = delete;
  GatewayPublisher& operator=(const GatewayPublisher&) = delete;

  // Connects and waits up to `timeout` for the broker to accept; then keeps the connection up on
  // libmosquitto's thread. Throws PublishError when it cannot connect or is refused.
  void Connect(std::chrono::milliseconds timeout);
  // Publishes a module from now on, before or after Connect; false when one with its id is
  // published already. Nothing is said of it before its first sample.
  bool Add(const ModuleIdentity& module);
  // Queues the sample's channel messages of an added module and publishes them when connected; a
  // readings sample sets the module "online", a gap "offline". Ignored once the module is left.
  void Submit(const std::string& module_id, const Sample& sample);
  // The module is left: its status goes "offline" and stays so; what it queued still goes out.
  void Remove(const std::string& module_id);
  // The connection, with the counts of all modules together, or of one.
  PublisherStatus Status() const;
  PublisherStatus Status(const std::string& module_id) const;
  // Called on the network thread whenever the status changed (connected, sent, dropped); a
  // front end hands it on to its own thread.
  void OnChange(std::function<void()> notify);
  // Waits until every reading queued so far is acknowledged, or `deadline` passes; true when
  // nothing is left. Publishing goes on meanwhile.
  bool WaitDelivered(std::chrono::steady_clock::time_point deadline);
  // Publishes "offline" for every module and the gateway, waits until every queued message is
  // acknowledged or `deadline` passes, and disconnects cleanly. True when nothing was left
  // undelivered.
  bool Finish(std::chrono::steady_clock::time_point deadline);

  const std::string& client_id() const { return settings_.client_id; }
  // The modules added, in that order.
  std::vector<std::string> ModuleIds() const;
  // PREFIX/gateway/CLIENT/status: "online" while connected, the last will "offline".
  const std::string& status_topic() const { return status_topic_; }
  Topics TopicsOf(const std::string& module_id) const {
    return Topics(settings_.topic_prefix, module_id);
  }

 private:
  struct Module {
    Module(const PublishSettings& settings, ModuleIdentity identity);
    ModuleIdentity identity;
    Topics topics;
    ReadingMessages readings;
    Outbox outbox;
    bool online = false;
    bool known = false;  // its status was said (a sample came, or it was left)
    bool left = false;
    std::vector<std::string> announced_channels;
    std::map<std::string, std::string> announced_units;
    std::size_t published = 0;
    std::size_t in_flight = 0;  // readings handed to the client, not yet acknowledged
  };

  // One attempt of the first connection with the protocol `version`; the error when it failed.
  std::optional<PublishError> Attempt(int version, std::chrono::milliseconds timeout);
  void CreateClient(int version);
  void StopNetwork();
  // Puts the inbound guard between libmosquitto and a new plain TCP connection.
  void Guard();
  // The network thread: runs the client, and reconnects with the back-off while not stopped.
  void Network();
  static void HandleConnect(mosquitto*, void* self, int rc);
  static void HandleDisconnect(mosquitto*, void* self, int rc);
  static void HandlePublish(mosquitto*, void* self, int mid);
  static void HandleLog(mosquitto*, void* self, int level, const char* text);
  void Connected(int rc);
  void Disconnected(int rc);
  void Acknowledged(int mid);
  // Another client with this id took the session once more; gives up after kTakeoverLimit.
  void TakenOverLocked(bool said);
  void NotTakenOverLocked();
  // Hands queued messages to the client while connected, taking the modules in turn so that one
  // module's backlog never holds back the others; the caller holds mutex_.
  void FlushLocked();
  // The gateway's status, each module's and its sensors again, for a broker that may have lost
  // them.
  void AnnounceLocked();
  void AnnounceModuleLocked(const Module& m);
  // Every module and the gateway "offline": the gateway leaves.
  void GoodbyeLocked();
  bool PublishCurrentLocked(const Message& message);
  bool DeliveredLocked() const;
  void Notify();
  Module* Find(const std::string& module_id);
  const Module* Find(const std::string& module_id) const;

  PublishSettings settings_;
  std::string status_topic_;
  mosquitto* client_ = nullptr;
  int protocol_ = 0;  // the MQTT version spoken with this broker
  bool unsupported_version_ = false;
  std::thread network_;
  std::unique_ptr<InboundGuard> guard_;
  ssl_ctx_st* tls_context_ = nullptr;  // mqtts: the certificates the guard checks the broker by
  std::string guard_refusal_;          // why the guard ended the connection
  bool guard_ended_ = false;           // the guard ended the latest connection
  std::chrono::steady_clock::time_point stop_by_{};
  std::chrono::milliseconds backoff_{0};
  std::chrono::steady_clock::time_point connected_at_{};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Module>> modules_;  // in the order they were added
  std::map<std::string, Module*> by_id_;
  std::size_t turn_ = 0;     // the module whose message goes out next
  std::set<int> in_flight_;  // message ids handed over and not yet acknowledged
  std::map<int, Module*> readings_in_flight_;
  bool connected_ = false;
  bool finishing_ = false;
  bool stopping_ = false;  // the network thread ends
  // Messages of the previous connection that libmosquitto sends again after the broker accepted
  // this one: nothing new goes out before them, or a reading would overtake an older one.
  bool resend_pending_ = false;
  // The broker closed an accepted connection without a word; if the next attempt is let in at
  // once, another client took the session.
  bool dropped_while_up_ = false;
  bool refused_now_ = false;    // the broker refused the connection that is ending
  std::optional<int> connack_;  // the broker's answer to the latest connection
  bool closed_before_answer_ = false;
  PublisherStatus status_;
  std::function<void()> notify_;
};

}  // namespace zvk::publish
