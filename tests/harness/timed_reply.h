// What the far end does after a frame, handed to the link as a socket hands it: each event at
// its time counted from the write, the bytes that are due in one read, a close or a reset only
// after the bytes before it. Both virtual networks of the tests deliver through it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/tcp.h"

namespace zvk::harness {

using Bytes = std::vector<std::uint8_t>;

// One thing the far end does after it got the frame, `at_ms` after it arrived.
struct PeerEvent {
  enum class Kind { Send, Close, Reset };
  int at_ms = 0;
  Kind kind = Kind::Send;
  Bytes bytes;  // Send only
};

class TimedReply {
 public:
  // The frame went out at `written_at_ms` (-1: not yet); `events` follow it in the order given,
  // an event not due holding back those after it.
  void Start(long written_at_ms, std::vector<PeerEvent> events);
  // Another write on the same connection: what is still to come is timed from it.
  void Retime(long written_at_ms) { written_at_ = written_at_ms; }

  // WaitReadable on the clock `now_ms`: moves it to the next event due within the timeout, or on
  // by the whole timeout.
  IoStatus Wait(long& now_ms, int timeout_ms) const;

  // ReadSome at `now_ms`: the bytes due, up to `capacity` (-2 when none), 0 for a close, -1 for
  // a reset (with `error` set). `before_copy(from, to, n)` sees each piece before it is copied.
  using CopyHook = std::function<void(const std::uint8_t* from, std::uint8_t* to, std::size_t n)>;
  long Read(long now_ms, std::uint8_t* out, std::size_t capacity, std::string& error,
            const CopyHook& before_copy = {});

  // WaitPeerClose on the clock `now_ms`, after the sending side was closed: Done at a close,
  // Failed at a reset, Pending while neither is due; bytes due meanwhile are dropped.
  IoStatus AwaitClose(long& now_ms, int timeout_ms, std::string& error);

 private:
  bool Due(long now_ms) const;

  long written_at_ = -1;
  std::vector<PeerEvent> events_;
  std::size_t next_ = 0;
  std::size_t offset_ = 0;
  bool ended_ = false;
  bool reset_ = false;
};

}  // namespace zvk::harness
