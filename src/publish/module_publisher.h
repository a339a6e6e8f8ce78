// One module's connection to the broker: its client (with the last will "offline" on the
// module's status topic), its queue of readings, and its status, published while the broker is
// reachable and kept in order while it is not. A network thread of the publisher's own drives
// libmosquitto: it reads and writes the connection and reconnects with a growing back-off; the
// caller's thread only queues readings and reads the counters, so it never waits on the broker.
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

struct mosquitto;

namespace zvk::publish {

struct PublishSettings {
  BrokerAddress broker;
  std::string cafile;  // mqtts: the CA certificates; empty: the system's
  std::string username;
  std::optional<std::string> password;
  // Empty: "zvk-analog-" and the module's id, the desktop program's; `zvk publish` gives its own
  // ("zvk-" and the id), so the two never take each other's session at the broker.
  std::string client_id;
  std::string topic_prefix = "zvk";
  bool discovery = false;
  std::string discovery_prefix = "homeassistant";
  std::size_t queue_polls = 10000;
  int keepalive_seconds = 30;
  // The back-off doubles from the first wait up to the longest; it starts again from the first
  // once a connection stayed up for the longest wait.
  std::chrono::milliseconds reconnect_first{1000};
  int reconnect_max_seconds = 30;
};

// The client id the desktop program uses for a module unless told another.
std::string DesktopClientId(const std::string& module_id);

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

class ModulePublisher {
 public:
  ModulePublisher(PublishSettings settings, ModuleIdentity module);
  ~ModulePublisher();
  ModulePublisher(const ModulePublisher&) = delete;
  ModulePublisher& operator=(const ModulePublisher&) = delete;

  // Connects and waits up to `timeout` for the broker to accept; then keeps the connection up on
  // libmosquitto's thread. Throws PublishError when it cannot connect or is refused.
  void Connect(std::chrono::milliseconds timeout);
  // Queues the sample's channel messages and publishes them when connected; a readings sample
  // sets the module "online", a gap "offline".
  void Submit(const Sample& sample);
  PublisherStatus Status() const;
  // Called on the network thread whenever the status changed (connected, sent, dropped); a
  // front end hands it on to its own thread.
  void OnChange(std::function<void()> notify);
  // Waits until every reading queued so far is acknowledged, or `deadline` passes; true when
  // nothing is left. Publishing goes on meanwhile.
  bool WaitDelivered(std::chrono::steady_clock::time_point deadline);
  // Publishes "offline", waits until every queued message is acknowledged or `deadline` passes,
  // and disconnects cleanly. True when nothing was left undelivered.
  bool Finish(std::chrono::steady_clock::time_point deadline);

  const ModuleIdentity& module() const { return module_; }
  const Topics& topics() const { return topics_; }
  const std::string& client_id() const { return settings_.client_id; }

 private:
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
  // Hands queued messages to the client while connected; the caller holds mutex_.
  void FlushLocked();
  // The module's status and its sensors again, for a broker that may have lost them.
  void AnnounceLocked();
  void PublishCurrentLocked(const Message& message);
  void Notify();

  PublishSettings settings_;
  ModuleIdentity module_;
  Topics topics_;
  ReadingMessages readings_;
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
  Outbox outbox_;
  std::set<int> in_flight_;  // message ids handed over and not yet acknowledged
  std::set<int> readings_in_flight_;
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
  bool module_online_ = false;
  bool module_known_ = false;
  std::vector<std::string> announced_channels_;
  std::map<std::string, std::string> announced_units_;
  PublisherStatus status_;
  std::function<void()> notify_;
};

}  // namespace zvk::publish
