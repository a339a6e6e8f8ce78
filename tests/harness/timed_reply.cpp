#include "harness/timed_reply.h"

#include <algorithm>
#include <cstring>

namespace zvk::harness {

void TimedReply::Start(long written_at_ms, std::vector<PeerEvent> events) {
  written_at_ = written_at_ms;
  events_ = std::move(events);
  next_ = 0;
  offset_ = 0;
}

bool TimedReply::Due(long now_ms) const {
  return written_at_ >= 0 && next_ < events_.size() && written_at_ + events_[next_].at_ms <= now_ms;
}

IoStatus TimedReply::Wait(long& now_ms, int timeout_ms) const {
  if (ended_) return IoStatus::Done;
  if (written_at_ >= 0 && next_ < events_.size()) {
    const long due = written_at_ + events_[next_].at_ms;
    if (due <= now_ms + timeout_ms) {
      now_ms = std::max(now_ms, due);
      return IoStatus::Done;
    }
  }
  now_ms += timeout_ms;
  return IoStatus::Pending;
}

long TimedReply::Read(long now_ms, std::uint8_t* out, std::size_t capacity, std::string& error,
                      const CopyHook& before_copy) {
  if (ended_) return reset_ ? -1 : 0;
  std::size_t copied = 0;
  while (copied < capacity && Due(now_ms)) {
    const PeerEvent& event = events_[next_];
    if (event.kind != PeerEvent::Kind::Send) {
      if (copied > 0) break;  // the bytes before it first, as a socket gives them
      ++next_;
      ended_ = true;
      reset_ = event.kind == PeerEvent::Kind::Reset;
      if (reset_) error = "Connection reset by peer";
      return reset_ ? -1 : 0;
    }
    const std::size_t n = std::min(capacity - copied, event.bytes.size() - offset_);
    const std::uint8_t* from = event.bytes.data() + offset_;
    if (before_copy) before_copy(from, out + copied, n);
    if (n > 0) std::memcpy(out + copied, from, n);
    copied += n;
    offset_ += n;
    if (offset_ < event.bytes.size()) break;  // the caller's buffer is full
    offset_ = 0;
    ++next_;
  }
  return copied > 0 ? static_cast<long>(copied) : -2;
}

IoStatus TimedReply::AwaitClose(long& now_ms, int timeout_ms, std::string& error) {
  if (Wait(now_ms, timeout_ms) == IoStatus::Pending) return IoStatus::Pending;
  std::uint8_t dropped[1024];
  const long n = Read(now_ms, dropped, sizeof dropped, error);
  if (n == 0) return IoStatus::Done;
  if (n == -1) return IoStatus::Failed;
  return IoStatus::Pending;
}

}  // namespace zvk::harness
