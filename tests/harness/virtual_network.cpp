#include "harness/virtual_network.h"

#include <algorithm>

#include "sim/net.h"

namespace zvk::harness {

bool IsLoopbackHost(const std::string& host) {
  // Read as the link's own sockets read an address, so the far end is reached exactly when a
  // real connect could be.
  const auto octets = sim::net::ParseIpv4(host);
  return octets && (*octets)[0] == 127;
}

namespace {

class VirtualSocket final : public TcpSocket {
 public:
  explicit VirtualSocket(VirtualNetwork& net) : net_(net) {}
  ~VirtualSocket() override { Close(); }

  IoStatus BeginConnect(const std::string& host, std::uint16_t) override {
    // A new exchange: the previous reply may be read no more, and this one has not come.
    net_.watch.Release();
    net_.delivered.clear();
    if (!IsLoopbackHost(host)) {
      error_ = "refused: not a loopback address";
      return IoStatus::Failed;
    }
    ++net_.connects;
    plan_ = net_.peer().Connect();
    if (plan_.kind == ConnectPlan::Kind::Refuse) {
      error_ = "Connection refused";
      return IoStatus::Failed;
    }
    open_ = true;
    ++net_.open_sockets;
    connect_at_ = net_.now_ms + plan_.after_ms;
    // As over Wi-Fi, a connect takes at least one pass of the event pump.
    return IoStatus::Pending;
  }

  IoStatus PollConnect(int timeout_ms) override {
    if (plan_.kind == ConnectPlan::Kind::Accept && connect_at_ <= net_.now_ms + timeout_ms) {
      net_.now_ms = std::max(net_.now_ms, connect_at_);
      return IoStatus::Done;
    }
    net_.now_ms += timeout_ms;
    return IoStatus::Pending;
  }

  bool WriteAll(const std::uint8_t* data, std::size_t length) override {
    Bytes frame(data, data + length);
    net_.frames.push_back(frame);
    if (plan_.write_fails) {
      error_ = "Broken pipe";
      return false;
    }
    std::vector<PeerEvent> events = net_.peer().Frame(frame);
    // Peers nearly always list their events in time order already; sorting costs a copy of every
    // event's bytes, which is most of a fuzz input's time.
    const auto earlier = [](const PeerEvent& a, const PeerEvent& b) { return a.at_ms < b.at_ms; };
    if (!std::is_sorted(events.begin(), events.end(), earlier))
      std::stable_sort(events.begin(), events.end(), earlier);
    reply_.Start(net_.now_ms, std::move(events));
    net_.watch.Expect();
    return true;
  }

  IoStatus WaitReadable(int timeout_ms) override { return reply_.Wait(net_.now_ms, timeout_ms); }

  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    return reply_.Read(net_.now_ms, out, capacity, error_,
                       [this](const std::uint8_t* from, std::uint8_t* to, std::size_t n) {
                         net_.watch.Arrived(to, n);
                         net_.delivered.insert(net_.delivered.end(), from, from + n);
                       });
  }

  bool ShutdownWrite() override {
    ++net_.shutdowns;
    reply_.Start(net_.now_ms, net_.peer().Shutdown());
    return true;
  }

  IoStatus WaitPeerClose(int timeout_ms) override {
    return reply_.AwaitClose(net_.now_ms, timeout_ms, error_);
  }

  void Close() override {
    if (open_) --net_.open_sockets;
    open_ = false;
  }

  std::string LastError() const override { return error_; }

 private:
  VirtualNetwork& net_;
  ConnectPlan plan_;
  long connect_at_ = 0;
  TimedReply reply_;
  bool open_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> VirtualNetwork::NewSocket() {
  return std::make_unique<VirtualSocket>(*this);
}

}  // namespace zvk::harness
