#include "harness/virtual_network.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zvk::harness {

bool IsLoopbackHost(const std::string& host) {
  int octets[4];
  const char* p = host.data();
  const char* end = host.data() + host.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (p == end || *p != '.') return false;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return false;
    auto [next, ec] = std::from_chars(p, end, octets[i]);
    if (ec != std::errc() || octets[i] > 255) return false;
    p = next;
  }
  return p == end && octets[0] == 127;
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
      ++net_.foreign_hosts;
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
    written_at_ = net_.now_ms;
    events_ = net_.peer().Frame(frame);
    std::stable_sort(events_.begin(), events_.end(),
                     [](const PeerEvent& a, const PeerEvent& b) { return a.at_ms < b.at_ms; });
    net_.watch.Expect();
    return true;
  }

  IoStatus WaitReadable(int timeout_ms) override {
    if (ended_) return IoStatus::Done;
    if (written_at_ >= 0 && next_ < events_.size()) {
      const long due = written_at_ + events_[next_].at_ms;
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
    while (written_at_ >= 0 && next_ < events_.size() && copied < capacity &&
           written_at_ + events_[next_].at_ms <= net_.now_ms) {
      const PeerEvent& event = events_[next_];
      if (event.kind != PeerEvent::Kind::Send) {
        if (copied > 0) break;  // the bytes before it first, as a socket gives them
        ++next_;
        ended_ = true;
        reset_ = event.kind == PeerEvent::Kind::Reset;
        if (reset_) error_ = "Connection reset by peer";
        return reset_ ? -1 : 0;
      }
      const std::size_t n = std::min(capacity - copied, event.bytes.size() - offset_);
      net_.watch.Arrived(out + copied, n);
      if (n > 0) std::memcpy(out + copied, event.bytes.data() + offset_, n);
      net_.delivered.insert(net_.delivered.end(), event.bytes.begin() + offset_,
                            event.bytes.begin() + offset_ + n);
      copied += n;
      offset_ += n;
      if (offset_ < event.bytes.size()) break;
      offset_ = 0;
      ++next_;
    }
    return copied > 0 ? static_cast<long>(copied) : -2;
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
  long written_at_ = -1;
  std::vector<PeerEvent> events_;
  std::size_t next_ = 0;
  std::size_t offset_ = 0;
  bool open_ = false;
  bool ended_ = false;
  bool reset_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> VirtualNetwork::NewSocket() {
  return std::make_unique<VirtualSocket>(*this);
}

}  // namespace zvk::harness
