// A real Mosquitto broker for the tests, started on a free loopback port (bound to 127.0.0.1
// only) with a configuration written for the test, and a real subscriber that records every
// message it receives.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

struct mosquitto;
struct mosquitto_message;
struct ssl_ctx_st;
struct ssl_st;

namespace zvk::test {

// The broker program; none when it is not installed.
std::optional<std::filesystem::path> MosquittoProgram();

class Broker {
 public:
  struct Options {
    bool persistence = false;  // keeps sessions and queued messages across a restart
    std::string user;          // non-empty: only this user with this password is let in
    std::string password;
    bool tls = false;  // a certificate for 127.0.0.1 from a CA of the test's own, ca.pem
  };
  Broker(std::filesystem::path dir, Options options);
  ~Broker();
  // Starts the broker and waits until it accepts connections; the port stays the same across
  // restarts.
  void Start();
  // Stops it as a service manager would (SIGTERM), waiting for it to end.
  void Stop();
  std::uint16_t port() const { return port_; }
  std::string url() const {
    return (tls_ ? "mqtts://127.0.0.1:" : "mqtt://127.0.0.1:") + std::to_string(port_);
  }
  // The broker's log: a line for each client that connects ("New client connected ... as ID").
  std::filesystem::path log_file() const { return dir_ / "mosquitto.log"; }
  // The CA that signed the broker's certificate (tls only).
  std::filesystem::path ca_file() const { return dir_ / "ca.pem"; }

 private:
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
  bool tls_ = false;
  std::unique_ptr<ChildProcess> process_;
};

struct Received {
  std::string topic;
  std::string payload;
  bool retain = false;
};

class Subscriber {
 public:
  // Subscribes to `filter` at QoS 1. `session` non-empty: a persistent session with that client
  // id, so messages published while it is away are kept for it by the broker.
  Subscriber(std::uint16_t port, const std::string& filter, const std::string& session = "");
  ~Subscriber();
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  std::vector<Received> Messages() const;
  std::vector<Received> On(const std::string& topic) const;
  // Waits until `done` holds for what was received, at most `limit`.
  bool WaitFor(const std::function<bool(const std::vector<Received>&)>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
  bool subscribed() const;

 private:
  static void HandleConnect(mosquitto*, void* self, int rc);
  static void HandleSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
  static void HandleMessage(mosquitto*, void* self, const mosquitto_message* message);

  mosquitto* client_ = nullptr;
  std::string filter_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Received> received_;
  bool subscribed_ = false;
};

// A broker of the test's own on a free loopback port, for what a real one does not do: refuse a
// reconnection, never acknowledge, drop every connection at once, speak only MQTT 3.1.1. Each
// connection it accepts is handed to the script, one after another, on the broker's thread.
class ScriptedBroker {
 public:
  struct Packet {
    std::uint8_t type = 0;  // the high nibble of the first byte: 1 CONNECT, 3 PUBLISH, 12 PINGREQ
    std::vector<std::uint8_t> body;
  };
  class Connection {
   public:
    Connection(int fd, ssl_st* ssl, const std::atomic<bool>& stop)
        : fd_(fd), ssl_(ssl), stop_(stop) {}
    // The next whole packet; none once the client closed, the broker stops or `limit` passed.
    std::optional<Packet> Read(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // False once the client is gone.
    bool Send(const std::vector<std::uint8_t>& bytes);
    // Answers the CONNECT with `code` in the client's protocol version; its protocol level
    // (4: 3.1.1, 5: MQTT 5), or 0 when no CONNECT came.
    int Accept(std::uint8_t code = 0);
    // Acknowledges every publish (when `acknowledge`) and answers pings until the client
    // closes or the broker stops.
    void Serve(bool acknowledge = true);

   private:
    bool ReadExact(std::uint8_t* to, std::size_t n, std::chrono::steady_clock::time_point until);
    int fd_;
    ssl_st* ssl_;  // null: plain
    const std::atomic<bool>& stop_;
    int level_ = 4;
  };
  // `index` counts the connections from 0.
  using Script = std::function<void(Connection&, int index)>;

  // `tls_dir` non-empty: TLS with the certificate and key a TLS Broker made there
  // (server.pem, server.key; its ca.pem trusts them).
  explicit ScriptedBroker(Script script, const std::filesystem::path& tls_dir = {});
  ~ScriptedBroker();
  ScriptedBroker(const ScriptedBroker&) = delete;
  ScriptedBroker& operator=(const ScriptedBroker&) = delete;

  std::uint16_t port() const { return port_; }
  std::string url() const {
    return (tls_ ? "mqtts://127.0.0.1:" : "mqtt://127.0.0.1:") + std::to_string(port_);
  }
  // When each connection was accepted.
  std::vector<std::chrono::steady_clock::time_point> Accepted() const;

 private:
  void Run();
  Script script_;
  ssl_ctx_st* tls_ = nullptr;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::chrono::steady_clock::time_point> accepted_;
  std::thread thread_;
};

}  // namespace zvk::test
