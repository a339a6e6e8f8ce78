#include "sim/server.h"

#include <algorithm>
#include <exception>
#include <list>

#include "link/wire.h"

namespace zvk::sim {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

constexpr milliseconds kQuiet{20};  // a frame is one write; a gap this long ends it
constexpr std::size_t kMaxFrameBytes = wire::kReplyBufferSize;
// A content connection the module does not read is dropped this long after it was accepted.
constexpr milliseconds kNoReadHold{60000};
// A peer that takes none of a reply for this long is given up.
constexpr milliseconds kStalledWrite{5000};
// After a lasting accept failure (out of descriptors), the listener rests this long.
constexpr milliseconds kAcceptBackOff{10};
// A listener that cannot be opened again after a drop-off is tried again this much later.
constexpr milliseconds kReopenRetry{100};
// The longest single wait, so a clock that jumps cannot hold the loop for long.
constexpr milliseconds kLongestWait{60000};

// Length of a complete frame from its first five bytes or more; 0 for a code of no fixed length.
// Shorter frames are still accepted once the line goes quiet (a 5-byte 33 or 29, a 40-byte 95).
std::size_t FullFrameLength(const Bytes& head) {
  switch (head[wire::kReplyCode]) {
    case wire::CMD_SET_LOCATOR:
    case wire::CMD_GET_DEVICE:
      return wire::kLenQueued;
    case wire::CMD_READ_DATA:
    case wire::CMD_RELOAD_AD_REF:
    case wire::CMD_MBPORT_CFG:
    case wire::CMD_RESET_MODULE:
      return wire::kLenReadData;
    case wire::CMD_SET_RANGE_CONFIG:
      return wire::kLenRangeConfig;
    case wire::CMD_SET_TH_CONFIG:
      return wire::kLenThConfig;
    case wire::CMD_SET_WIFI_MODE:
    case wire::CMD_RESET_CONFIG:
    case wire::CMD_CALIBRATE_TH_REF:
      return 6;
    case wire::CMD_GET_IMAGE_CHECKSUM:
    case wire::CMD_STAGED_IMAGE_SENT:
      return 9;
    case wire::CMD_UPLOAD_STAGED_IMAGE:
    case wire::CMD_DELETE_FILE:
      return 40;
    case wire::CMD_WRITE_FILE:
      return 60;
    case wire::CMD_SET_WEB_KEY:
      return head.size() > 5 ? 6u + head[5] : 6u;
    default:
      return 0;
  }
}

}  // namespace

// One client connection: it sends its frame, the reply goes out as planned, then it ends. A
// content connection (Streaming) is read to its end and never answered. A frame that comes while
// a content is still coming in waits (Deferred) until the content has ended, as the module
// takes a file or an image whole before it answers anything else.
struct Server::Connection {
  enum class Phase { Reading, Writing, Holding, Streaming, Ignoring, Closing, Deferred, Done };

  Connection(net::Socket s, Clock::time_point now) : socket(std::move(s)), accepted(now) {}

  net::Socket socket;
  Clock::time_point accepted;
  Phase phase = Phase::Reading;
  Bytes frame;
  Clock::time_point last_byte{};
  ReplyPlan plan;
  std::size_t part = 0;            // the part being sent
  std::size_t sent = 0;            // of that part
  Clock::time_point resume_at{};   // the pause before the part ends then
  Clock::time_point stalled_at{};  // the part has to move on by then
  StreamPlan stream;               // Streaming: how far to read, where the content goes
  Clock::time_point close_at{};    // Closing: when the module closes its side
};

class Server::Loop {
 public:
  using Phase = Connection::Phase;

  explicit Loop(Server& server) : s_(server) {}

  void Run() {
    std::vector<net::PollItem> items;
    std::vector<Connection*> polled;
    while (true) {
      auto now = Clock::now();
      for (Connection& c : connections_) OnTime(c, now);
      connections_.remove_if([](const Connection& c) { return c.phase == Phase::Done; });
      if (listener_rests_until_ && now >= *listener_rests_until_) listener_rests_until_.reset();
      if (s_.offline_until_ && now >= *s_.offline_until_) ComeBack(now);

      items.assign(1, {s_.waker_.handle(), true});
      const bool accepting = !s_.offline_until_ && !listener_rests_until_ && HasRoom();
      if (accepting) items.push_back({s_.listener_.get(), true});
      std::optional<Clock::time_point> next = listener_rests_until_;
      if (s_.offline_until_ && (!next || *s_.offline_until_ < *next)) next = s_.offline_until_;
      polled.clear();
      for (Connection& c : connections_) {
        const bool read =
            c.phase == Phase::Reading || c.phase == Phase::Holding || c.phase == Phase::Streaming;
        const bool write = c.phase == Phase::Writing && now >= c.resume_at;
        if (read || write) {
          items.push_back({c.socket.get(), read, write});
          polled.push_back(&c);
        }
        if (const auto d = Deadline(c, now); d && (!next || *d < *next)) next = d;
      }
      int timeout_ms = -1;
      if (next) {
        const auto left = std::chrono::ceil<milliseconds>(*next - now);
        timeout_ms = static_cast<int>(std::clamp(left, milliseconds(0), kLongestWait).count());
      }
      if (!net::Poll(items, timeout_ms)) {
        listener_rests_until_ = Clock::now() + kAcceptBackOff;  // rest instead of spinning
        continue;
      }
      if (items[0].readable) return;  // stopped

      now = Clock::now();
      const std::size_t first = accepting ? 2 : 1;
      for (std::size_t i = first; i < items.size(); ++i) {
        Connection& c = *polled[i - first];
        if (items[i].readable && c.phase == Phase::Streaming) {
          ReadStream(c, now);
        } else if (items[i].readable && (c.phase == Phase::Reading || c.phase == Phase::Holding)) {
          Read(c, now);
        }
        if (items[i].writable && c.phase == Phase::Writing && now >= c.resume_at) Write(c, now);
      }
      // A connection served just now may have taken the module off the network.
      if (accepting && items[1].readable && !s_.offline_until_) Accept(now);
    }
  }

 private:
  // The end of a drop-off: listening again, or trying again shortly when the port is not free.
  void ComeBack(Clock::time_point now) {
    try {
      s_.listener_ = s_.reopen_();
    } catch (const std::exception&) {
      s_.offline_until_ = now + kReopenRetry;
      return;
    }
    s_.offline_until_.reset();
    if (s_.back_) s_.back_();
  }

  bool HasRoom() const {
    return connections_.size() < s_.limits_.max_connections ||
           std::any_of(connections_.begin(), connections_.end(),
                       [](const Connection& c) { return c.phase == Phase::Reading; });
  }

  // Takes every pending connection there is room for; at the limit, the oldest connection still
  // sending its frame makes way, so a crowd of silent clients cannot lock everyone out.
  void Accept(Clock::time_point now) {
    while (true) {
      if (connections_.size() >= s_.limits_.max_connections) {
        const auto oldest_reading =
            std::find_if(connections_.begin(), connections_.end(),
                         [](const Connection& c) { return c.phase == Phase::Reading; });
        if (oldest_reading == connections_.end()) return;
        connections_.erase(oldest_reading);
      }
      bool back_off = false;
      net::Socket socket = net::Accept(s_.listener_, &back_off);
      if (!socket.valid()) {
        if (back_off) listener_rests_until_ = now + kAcceptBackOff;
        return;
      }
      connections_.emplace_back(std::move(socket), now);
      if (std::optional<StreamPlan> plan = s_.claim_stream_ ? s_.claim_stream_() : std::nullopt)
        StartStream(connections_.back(), std::move(*plan), now);
    }
  }

  // When the connection next needs attention without a socket event.
  std::optional<Clock::time_point> Deadline(const Connection& c, Clock::time_point now) const {
    switch (c.phase) {
      case Phase::Reading: {
        const Clock::time_point idle_end = c.accepted + s_.limits_.idle_timeout;
        if (c.frame.size() <= wire::kReplyCode) return idle_end;
        return std::min(idle_end, c.last_byte + kQuiet);
      }
      case Phase::Writing:
        return now < c.resume_at ? c.resume_at : c.stalled_at;
      case Phase::Streaming:
        return c.last_byte + s_.limits_.idle_timeout;
      case Phase::Ignoring:
        return c.accepted + kNoReadHold;
      case Phase::Closing:
        return c.close_at;
      default:
        return std::nullopt;
    }
  }

  void OnTime(Connection& c, Clock::time_point now) {
    if (c.phase == Phase::Reading) {
      const bool idle_over = now >= c.accepted + s_.limits_.idle_timeout;
      bool quiet = c.frame.size() > wire::kReplyCode && now >= c.last_byte + kQuiet;
      // Bytes may be waiting that this thread, woken late, has not read yet: then it was not quiet.
      if (quiet && !idle_over) {
        const std::size_t before = c.frame.size();
        Read(c, now);
        if (c.phase != Phase::Reading) return;
        quiet = c.frame.size() == before;
      }
      if (idle_over || quiet) Answer(c, now);
    } else if (c.phase == Phase::Writing && now >= c.stalled_at) {
      Drop(c);
    } else if (c.phase == Phase::Streaming && now >= c.last_byte + s_.limits_.idle_timeout) {
      EndStream(c);
    } else if (c.phase == Phase::Ignoring && now >= c.accepted + kNoReadHold) {
      Drop(c);
    } else if (c.phase == Phase::Closing && now >= c.close_at) {
      c.socket.Close();
      c.phase = Phase::Done;
    }
  }

  void StartStream(Connection& c, StreamPlan plan, Clock::time_point now) {
    c.stream = std::move(plan);
    c.last_byte = now;
    if (c.stream.chatter) {
      const std::uint8_t byte = 0x21;
      net::Send(c.socket, &byte, 1);
    }
    if (c.stream.end == StreamPlan::End::NoRead) {
      // Nothing will be read: the module has nothing of the file.
      c.phase = Phase::Ignoring;
      c.stream.sink({});
      AnswerDeferred();
      return;
    }
    c.phase = Phase::Streaming;
    if (c.stream.read_limit == 0) EndStream(c);
  }

  // Takes a content in up to its read limit, or until its sender closes (or the connection
  // fails, or goes idle).
  void ReadStream(Connection& c, Clock::time_point now) {
    std::uint8_t chunk[16384];
    const std::size_t left = c.stream.read_limit - c.frame.size();
    const long n = net::Receive(c.socket, chunk, std::min(sizeof chunk, left));
    if (n == net::kWouldBlock) return;
    if (n <= 0) return EndStream(c);
    c.frame.insert(c.frame.end(), chunk, chunk + n);
    c.last_byte = now;
    if (c.frame.size() >= c.stream.read_limit) EndStream(c);
  }

  // The module has read what it will read: it takes the content and ends the connection as
  // planned (bytes left unread make even the close a reset).
  void EndStream(Connection& c) {
    c.stream.sink(std::move(c.frame));
    c.frame.clear();
    if (c.stream.end == StreamPlan::End::Reset) {
      c.socket.Abort();
      c.phase = Phase::Done;
    } else if (c.stream.close_delay.count() > 0) {
      c.close_at = Clock::now() + c.stream.close_delay;
      c.phase = Phase::Closing;
    } else {
      c.socket.Close();
      c.phase = Phase::Done;
    }
    AnswerDeferred();
  }

  void AnswerDeferred() {
    if (Streaming()) return;
    const auto now = Clock::now();
    for (Connection& waiting : connections_)
      if (waiting.phase == Phase::Deferred) Answer(waiting, now);
  }

  void DropWaiting(const Connection& serving) {
    for (Connection& other : connections_) {
      if (&other == &serving) continue;
      if (other.phase == Phase::Reading || other.phase == Phase::Deferred) {
        other.socket.Abort();
        other.phase = Phase::Done;
      }
    }
  }

  bool Streaming() const {
    return std::any_of(connections_.begin(), connections_.end(),
                       [](const Connection& c) { return c.phase == Phase::Streaming; });
  }

  void Read(Connection& c, Clock::time_point now) {
    std::uint8_t chunk[1024];
    if (c.phase == Phase::Holding) {
      const long n = net::Receive(c.socket, chunk, sizeof chunk);
      if (n == 0 || n == net::kReset || n == net::kFailed) c.phase = Phase::Done;
      return;
    }
    const long n =
        net::Receive(c.socket, chunk, std::min(sizeof chunk, kMaxFrameBytes - c.frame.size()));
    if (n == net::kWouldBlock) return;
    if (n <= 0) return Answer(c, now);  // the peer closed or the connection failed: keep what came
    c.frame.insert(c.frame.end(), chunk, chunk + n);
    c.last_byte = now;
    const std::size_t full = c.frame.size() > wire::kReplyCode ? FullFrameLength(c.frame) : 0;
    if (c.frame.size() >= kMaxFrameBytes || (full != 0 && c.frame.size() >= full)) Answer(c, now);
  }

  void Answer(Connection& c, Clock::time_point now) {
    if (!c.frame.empty() && Streaming()) {
      c.phase = Phase::Deferred;
      return;
    }
    std::optional<ReplyPlan> plan;
    const bool was_online = !s_.offline_until_;
    if (!c.frame.empty()) plan = s_.answer_(c.frame);
    // A restart takes the module off the network: connections it had accepted but not yet
    // served die with it, as on a real module, instead of being answered after the restart.
    if (was_online && s_.offline_until_) DropWaiting(c);
    if (!plan) {
      c.phase = Phase::Done;
      return;
    }
    c.plan = std::move(*plan);
    c.phase = Phase::Writing;
    c.part = 0;
    StartPart(c, now);
  }

  void StartPart(Connection& c, Clock::time_point now) {
    c.sent = 0;
    if (c.part >= c.plan.parts.size()) return Finish(c);
    c.resume_at = now + c.plan.parts[c.part].pause_before;
    c.stalled_at = c.resume_at + kStalledWrite;
    if (c.resume_at <= now) Write(c, now);
  }

  void Write(Connection& c, Clock::time_point now) {
    const Bytes& bytes = c.plan.parts[c.part].bytes;
    while (c.sent < bytes.size()) {
      const long n = net::Send(c.socket, bytes.data() + c.sent, bytes.size() - c.sent);
      if (n == net::kWouldBlock) return;
      if (n <= 0) return Drop(c);  // the peer is gone
      c.sent += static_cast<std::size_t>(n);
      c.stalled_at = now + kStalledWrite;
    }
    ++c.part;
    StartPart(c, now);
  }

  void Finish(Connection& c) {
    switch (c.plan.after) {
      case AfterReply::Hold:
        c.phase = Phase::Holding;
        return;
      case AfterReply::Reset:
        c.socket.Abort();
        break;
      case AfterReply::Close: {
        // Unread input would turn the close into a reset and could cost the peer our reply.
        std::uint8_t sink[256];
        while (net::Receive(c.socket, sink, sizeof sink) > 0) {
        }
        c.socket.Close();
        break;
      }
    }
    c.phase = Phase::Done;
  }

  static void Drop(Connection& c) {
    c.socket.Abort();
    c.phase = Phase::Done;
  }

  Server& s_;
  std::list<Connection> connections_;  // oldest first
  std::optional<Clock::time_point> listener_rests_until_;
};

Server::Server(net::Socket listener, ServerLimits limits, Answerer answer)
    : listener_(std::move(listener)), limits_(limits), answer_(std::move(answer)) {}

Server::~Server() = default;

void Server::Run() {
  Loop(*this).Run();
}

void Server::DropOff(milliseconds period, std::function<net::Socket()> reopen,
                     std::function<void()> back) {
  listener_.Close();
  offline_until_ = Clock::now() + period;
  reopen_ = std::move(reopen);
  back_ = std::move(back);
}

void Server::Stop() {
  waker_.Wake();
}

}  // namespace zvk::sim
