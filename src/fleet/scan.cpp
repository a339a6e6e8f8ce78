#include "fleet/scan.h"

#include <algorithm>
#include <array>
#include <memory>

#include "fleet/socket_wait.h"
#include "link/identity_record.h"
#include "util/text_codec.h"

namespace zvk {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a scan that can be cancelled looks at its flag while nothing happens.
constexpr int kCancelCheckMs = 50;

struct Probe {
  std::size_t index = 0;  // into the address list
  std::unique_ptr<TcpSocket> socket;
  bool connecting = true;
  Clock::time_point deadline;
  std::vector<std::uint8_t> reply;
  bool done = false;
  ProbeOutcome outcome = ProbeOutcome::Unreachable;
};

std::string ShortModelName(std::uint8_t code) {
  return code == wire::kModelKm3 ? "zVK-KM3" : "zVK-QN6";
}

// The reply holds what the identity handler reads, or shows it never will (a refusal, another
// signature): the link's own rule.
bool ReplyComplete(const std::vector<std::uint8_t>& reply) {
  return !reply.empty() &&
         reply.size() >= RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply.data(), reply.size());
}

class Scanner {
 public:
  Scanner(Network& network, const std::vector<std::string>& addresses, const ScanOptions& options)
      : network_(network), addresses_(addresses), options_(options) {}

  ScanResult Run() {
    const std::size_t limit = std::clamp<std::size_t>(options_.max_in_flight, 1, kMaxScanInFlight);
    std::size_t next = 0;
    std::vector<Probe> active;
    active.reserve(std::min(limit, addresses_.size()));
    while (next < addresses_.size() || !active.empty()) {
      if (options_.cancelled && options_.cancelled()) {
        result_.cancelled = true;
        for (Probe& p : active) p.socket->Close();
        break;
      }
      while (active.size() < limit && next < addresses_.size()) {
        active.push_back(Start(next++));
      }
      Wait(active);
      const Clock::time_point now = network_.Now();
      for (Probe& p : active) {
        if (!p.done && now >= p.deadline) p.done = true;  // outcome stays what it was
        if (p.done) Finish(p);
      }
      active.erase(
          std::remove_if(active.begin(), active.end(), [](const Probe& p) { return p.done; }),
          active.end());
    }
    std::sort(result_.modules.begin(), result_.modules.end(),
              [](const ScanRow& a, const ScanRow& b) {
                return AddressKey(a.address) < AddressKey(b.address);
              });
    return result_;
  }

 private:
  static std::uint64_t AddressKey(const std::string& address) {
    std::uint64_t key = 0;
    std::uint64_t octet = 0;
    for (char c : address) {
      if (c == '.') {
        key = (key << 8) | octet;
        octet = 0;
      } else {
        octet = octet * 10 + static_cast<std::uint64_t>(c - '0');
      }
    }
    return (key << 8) | octet;
  }

  Probe Start(std::size_t index) {
    Probe p;
    p.index = index;
    p.socket = network_.NewSocket();
    p.deadline = network_.Now() + milliseconds(options_.connect_timeout_ms);
    const IoStatus status = p.socket->BeginConnect(addresses_[index], options_.port);
    if (status == IoStatus::Failed) p.done = true;
    if (status == IoStatus::Done) Send(p);
    return p;
  }

  void Wait(std::vector<Probe>& active) {
    const Clock::time_point now = network_.Now();
    Clock::time_point until = Clock::time_point::max();
    std::vector<SocketWait> waits;
    waits.reserve(active.size());
    for (const Probe& p : active) {
      if (p.done) until = now;
      until = std::min(until, p.deadline);
      waits.push_back({p.socket->PollHandle(), p.connecting});
    }
    int timeout_ms = 0;
    if (until > now)
      timeout_ms = static_cast<int>(std::chrono::ceil<milliseconds>(until - now).count());
    if (options_.cancelled) timeout_ms = std::min(timeout_ms, kCancelCheckMs);
    WaitForSockets(waits, timeout_ms);
    for (std::size_t i = 0; i < active.size(); ++i) {
      Probe& p = active[i];
      if (p.done || !waits[i].ready) continue;
      // A socket the wait could not watch waits a short slice itself.
      const int slice = waits[i].handle < 0 ? kReplyPollMs : 0;
      if (p.connecting)
        Connecting(p, slice);
      else
        Reading(p, slice);
    }
  }

  void Connecting(Probe& p, int slice_ms) {
    const IoStatus status = p.socket->PollConnect(slice_ms);
    if (status == IoStatus::Failed) p.done = true;
    if (status == IoStatus::Done) Send(p);
  }

  // Connected: the identity request, exactly as the link sends it, and then only reading.
  void Send(Probe& p) {
    p.connecting = false;
    p.outcome = ProbeOutcome::Silent;
    static const auto frame = IdentityRequestFrame();
    if (!p.socket->WriteAll(frame.data(), frame.size())) {
      p.done = true;
      return;
    }
    p.deadline = network_.Now() + milliseconds(options_.reply_timeout_ms);
  }

  void Reading(Probe& p, int slice_ms) {
    if (slice_ms > 0 && p.socket->WaitReadable(slice_ms) != IoStatus::Done) return;
    std::array<std::uint8_t, 1024> chunk{};
    for (;;) {
      const long n = p.socket->ReadSome(chunk.data(), chunk.size());
      if (n == -2) break;
      if (n <= 0) {  // ended, or broken: what came is all there is
        p.done = true;
        break;
      }
      if (p.reply.empty())  // the reply has started: it gets a wait of its own to finish
        p.deadline = network_.Now() + milliseconds(options_.reply_timeout_ms);
      const std::size_t room = wire::kReplyBufferSize - p.reply.size();
      p.reply.insert(p.reply.end(), chunk.begin(),
                     chunk.begin() + static_cast<long>(std::min<std::size_t>(room, n)));
      if (ReplyComplete(p.reply) || p.reply.size() == wire::kReplyBufferSize) {
        p.done = true;
        break;
      }
    }
  }

  void Finish(Probe& p) {
    p.socket->Close();
    const std::string& address = addresses_[p.index];
    ProbeOutcome outcome = p.outcome;
    if (!p.reply.empty()) {
      auto row = ModuleFromReply(address, p.reply.data(), p.reply.size());
      outcome = row ? ProbeOutcome::Module : ProbeOutcome::NotModule;
      if (row) {
        if (options_.on_module) options_.on_module(*row);
        result_.modules.push_back(std::move(*row));
      }
    }
    switch (outcome) {
      case ProbeOutcome::Module:
        break;
      case ProbeOutcome::Unreachable:
        ++result_.unreachable;
        break;
      case ProbeOutcome::Silent:
        ++result_.silent;
        break;
      case ProbeOutcome::NotModule:
        ++result_.not_modules;
        break;
    }
    ++result_.probed;
    if (options_.on_progress) options_.on_progress(result_.probed, addresses_.size());
  }

  Network& network_;
  const std::vector<std::string>& addresses_;
  const ScanOptions& options_;
  ScanResult result_;
};

}  // namespace

std::optional<ScanRow> ModuleFromReply(const std::string& address, const std::uint8_t* reply,
                                       std::size_t length) {
  if (length < wire::kReplyHeaderSize ||
      !std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), reply) ||
      reply[wire::kReplyStatus] != wire::ACK || length <= wire::devinfo::kModel)
    return std::nullopt;
  const std::uint8_t model = reply[wire::devinfo::kModel];
  if (model != wire::kModelKm3 && model != wire::kModelQn6) return std::nullopt;
  if (length < RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply, length)) return std::nullopt;

  const IdentityRecord rec = ReadIdentityRecord(reply);
  ScanRow row;
  row.address = address;
  row.model_code = model;
  row.model = ShortModelName(model);
  row.name = ModuleTextToUtf8(rec.ap_ssid);
  row.location = ModuleTextToUtf8(rec.location);
  row.firmware = "V" + rec.firmware;
  const bool mac_zero = std::all_of(reply + wire::devinfo::kMac, reply + wire::devinfo::kMac + 6,
                                    [](std::uint8_t b) { return b == 0; });
  if (!mac_zero) row.mac = rec.mac;
  if (rec.rssi_raw != 0) row.rssi_dbm = int{rec.rssi_raw} - 65536;
  row.wifi_mode = rec.wifi_mode != 0 ? "AP" : "Station";
  return row;
}

ScanResult ScanModules(Network& network, const std::vector<std::string>& addresses,
                       const ScanOptions& options) {
  return Scanner(network, addresses, options).Run();
}

}  // namespace zvk
