#include "support/scripted_network.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "harness/virtual_network.h"

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
    if (!harness::IsLoopbackHost(host)) {
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
    reply_.Start(-1, script_.steps);
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
    reply_.Retime(net_.now_ms);
    return true;
  }

  IoStatus WaitReadable(int timeout_ms) override {
    if (timeout_ms > 0)
      net_.read_waits.push_back(timeout_ms);
    else
      ++net_.read_looks;
    return reply_.Wait(net_.now_ms, timeout_ms);
  }

  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    return reply_.Read(net_.now_ms, out, capacity, error_);
  }

  bool ShutdownWrite() override {
    ++net_.shutdowns;
    // What the script has the module do next is timed from here.
    reply_.Retime(net_.now_ms);
    return true;
  }

  IoStatus WaitPeerClose(int timeout_ms) override {
    return reply_.AwaitClose(net_.now_ms, timeout_ms, error_);
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
  harness::TimedReply reply_;
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
