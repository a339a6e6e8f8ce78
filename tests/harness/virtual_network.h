// A network in virtual time whose far end is a `Peer`: it decides how each connect ends and what
// it does with each frame (reply bytes, silence, a close or a reset, each at a time counted from
// the frame's arrival). The link's waits move the clock on instead of sleeping, so harnesses run
// thousands of exchanges with every kind of misbehaviour in seconds. No operating system socket
// is ever opened, and only loopback addresses are accepted.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harness/reply_watch.h"
#include "harness/timed_reply.h"
#include "link/tcp.h"

namespace zvk::harness {

struct ConnectPlan {
  enum class Kind { Accept, Refuse, Hang };
  Kind kind = Kind::Accept;
  int after_ms = 0;          // Accept: how long the connect takes
  bool write_fails = false;  // the frame cannot be written (the peer is gone)
};

class Peer {
 public:
  virtual ~Peer() = default;
  virtual ConnectPlan Connect() = 0;
  // What the far end does with this frame; after the last event it stays silent.
  virtual std::vector<PeerEvent> Frame(const Bytes& frame) = 0;
  // What the far end does once the sending side is closed (after a content): by default it
  // closes its own side at once, having taken everything.
  virtual std::vector<PeerEvent> Shutdown() { return {{1, PeerEvent::Kind::Close, {}}}; }
};

class VirtualNetwork final : public Network {
 public:
  explicit VirtualNetwork(Peer& peer) : peer_(peer) {}
  std::unique_ptr<TcpSocket> NewSocket() override;
  // The link times its waits by this clock, which only the waits of the sockets move.
  std::chrono::steady_clock::time_point Now() const override {
    return std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(now_ms);
  }

  ReplyWatch watch;
  long now_ms = 0;

  // What the link did: every frame written, connects tried, sockets still open.
  std::vector<Bytes> frames;
  int connects = 0;
  int open_sockets = 0;
  int shutdowns = 0;
  // The bytes the far end delivered on the latest connection, in order.
  Bytes delivered;

  Peer& peer() { return peer_; }

 private:
  Peer& peer_;
};

bool IsLoopbackHost(const std::string& host);

}  // namespace zvk::harness
