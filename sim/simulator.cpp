#include "sim/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "link/wire.h"
#include "sim/module.h"

namespace zvk::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQuietMs = 20;                // a frame is one write; a gap this long ends it
constexpr int kFirstBytesTimeoutMs = 3000;  // a client that connects and never writes
constexpr std::size_t kMaxFrameBytes = wire::kReplyBufferSize;
constexpr std::size_t kMaxStreamBytes = 16 * 1024 * 1024;  // the utility's transfer buffer
constexpr std::size_t kOversizeBytes = 6000;
constexpr std::size_t kResetAfterBytes = 3;
constexpr int kSplitPauseMs = 50;

struct PendingFault {
  Fault fault;
  int count;
  std::uint8_t only_code;
  int delay_ms;
};

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

bool HasSignature(const Bytes& frame) {
  return frame.size() >= wire::kFrameSignature.size() &&
         std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin());
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

struct Simulator::Impl {
  explicit Impl(Options o) : options(std::move(o)), module(options.model, options.files_dir) {}

  enum class Wait { Ready, Quiet, Stopped };

  // Waits for `fd` to become readable (fd < 0: only for the stop signal or the timeout).
  Wait WaitReadable(int fd, int timeout_ms) const {
    pollfd fds[2] = {{stop_read, POLLIN, 0}, {fd, POLLIN, 0}};
    while (true) {
      const int rc = ::poll(fds, fd >= 0 ? 2 : 1, timeout_ms);
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0 || fds[0].revents != 0) return Wait::Stopped;
      return rc == 0 ? Wait::Quiet : Wait::Ready;
    }
  }

  // Sleeps unless stopped first; false when stopped.
  bool Pause(int ms) const { return WaitReadable(-1, ms) == Wait::Quiet; }

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - epoch).count(); }

  // Reads one command frame; nullopt when stopped.
  std::optional<Bytes> ReadFrame(int fd) const {
    Bytes frame;
    const auto first_deadline = Clock::now() + std::chrono::milliseconds(kFirstBytesTimeoutMs);
    std::uint8_t chunk[1024];
    while (frame.size() < kMaxFrameBytes) {
      int timeout_ms = kQuietMs;
      if (frame.size() <= wire::kReplyCode) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(first_deadline - Clock::now());
        if (left.count() <= 0) break;
        timeout_ms = static_cast<int>(left.count());
      } else if (const std::size_t full = FullFrameLength(frame); full && frame.size() >= full) {
        break;
      }
      const Wait w = WaitReadable(fd, timeout_ms);
      if (w == Wait::Stopped) return std::nullopt;
      if (w == Wait::Quiet) {
        if (frame.size() > wire::kReplyCode) break;
        continue;
      }
      const ssize_t n = ::recv(fd, chunk, std::min(sizeof chunk, kMaxFrameBytes - frame.size()), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the peer closed or the connection failed: keep what came
      frame.insert(frame.end(), chunk, chunk + n);
    }
    return frame;
  }

  static bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  static bool WriteAll(int fd, const Bytes& bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
  }

  // Holds a connection silent until the peer closes it or the simulator stops.
  void HoldOpen(int fd) const {
    std::uint8_t sink[256];
    while (WaitReadable(fd, -1) == Wait::Ready) {
      const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
      if (n == 0 || (n < 0 && errno != EINTR)) return;
    }
  }

  std::optional<PendingFault> TakeFault(std::uint8_t code) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      if (it->only_code != 0 && it->only_code != code) continue;
      PendingFault taken = *it;
      if (--it->count <= 0) faults.erase(it);
      return taken;
    }
    return std::nullopt;
  }

  // Sends the reply as the fault asks; true when the connection may be closed in order.
  bool SendReply(int fd, Bytes reply, const std::optional<PendingFault>& fault) const {
    if (!fault) return WriteAll(fd, reply);
    switch (fault->fault) {
      case Fault::NoReply:
        HoldOpen(fd);
        return true;
      case Fault::WrongSignature:
        reply[3] = 0xA4;
        return WriteAll(fd, reply);
      case Fault::Refuse:
        return WriteAll(fd, ReplyHeader(reply[wire::kReplyCode], wire::NAK));
      case Fault::Truncate:
        reply.resize(reply.size() / 2);
        return WriteAll(fd, reply);
      case Fault::Oversize:
        reply.resize(std::max(reply.size(), kOversizeBytes), 0);
        return WriteAll(fd, reply);
      case Fault::Reset:
        WriteAll(fd, reply.data(), std::min(reply.size(), kResetAfterBytes));
        return false;
      case Fault::Delay:
        return Pause(fault->delay_ms) && WriteAll(fd, reply);
      case Fault::SplitReply: {
        const std::size_t half = reply.size() / 2;
        return WriteAll(fd, reply.data(), half) && Pause(kSplitPauseMs) &&
               WriteAll(fd, reply.data() + half, reply.size() - half);
      }
    }
    return true;
  }

  // Reads a file's content: everything until the peer closes, or the line has been quiet for
  // as long as a client may take to send a frame. Nothing is answered.
  std::optional<Bytes> ReadStream(int fd) const {
    Bytes content;
    std::uint8_t chunk[16384];
    while (content.size() <= kMaxStreamBytes) {
      const Wait w = WaitReadable(fd, kFirstBytesTimeoutMs);
      if (w == Wait::Stopped) return std::nullopt;
      if (w == Wait::Quiet) break;
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      content.insert(content.end(), chunk, chunk + n);
    }
    return content;
  }

  void Log(const std::string& line) {
    log_lines.push_back(line);
    if (options.log) options.log(line);
  }

  void Serve(int fd) {
    bool stream = false;
    {
      std::lock_guard lock(mutex);
      stream = module.AwaitingStream(Seconds());
    }
    if (stream) {
      const std::optional<Bytes> content = ReadStream(fd);
      if (!content) return;
      std::lock_guard lock(mutex);
      Log(module.ReceiveStream(*content));
      streams.push_back(*content);
      frames_changed.notify_all();
      return;
    }
    const std::optional<Bytes> frame = ReadFrame(fd);
    if (!frame || frame->empty()) return;
    std::optional<Bytes> reply;
    std::optional<PendingFault> fault;
    {
      std::lock_guard lock(mutex);
      frames.push_back(*frame);
      frames_changed.notify_all();
      if (frame->size() <= wire::kReplyCode || !HasSignature(*frame)) return;
      reply = module.Handle(*frame, Seconds());
      if (!reply) return;
      fault = TakeFault((*frame)[wire::kReplyCode]);
    }
    if (!SendReply(fd, std::move(*reply), fault)) {
      const linger reset{1, 0};  // close with RST instead of FIN
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      return;
    }
    // Unread input would turn the close into a reset and could cost the peer our reply.
    std::uint8_t sink[256];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
  }

  void Run() {
    while (true) {
      const Wait w = WaitReadable(listen_fd, -1);
      if (w == Wait::Stopped) return;
      int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        // Out of descriptors and the like: back off instead of spinning on a readable socket.
        if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN && !Pause(10)) return;
        continue;
      }
      Serve(fd);
      CloseFd(fd);
    }
  }

  void CheckChannel(int channel, int count) const {
    if (channel < 0 || channel >= count) throw std::out_of_range("zvk-sim: no such channel");
  }

  const Options options;
  const Clock::time_point epoch = Clock::now();

  mutable std::mutex mutex;
  mutable std::condition_variable frames_changed;
  Module module;
  std::vector<Bytes> frames;
  std::vector<Bytes> streams;
  std::vector<std::string> log_lines;
  std::deque<PendingFault> faults;

  std::mutex lifecycle;  // Start and Stop
  int listen_fd = -1;
  int stop_read = -1;
  int stop_write = -1;
  std::uint16_t port = 0;
  std::thread thread;
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
  Stop();
}

std::uint16_t Simulator::Start() {
  Impl& m = *impl_;
  std::lock_guard lifecycle(m.lifecycle);
  if (m.thread.joinable()) return m.port;

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(m.options.port);
  if (::inet_pton(AF_INET, m.options.listen.c_str(), &addr.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + m.options.listen);
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(),
                            "listen on " + m.options.listen + ":" + std::to_string(m.options.port));
  }
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "pipe");
  }
  m.listen_fd = fd;
  m.stop_read = pipe_fds[0];
  m.stop_write = pipe_fds[1];
  m.port = ntohs(addr.sin_port);
  m.thread = std::thread([&m] { m.Run(); });
  return m.port;
}

void Simulator::Stop() {
  Impl& m = *impl_;
  std::lock_guard lifecycle(m.lifecycle);
  if (!m.thread.joinable()) return;
  const std::uint8_t byte = 1;
  while (::write(m.stop_write, &byte, 1) < 0 && errno == EINTR) {
  }
  m.thread.join();
  CloseFd(m.listen_fd);
  CloseFd(m.stop_read);
  CloseFd(m.stop_write);
}

std::uint16_t Simulator::Port() const {
  std::lock_guard lifecycle(impl_->lifecycle);
  return impl_->port;
}

void Simulator::InjectFault(Fault fault, int count, std::uint8_t only_code, int delay_ms) {
  if (count <= 0) return;
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back({fault, count, only_code, delay_ms});
}

void Simulator::ClearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
}

std::vector<std::vector<std::uint8_t>> Simulator::Frames() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->frames;
}

void Simulator::ClearFrames() {
  std::lock_guard lock(impl_->mutex);
  impl_->frames.clear();
}

bool Simulator::WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->frames_changed.wait_for(lock, timeout, [&] { return impl_->frames.size() >= n; });
}

std::vector<std::vector<std::uint8_t>> Simulator::Streams() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->streams;
}

bool Simulator::WaitForStreams(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->frames_changed.wait_for(lock, timeout, [&] { return impl_->streams.size() >= n; });
}

std::vector<std::string> Simulator::LogLines() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log_lines;
}

std::optional<std::vector<std::uint8_t>> Simulator::File(const std::string& name) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->module.files.Get(name);
}

std::vector<std::string> Simulator::FileNames() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->module.files.Names();
}

void Simulator::PutFile(const std::string& name, const std::vector<std::uint8_t>& content) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->module.files.Put(name, content))
    throw std::invalid_argument("zvk-sim: cannot store the file " + name);
}

State Simulator::Snapshot() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->module.Snapshot();
}

void Simulator::SetReportedAddress(std::array<std::uint8_t, 4> address) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.address = address;
}

void Simulator::SetModelCode(std::uint8_t code) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.model_code = code;
}

void Simulator::SetRssi(std::uint16_t raw) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.rssi = raw;
}

void Simulator::SetAnalogVolts(int channel, double volts) {
  impl_->CheckChannel(channel, wire::kAnalogChannels);
  std::lock_guard lock(impl_->mutex);
  impl_->module.volts[channel] = volts;
}

void Simulator::SetThermistorOhms(int channel, double ohms) {
  impl_->CheckChannel(channel, wire::kThermistorChannels);
  std::lock_guard lock(impl_->mutex);
  impl_->module.ohms[channel] = ohms;
}

void Simulator::SetThermistorRefCount(std::uint16_t count) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.th_ref_count = count;
}

void Simulator::SetSensorType(int channel, std::uint8_t type) {
  impl_->CheckChannel(channel, wire::kThermistorChannels);
  std::lock_guard lock(impl_->mutex);
  impl_->module.sensor_types[channel] = type;
}

void Simulator::SetFahrenheit(int channel, bool on) {
  impl_->CheckChannel(channel, wire::kThermistorChannels);
  std::lock_guard lock(impl_->mutex);
  impl_->module.fahrenheit[channel] = on ? 1 : 0;
}

void Simulator::SetLocation(const std::string& text) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.config.location = text;
}

void Simulator::SetRangeCode(int channel, std::uint8_t code) {
  impl_->CheckChannel(channel, static_cast<int>(impl_->module.range_codes.size()));
  std::lock_guard lock(impl_->mutex);
  impl_->module.range_codes[channel] = code;
}

void Simulator::WireToVref(int channel, bool on) {
  impl_->CheckChannel(channel, wire::kAnalogChannels);
  std::lock_guard lock(impl_->mutex);
  impl_->module.on_vref[channel] = on;
}

void Simulator::SetVrefCount(std::uint16_t count) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.vref_count = count;
}

void Simulator::SetAnalogRefBlock(const std::array<std::uint8_t, 160>& block) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.analog_ref = block;
}

void Simulator::SetUserCurveRecord(const std::array<std::uint8_t, 144>& record) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.user_curves = record;
}

void Simulator::SetMeasuredThRefCount(std::uint16_t count) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.measured_th_ref_count = count;
}

void Simulator::SetDrift(bool on) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.drift = on;
}

std::vector<std::uint8_t> Simulator::BuildReply(const std::vector<std::uint8_t>& frame) {
  std::lock_guard lock(impl_->mutex);
  if (frame.size() <= wire::kReplyCode || !HasSignature(frame)) return {};
  Module scratch = impl_->module;
  scratch.files = impl_->module.files.InMemoryCopy();  // nothing of it reaches the directory
  return scratch.Handle(frame, impl_->Seconds()).value_or(Bytes{});
}

}  // namespace zvk::sim
