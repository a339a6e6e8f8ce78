// A network whose module follows a script in virtual time. The link's connect and reply waits
// move the clock on instead of sleeping, so tests assert the link's timing exactly and at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "harness/timed_reply.h"
#include "link/tcp.h"

namespace zvk::test {

// What the module does once the frame is written, at a time counted from the write.
using PeerStep = harness::PeerEvent;

PeerStep SendAt(int at_ms, std::vector<std::uint8_t> bytes);
PeerStep CloseAt(int at_ms);
PeerStep ResetAt(int at_ms);

// One connection: when its connect completes (never: the connect hangs), then the steps.
struct PeerScript {
  static constexpr int kNever = -1;
  int connect_ms = 0;
  std::vector<PeerStep> steps;
};

class ScriptedNetwork final : public Network {
 public:
  std::unique_ptr<TcpSocket> NewSocket() override;
  std::chrono::steady_clock::time_point Now() const override;

  // Successive connections take successive scripts; with none left a connect is refused.
  std::deque<PeerScript> scripts;

  // Virtual time, moved on by the sockets' waits only.
  long now_ms = 0;
  // Every frame written, and the timeout of every wait a socket was asked for.
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<int> connect_waits;
  std::vector<int> read_waits;
  int read_looks = 0;  // reply waits of no time: a look whether data is there
  int connects = 0;
  int closes = 0;
  int shutdowns = 0;  // sending sides closed (after a content)
};

}  // namespace zvk::test
