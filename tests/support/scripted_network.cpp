#include "support/scripted_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/test_seams.h"

namespace zvk::test {

PeerStep SendAt(int at_ms, std::vector<std::uint8_t> bytes) {
  return {at_ms, PeerStep::Kind::Send, std::move(bytes)};
}
PeerStep CloseAt(int at_ms) {
  return {at_ms, PeerStep::Kind::Close, {}};
}
PeerStep ResetAt(int at_ms) {
  return {at_ms, PeerStep::Kind::Reset, {}};
}

namespace {

class ScriptedSocket final : public TcpSocket {
 public:
  explicit ScriptedSocket(ScriptedNetwork& net) : net_(net) {}

  IoStatus BeginConnect(const std::string& host, std::uint16_t port) override {
    if (!IsLoopbackAddress(host)) {
      ADD_FAILURE() << "test tried to connect to " << host << ":" << port
                    << "; tests reach loopback only";
      return IoStatus::Failed;
    }
    ++net_.connects;
    if (net_.scripts.empty()) {
      error_ = "Connection refused";
      return IoStatus::Failed;
    }
    script_ = net_.scripts.front();
    net_.scripts.pop_front();
    connect_at_ = net_.now_ms + script_.connect_ms;
    // As over Wi-Fi, the connect takes at least one pass of the event pump.
    return IoStatus::Pending;
  }

  IoStatus PollConnect(int timeout_ms) override {
    net_.connect_waits.push_back(timeout_ms);
    if (script_.connect_ms != PeerScript::kNever && connect_at_ <= net_.now_ms + timeout_ms) {
      net_.now_ms = std::max(net_.now_ms, connect_at_);
      return IoStatus::Done;
    }
    net_.now_ms += timeout_ms;
    return IoStatus::Pending;
  }

  bool WriteAll(const std::uint8_t* data, std::size_t length) override {
    net_.frames.emplace_back(data, data + length);
    written_at_ = net_.now_ms;
    return true;
  }

  IoStatus WaitReadable(int timeout_ms) override {
    if (timeout_ms > 0) net_.read_waits.push_back(timeout_ms);
    if (ended_) return IoStatus::Done;
    if (written_at_ >= 0 && next_ < script_.steps.size()) {
      const long due = written_at_ + script_.steps[next_].at_ms;
      if (due <= net_.now_ms + timeout_ms) {
        net_.now_ms = std::max(net_.now_ms, due);
        return IoStatus::Done;
      }
    }
    net_.now_ms += timeout_ms;
    return IoStatus::Pending;
  }

  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    if (ended_) return reset_ ? -1 : 0;
    std::size_t copied = 0;
    while (written_at_ >= 0 && next_ < script_.steps.size() &&
           written_at_ + script_.steps[next_].at_ms <= net_.now_ms) {
      const PeerStep& step = script_.steps[next_];
      if (step.kind != PeerStep::Kind::Send) {
        if (copied > 0) break;  // the bytes before it first, as a socket gives them
        ++next_;
        ended_ = true;
        reset_ = step.kind == PeerStep::Kind::Reset;
        if (reset_) error_ = "Connection reset by peer";
        return reset_ ? -1 : 0;
      }
      const std::size_t n = std::min(capacity - copied, step.bytes.size() - offset_);
      std::memcpy(out + copied, step.bytes.data() + offset_, n);
      copied += n;
      offset_ += n;
      if (offset_ < step.bytes.size()) break;  // the caller's buffer is full
      offset_ = 0;
      ++next_;
    }
    return copied > 0 ? static_cast<long>(copied) : -2;
  }

  void Close() override {
    if (!closed_) ++net_.closes;
    closed_ = true;
  }

  std::string LastError() const override { return error_; }

 private:
  ScriptedNetwork& net_;
  PeerScript script_;
  long connect_at_ = 0;
  long written_at_ = -1;
  std::size_t next_ = 0;
  std::size_t offset_ = 0;
  bool ended_ = false;
  bool reset_ = false;
  bool closed_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> ScriptedNetwork::NewSocket() {
  return std::make_unique<ScriptedSocket>(*this);
}

std::chrono::steady_clock::time_point ScriptedNetwork::Now() const {
  return std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(now_ms);
}

}  // namespace zvk::test
