#include "support/test_seams.h"

#include <gtest/gtest.h>

#include "harness/virtual_network.h"
#include "sim/net.h"

namespace zvk::test {

namespace {

class GuardedSocket final : public TcpSocket {
 public:
  GuardedSocket(std::unique_ptr<TcpSocket> inner, LoopbackOnlyNetwork& network)
      : inner_(std::move(inner)), network_(network) {}

  IoStatus BeginConnect(const std::string& host, std::uint16_t port) override {
    if (sim::net::ParseIpv4(host) && !harness::IsLoopbackHost(host)) {
      ADD_FAILURE() << "test tried to connect to " << host << ":" << port
                    << "; tests reach loopback only";
      return IoStatus::Failed;
    }
    {
      std::lock_guard lock(network_.mutex);
      number_ = ++network_.connects;
      network_.writes.emplace_back();
      if (network_.allow_connect && !network_.allow_connect(number_)) {
        error_ = "Connection refused (test)";
        return IoStatus::Failed;
      }
    }
    IoStatus status = inner_->BeginConnect(host, port);
    // Loopback often connects at once; report it as pending so every exchange runs the event
    // pump at least once while connecting, as it does against a module over Wi-Fi.
    if (status == IoStatus::Done) {
      connected_early_ = true;
      return IoStatus::Pending;
    }
    return status;
  }
  IoStatus PollConnect(int timeout_ms) override {
    if (connected_early_) return IoStatus::Done;
    return inner_->PollConnect(timeout_ms);
  }
  bool WriteAll(const std::uint8_t* data, std::size_t length) override {
    {
      std::lock_guard lock(network_.mutex);
      auto& writes = network_.writes[static_cast<std::size_t>(number_ - 1)];
      if (network_.allow_write &&
          !network_.allow_write(number_, static_cast<int>(writes.size()) + 1)) {
        error_ = "Broken pipe (test)";
        return false;
      }
      writes.push_back(length);
    }
    return inner_->WriteAll(data, length);
  }
  IoStatus WaitReadable(int timeout_ms) override { return inner_->WaitReadable(timeout_ms); }
  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    return inner_->ReadSome(out, capacity);
  }
  bool ShutdownWrite() override {
    ++network_.shutdowns;
    return inner_->ShutdownWrite();
  }
  IoStatus WaitPeerClose(int timeout_ms) override { return inner_->WaitPeerClose(timeout_ms); }
  void Close() override { inner_->Close(); }
  std::string LastError() const override { return error_.empty() ? inner_->LastError() : error_; }
  std::int64_t PollHandle() const override { return inner_->PollHandle(); }

 private:
  std::unique_ptr<TcpSocket> inner_;
  LoopbackOnlyNetwork& network_;
  int number_ = 0;
  bool connected_early_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> LoopbackOnlyNetwork::NewSocket() {
  static SystemNetwork system;
  return std::make_unique<GuardedSocket>(system.NewSocket(), *this);
}

void ScriptedPump::ProcessEvents() {
  ++calls;
  if (!actions_.empty()) {
    auto action = std::move(actions_.front());
    actions_.pop_front();
    action();
    return;
  }
  if (every_call) every_call();
}

MsgResult RecordingDialogs::MessageBox(const std::string& caption, const std::string& text,
                                       MsgIcon icon, MsgButtons buttons) {
  boxes.push_back({caption, text, icon, buttons});
  if (on_box) on_box();
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  if (answers.empty()) return MsgResult::Yes;
  MsgResult answer = answers.front();
  answers.pop_front();
  return answer;
}

std::optional<std::vector<AdapterInfo>> FakeHostInterfaces::Adapters(std::string* error) {
  ++scans;
  if (adapter_query_fails) {
    if (error) *error = "adapter query failed";
    return std::nullopt;
  }
  if (adapter_scans.empty()) return std::vector<AdapterInfo>{};
  auto result = adapter_scans.front();
  if (adapter_scans.size() > 1) adapter_scans.pop_front();
  return result;
}

std::optional<std::vector<WirelessInterface>> FakeHostInterfaces::Wireless() {
  if (wireless_fails) return std::nullopt;
  if (wireless_scans.empty()) return std::vector<WirelessInterface>{};
  auto result = wireless_scans.front();
  if (wireless_scans.size() > 1) wireless_scans.pop_front();
  return result;
}

std::unique_ptr<FakeHostInterfaces> FakeHostInterfaces::OneMatch(const std::string& address) {
  auto hosts = std::make_unique<FakeHostInterfaces>();
  hosts->adapter_scans.push_back({{"wlan0", address}, {"eth0", "192.168.77.5"}});
  hosts->wireless_scans.push_back({{"wlan0", true}});
  return hosts;
}

}  // namespace zvk::test
