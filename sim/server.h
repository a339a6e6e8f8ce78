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

class Server {
 public:
  Server(net::Socket listener, ServerLimits limits, Answerer answer);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves until Stop; every open connection is closed on the way out.
  void Run();
  // Ends Run promptly; may be called from any thread, before or during Run.
  void Stop();

 private:
  struct Connection;
  class Loop;

  net::Socket listener_;
  ServerLimits limits_;
  Answerer answer_;
  net::Waker waker_;
};

}  // namespace zvk::sim
