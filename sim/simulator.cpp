#include "sim/simulator.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "link/wire.h"
#include "sim/module.h"
#include "sim/net.h"
#include "sim/server.h"

namespace zvk::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kOversizeBytes = 6000;
constexpr std::size_t kResetAfterBytes = 3;
constexpr milliseconds kSplitPause{50};

// A content longer than the utility's transfer buffer is cut here (and then fails its check).
constexpr std::size_t kMaxStreamBytes = 16 * 1024 * 1024 + 1;

struct PendingFault {
  Fault fault;
  int count;
  std::uint8_t only_code;
  int delay_ms;
  std::size_t after_bytes;
};

bool HasSignature(const Bytes& frame) {
  return frame.size() >= wire::kFrameSignature.size() &&
         std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin());
}

// The reply as the fault shapes it: the parts to send and how the connection ends.
ReplyPlan PlanReply(Bytes reply, const std::optional<PendingFault>& fault) {
  ReplyPlan plan;
  if (!fault) {
    plan.parts.push_back({milliseconds(0), std::move(reply)});
    return plan;
  }
  switch (fault->fault) {
    case Fault::NoReply:
      plan.after = AfterReply::Hold;
      return plan;
    case Fault::WrongSignature:
      reply[3] = 0xA4;
      break;
    case Fault::Refuse:
      reply = ReplyHeader(reply[wire::kReplyCode], wire::NAK);
      break;
    case Fault::Truncate:
      reply.resize(reply.size() / 2);
      break;
    case Fault::Oversize:
      reply.resize(std::max(reply.size(), kOversizeBytes), 0);
      break;
    case Fault::Reset:
      reply.resize(std::min(reply.size(), kResetAfterBytes));
      plan.after = AfterReply::Reset;
      break;
    case Fault::Delay:
      plan.parts.push_back({milliseconds(fault->delay_ms), std::move(reply)});
      return plan;
    case Fault::WrongSum:
      if (reply.size() >= wire::kReplyHeaderSize + 4 && reply[wire::kReplyStatus] == wire::ACK) {
        std::uint8_t* sum = &reply[wire::kReplyHeaderSize];
        for (int i = 0; i < 4; ++i) sum[i] = static_cast<std::uint8_t>(~sum[i]);
      }
      break;
    case Fault::SplitReply: {
      const auto half = reply.begin() + static_cast<std::ptrdiff_t>(reply.size() / 2);
      plan.parts.push_back({milliseconds(0), Bytes(reply.begin(), half)});
      plan.parts.push_back({kSplitPause, Bytes(half, reply.end())});
      return plan;
    }
    case Fault::OtherReply:  // the reply was replaced before
    case Fault::NoRead:
    case Fault::ResetAfter:
    case Fault::Chatter:
    case Fault::CloseAfter:
    case Fault::SlowClose:
    case Fault::NoReturn:
    case Fault::OldFirmware:
      break;  // never taken for a reply
  }
  plan.parts.push_back({milliseconds(0), std::move(reply)});
  return plan;
}

bool SpoilsReply(Fault fault) {
  switch (fault) {
    case Fault::NoReply:
    case Fault::WrongSignature:
    case Fault::Refuse:
    case Fault::Truncate:
    case Fault::Reset:
      return true;
    default:
      return false;
  }
}

// How the module reads a content of `length` bytes, as the fault (if any) has it.
StreamPlan PlanStream(std::size_t length, const std::optional<PendingFault>& fault) {
  StreamPlan plan;
  plan.read_limit = std::min(length, kMaxStreamBytes);
  if (!fault) return plan;
  switch (fault->fault) {
    case Fault::NoRead:
      plan.end = StreamPlan::End::NoRead;
      break;
    case Fault::ResetAfter:
      plan.read_limit = std::min(plan.read_limit, fault->after_bytes);
      plan.end = StreamPlan::End::Reset;
      break;
    case Fault::CloseAfter:
      plan.read_limit = std::min(plan.read_limit, fault->after_bytes);
      break;
    case Fault::Chatter:
      plan.chatter = true;
      break;
    case Fault::SlowClose:
      plan.close_delay = milliseconds(fault->delay_ms);
      break;
    default:
      break;
  }
  return plan;
}

// Off the network for good: far longer than any run.
constexpr std::chrono::hours kNeverBack{24 * 365};

}  // namespace

bool IsRestartFault(Fault fault) {
  return fault == Fault::NoReturn || fault == Fault::OldFirmware;
}

bool IsContentFault(Fault fault) {
  switch (fault) {
    case Fault::NoRead:
    case Fault::ResetAfter:
    case Fault::Chatter:
    case Fault::CloseAfter:
    case Fault::SlowClose:
      return true;
    default:
      return false;
  }
}

struct Simulator::Impl {
  explicit Impl(Options o)
      : options(std::move(o)),
        module(options.model, options.files_dir, options.unit),
        reboot_ms(options.reboot_ms) {}

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - epoch).count(); }

  // The first fault for a reply to `code`, or (content) for a content connection.
  std::optional<PendingFault> TakeFault(std::uint8_t code, bool content = false) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      if (IsContentFault(it->fault) != content || IsRestartFault(it->fault)) continue;
      if (!content && it->only_code != 0 && it->only_code != code) continue;
      if (it->fault == Fault::WrongSum && code != wire::CMD_GET_IMAGE_CHECKSUM) continue;
      PendingFault taken = *it;
      if (--it->count <= 0) faults.erase(it);
      return taken;
    }
    return std::nullopt;
  }

  // Runs on the server thread for every frame: record it, and answer it unless the module stays
  // silent (a frame too short to hold a code, a wrong signature, a command it closes on).
  std::optional<ReplyPlan> Answer(const Bytes& frame) {
    std::optional<Bytes> reply;
    std::optional<PendingFault> fault;
    {
      std::lock_guard lock(mutex);
      ++received;
      frames.push_back(frame);
      while (frames.size() > options.frame_record_limit) frames.pop_front();
      frames_changed.notify_all();
      if (frame.size() <= wire::kReplyCode || !HasSignature(frame)) return std::nullopt;
      reply = module.Handle(frame, Seconds());
      TakeModuleLog();
      if (module.reboot_requested) Restart();
      if (!reply) return std::nullopt;
      fault = TakeFault(frame[wire::kReplyCode]);
      if (fault && fault->fault == Fault::OtherReply) reply = module.IdentityRecord(Seconds());
      // An announce answered with anything but a whole acknowledgement gets no content from the
      // utility: the module stops waiting for it, or it would take the next command's
      // connection for the content.
      if (fault && frame[wire::kReplyCode] == wire::CMD_WRITE_FILE && SpoilsReply(fault->fault))
        module.ClaimStream(Seconds());
    }
    return PlanReply(std::move(*reply), fault);
  }

  // Where the content goes when a connection just accepted carries an announced file's.
  std::optional<StreamPlan> ClaimStream() {
    std::lock_guard lock(mutex);
    std::optional<AwaitedStream> file = module.ClaimStream(Seconds());
    if (!file) return std::nullopt;
    StreamPlan plan = PlanStream(file->length, TakeFault(0, true));
    plan.sink = [this, file = std::move(*file)](Bytes content) {
      std::lock_guard lock(mutex);
      Log(module.ReceiveStream(file, content));
      streams.push_back(std::move(content));
      frames_changed.notify_all();
    };
    return plan;
  }

  void TakeModuleLog() {
    for (const std::string& line : module.log) Log(line);
    module.log.clear();
  }

  // The first restart fault, if any.
  std::optional<Fault> TakeRestartFault() {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      if (!IsRestartFault(it->fault)) continue;
      const Fault taken = it->fault;
      if (--it->count <= 0) faults.erase(it);
      return taken;
    }
    return std::nullopt;
  }

  // The module restarts: off the network for reboot_ms, then it starts from its files and runs
  // the firmware image it stored. On the server thread, with the mutex held.
  void Restart() {
    module.reboot_requested = false;
    const std::optional<Fault> fault = TakeRestartFault();
    const bool run_image = fault != Fault::OldFirmware;
    if (fault == Fault::NoReturn) {
      offline = true;
      Log("restarting: never back on the network");
      server->DropOff(
          kNeverBack, []() -> net::Socket { throw std::runtime_error("never back"); }, [] {});
      return;
    }
    if (reboot_ms <= 0) {
      module.Boot(run_image);
      Log("restarted");
      return;
    }
    offline = true;
    Log("restarting: off the network for " + std::to_string(reboot_ms) + " ms");
    server->DropOff(
        milliseconds(reboot_ms),
        [this] {
          std::uint16_t bound = 0;
          return net::Listen(options.listen, port, &bound);
        },
        [this, run_image] {
          std::lock_guard lock(mutex);
          module.Boot(run_image);
          offline = false;
          Log("started");
          frames_changed.notify_all();
        });
  }

  void Log(const std::string& line) {
    log_lines.push_back(line);
    if (options.log) options.log(line);
  }

  void CheckChannel(int channel, int count) const {
    if (channel < 0 || channel >= count) throw std::out_of_range("zvk-sim: no such channel");
  }

  const Options options;
  const Clock::time_point epoch = Clock::now();

  mutable std::mutex mutex;  // the module, the faults and the frame record
  mutable std::condition_variable frames_changed;
  Module module;
  std::deque<Bytes> frames;
  std::size_t received = 0;  // since the start or ClearFrames, kept or not
  std::vector<Bytes> streams;
  std::vector<std::string> log_lines;
  int reboot_ms = 0;
  bool offline = false;
  std::deque<PendingFault> faults;

  std::mutex lifecycle;  // Start and Stop
  std::unique_ptr<Server> server;
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
  net::Socket listener = net::Listen(m.options.listen, m.options.port, &m.port);
  const ServerLimits limits{milliseconds(m.options.idle_timeout_ms), m.options.max_connections};
  m.server = std::make_unique<Server>(std::move(listener), limits,
                                      [&m](const Bytes& frame) { return m.Answer(frame); });
  m.server->SetStreamClaim([&m] { return m.ClaimStream(); });
  m.thread = std::thread([&m] { m.server->Run(); });
  return m.port;
}

void Simulator::Stop() {
  Impl& m = *impl_;
  std::lock_guard lifecycle(m.lifecycle);
  if (!m.thread.joinable()) return;
  m.server->Stop();
  m.thread.join();
  m.server.reset();
}

std::uint16_t Simulator::Port() const {
  std::lock_guard lifecycle(impl_->lifecycle);
  return impl_->port;
}

void Simulator::InjectFault(Fault fault, int count, std::uint8_t only_code, int delay_ms,
                            std::size_t after_bytes) {
  if (count <= 0) return;
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back({fault, count, only_code, delay_ms, after_bytes});
}

void Simulator::ClearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
}

std::vector<std::vector<std::uint8_t>> Simulator::Frames() const {
  std::lock_guard lock(impl_->mutex);
  return {impl_->frames.begin(), impl_->frames.end()};
}

void Simulator::ClearFrames() {
  std::lock_guard lock(impl_->mutex);
  impl_->frames.clear();
  impl_->received = 0;
}

bool Simulator::WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->frames_changed.wait_for(lock, timeout, [&] { return impl_->received >= n; });
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

void Simulator::SetFirmware(std::uint8_t major, std::uint8_t minor) {
  std::lock_guard lock(impl_->mutex);
  impl_->module.fw_major = major;
  impl_->module.fw_minor = minor;
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

void Simulator::SetRebootMs(int ms) {
  std::lock_guard lock(impl_->mutex);
  impl_->reboot_ms = ms;
}

bool Simulator::WaitUntilOnline(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->frames_changed.wait_for(lock, timeout, [&] { return !impl_->offline; });
}

std::vector<std::uint8_t> Simulator::BuildReply(const std::vector<std::uint8_t>& frame) {
  std::lock_guard lock(impl_->mutex);
  if (frame.size() <= wire::kReplyCode || !HasSignature(frame)) return {};
  Module scratch = impl_->module;
  scratch.log.clear();
  scratch.files = impl_->module.files.InMemoryCopy();  // nothing of it reaches the directory
  return scratch.Handle(frame, impl_->Seconds()).value_or(Bytes{});
}

}  // namespace zvk::sim
