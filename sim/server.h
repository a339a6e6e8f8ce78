// The simulator's connection server: one thread serves every command connection at once, so a
// silent, trickling or held connection never delays another. It knows frames and replies only as
// bytes; what to answer comes from the caller.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/net.h"

namespace zvk::sim {

struct ReplyPart {
  std::chrono::milliseconds pause_before{0};
  std::vector<std::uint8_t> bytes;
};

// How a connection ends once its reply is out.
enum class AfterReply {
  Close,  // orderly close
  Reset,  // close with RST
  Hold,   // stay open, silent, until the peer closes or the server stops
};

struct ReplyPlan {
  std::vector<ReplyPart> parts;
  AfterReply after = AfterReply::Close;
};

struct ServerLimits {
  // A connection that has not sent its whole frame this long after it was accepted is answered
  // with what came.
  std::chrono::milliseconds idle_timeout{3000};
  // At the limit, the oldest connection still sending its frame is dropped to make room.
  std::size_t max_connections = 256;
};

// Called on the server thread with every frame a connection sent (possibly short or malformed,
// never empty); nullopt closes the connection without a reply.
using Answerer = std::function<std::optional<ReplyPlan>(const std::vector<std::uint8_t>& frame)>;

// Takes a file's content: what its connection carried, once the module stopped reading.
using ContentSink = std::function<void(std::vector<std::uint8_t> content)>;

// How the module treats a content connection. As a module does, it reads the announced length
// and then closes its side; the other ways are the misbehaviours tests inject.
struct StreamPlan {
  enum class End {
    Close,   // orderly close once `read_limit` bytes were read (or the sender closed first)
    Reset,   // reset once `read_limit` bytes were read
    NoRead,  // read nothing at all; the connection is dropped after a long while
  };
  ContentSink sink;
  std::size_t read_limit = 0;
  End end = End::Close;
  bool chatter = false;                      // send one byte on the connection first
  std::chrono::milliseconds close_delay{0};  // End::Close: wait this long before closing
};

// Asked when a connection is accepted: a plan when the connection carries a file's content
// instead of a command frame, else nullopt.
using StreamClaim = std::function<std::optional<StreamPlan>()>;

class Server {
 public:
  Server(net::Socket listener, ServerLimits limits, Answerer answer);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Before Run.
  void SetStreamClaim(StreamClaim claim) { claim_stream_ = std::move(claim); }

  // Serves until Stop; every open connection is closed on the way out.
  void Run();

  // Takes the listener down for `period`, so connects are refused (a rebooting module), then
  // listens again through `reopen` and calls `back`. Connections already open are served to
  // their end. Only on the server thread: from the answerer or a content sink.
  void DropOff(std::chrono::milliseconds period, std::function<net::Socket()> reopen,
               std::function<void()> back);
  // Ends Run promptly; may be called from any thread, before or during Run.
  void Stop();

 private:
  struct Connection;
  class Loop;

  net::Socket listener_;
  ServerLimits limits_;
  Answerer answer_;
  StreamClaim claim_stream_;
  net::Waker waker_;
  // While dropped off: when to listen again, how, and what then.
  std::optional<std::chrono::steady_clock::time_point> offline_until_;
  std::function<net::Socket()> reopen_;
  std::function<void()> back_;
};

}  // namespace zvk::sim
