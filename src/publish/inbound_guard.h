// The broker's side of a plain TCP connection, read before libmosquitto reads it. libmosquitto
// allocates a packet's whole announced length before it looks at the packet, so one header from
// a broker could make the gateway take hundreds of megabytes. The gateway subscribes to nothing:
// what comes from the broker are acknowledgements of a few bytes, and a header announcing more
// than the gateway takes ends the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

struct ssl_ctx_st;
struct ssl_st;

namespace zvk::publish {

// How the guard speaks to the broker: plain, or TLS checked against `context`'s certificates and
// the broker's name (its host name or address, as the URL gives it).
struct GuardTls {
  ssl_ctx_st* context = nullptr;  // null: plain TCP
  std::string host;
};

// The TLS settings of a broker: the CA certificates of `cafile`, or the system's when empty.
// Throws std::runtime_error with the reason when they cannot be used. The context is freed with
// FreeTlsContext.
ssl_ctx_st* NewTlsContext(const std::string& cafile);
void FreeTlsContext(ssl_ctx_st* context);

// Follows the packet boundaries of the bytes a broker sends.
class InboundFrames {
 public:
  explicit InboundFrames(std::size_t largest_packet) : largest_(largest_packet) {}
  // Takes the next bytes of the stream; how many of them may pass: all, or (for good, once a
  // header announces a packet larger than the largest, or a length no packet has) those before
  // that packet, which may belong to the ones before it.
  std::size_t Take(const std::uint8_t* bytes, std::size_t count);
  // Why the stream was refused; empty while it is not.
  const std::string& refusal() const { return refusal_; }

 private:
  enum class Part { Type, Length, Body };
  std::size_t largest_;
  Part part_ = Part::Type;
  std::size_t length_ = 0;  // of the packet under way, as far as announced
  int length_bytes_ = 0;
  std::size_t body_left_ = 0;
  std::string refusal_;
};

// Stands between libmosquitto and its connection: libmosquitto's socket `fd` (its TCP connect
// perhaps still under way) is pointed at one end of a socket pair, and the guard passes the
// bytes between the other end and the connection, on a thread of its own, until either side
// closes or the broker sends a packet larger than `largest_packet`; then it closes both, and
// `refused` is told why (on the guard's thread). With TLS the guard is the TLS client, so that
// it reads the broker's packets in the clear; libmosquitto speaks plain MQTT to it.
class InboundGuard {
 public:
  InboundGuard(int fd, std::size_t largest_packet, GuardTls tls,
               std::function<void(const std::string&)> refused);
  ~InboundGuard();
  InboundGuard(const InboundGuard&) = delete;
  InboundGuard& operator=(const InboundGuard&) = delete;
  // False when the connection could not be taken over; libmosquitto then keeps it unguarded.
  bool guarding() const { return thread_.joinable(); }

 private:
  void Run();
  void Relay();
  void RelayTls();
  // Waits for `events` on the broker's connection, or the wake; false on the wake or a timeout.
  bool WaitBroker(short events, int timeout_ms);
  bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count);
  // Hands what the broker sent to libmosquitto; false once the connection must end.
  bool FromBroker(const std::uint8_t* bytes, std::size_t count);
  GuardTls tls_;
  ssl_st* ssl_ = nullptr;
  int broker_ = -1;  // the connection to the broker
  int client_ = -1;  // the socket pair's end facing libmosquitto
  int wake_[2] = {-1, -1};
  InboundFrames frames_;
  std::function<void(const std::string&)> refused_;
  std::thread thread_;
};

}  // namespace zvk::publish
