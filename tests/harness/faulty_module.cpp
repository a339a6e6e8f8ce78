#include "harness/faulty_module.h"

#include <algorithm>

#include "link/wire.h"

namespace zvk::harness {

namespace {

using Kind = PeerEvent::Kind;

constexpr const char* kFaultNames[kFaultKinds] = {
    "no reply", "late reply", "wrong signature", "refusal",     "truncated",  "oversized",
    "split",    "closed",     "reset",           "write fails", "module off", "Wi-Fi lost",
};

// The faults a connection may get once it is taken (the others are decided elsewhere).
constexpr Fault kReplyFaults[] = {
    Fault::NoReply,   Fault::LateReply, Fault::WrongSignature, Fault::Refusal, Fault::Truncated,
    Fault::Oversized, Fault::Split,     Fault::Closed,         Fault::Reset,   Fault::WriteFailed};

PeerEvent Send(int at_ms, Bytes bytes) {
  return {.at_ms = at_ms, .kind = Kind::Send, .bytes = std::move(bytes)};
}

PeerEvent End(int at_ms, Kind kind = Kind::Close) {
  return {.at_ms = at_ms, .kind = kind};
}

}  // namespace

const char* FaultName(Fault fault) {
  return kFaultNames[static_cast<int>(fault)];
}

FaultyModule::FaultyModule(sim::Model model, std::uint32_t seed) : module(model), rng_(seed) {}

int FaultyModule::Uniform(int low, int high) {
  return low + static_cast<int>(rng_() % static_cast<std::uint32_t>(high - low + 1));
}

bool FaultyModule::MaybeDropOff() {
  if (!faults || now() < off_until_ms_ || Uniform(1, 100) > 2) return false;
  // Off the network for up to three supervision cycles, as a module does when it restarts.
  off_until_ms_ = now() + Uniform(500, 10000);
  ++injected[static_cast<int>(Fault::ModuleOff)];
  return true;
}

void FaultyModule::StopFaults() {
  faults = false;
  off_until_ms_ = 0;
}

ConnectPlan FaultyModule::Connect() {
  ++connections;
  current.reset();
  planned_.reset();
  if (now() < off_until_ms_) {
    current = Fault::ModuleOff;
    // Gone from the air (the connect is never answered) or back with its service not yet up.
    return {.kind = Uniform(0, 1) ? ConnectPlan::Kind::Hang : ConnectPlan::Kind::Refuse};
  }
  ConnectPlan plan{.after_ms = Uniform(0, 30)};
  if (faults && Uniform(1, 100) <= fault_percent) {
    planned_ = kReplyFaults[Uniform(0, static_cast<int>(std::size(kReplyFaults)) - 1)];
    current = planned_;
    ++injected[static_cast<int>(*planned_)];
    if (*planned_ == Fault::WriteFailed) plan.write_fails = true;
  }
  return plan;
}

std::vector<PeerEvent> FaultyModule::Frame(const Bytes& frame) {
  if (on_frame) on_frame(frame);
  // The module drops a frame without its signature, as it does on the air.
  if (frame.size() < wire::kFrameSignature.size() ||
      !std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin()))
    return {};
  std::optional<Bytes> reply = module.Handle(frame, now() / 1000.0);
  if (!reply) return {End(1)};
  if (!planned_) return {Send(Uniform(1, 40), std::move(*reply)), End(41)};
  return Shape(std::move(*reply), *planned_);
}

std::vector<PeerEvent> FaultyModule::Shape(Bytes reply, Fault fault) {
  const int at = Uniform(1, 40);
  switch (fault) {
    case Fault::NoReply:
      return {};
    case Fault::LateReply: {
      // Either side of the link's one-second wait.
      const int late = Uniform(300, 2500);
      return {Send(late, std::move(reply)), End(late + 1)};
    }
    case Fault::WrongSignature:
      reply[3] = 0xA4;
      return {Send(at, std::move(reply)), End(at + 1)};
    case Fault::Refusal:
      return {Send(at, sim::ReplyHeader(reply[wire::kReplyCode], wire::NAK)), End(at + 1)};
    case Fault::Truncated:
      reply.resize(static_cast<std::size_t>(Uniform(1, static_cast<int>(reply.size()) - 1)));
      return {Send(at, std::move(reply)), End(at + 1)};
    case Fault::Oversized: {
      const int junk = Uniform(1, 5000);
      for (int i = 0; i < junk; ++i) reply.push_back(static_cast<std::uint8_t>(rng_()));
      return {Send(at, std::move(reply)), End(at + 1)};
    }
    case Fault::Split: {
      std::vector<PeerEvent> events;
      std::size_t from = 0;
      int t = at;
      const int pieces = Uniform(2, 6);
      for (int i = 0; i < pieces && from < reply.size(); ++i) {
        const std::size_t to =
            i + 1 == pieces
                ? reply.size()
                : std::min(reply.size(), from + static_cast<std::size_t>(
                                                    Uniform(1, static_cast<int>(reply.size()))));
        events.push_back(Send(t, Bytes(reply.begin() + static_cast<std::ptrdiff_t>(from),
                                       reply.begin() + static_cast<std::ptrdiff_t>(to))));
        from = to;
        t += Uniform(1, 400);
      }
      events.push_back(End(t));
      return events;
    }
    case Fault::Closed:
      return {End(Uniform(1, 500))};
    case Fault::Reset: {
      // Before the reply, in its middle, or right after the whole of it.
      const std::size_t keep = static_cast<std::size_t>(
          Uniform(0, 2) == 0 ? 0 : Uniform(1, static_cast<int>(reply.size())));
      reply.resize(keep);
      if (keep == 0) return {End(at, Kind::Reset)};
      return {Send(at, std::move(reply)), End(at + Uniform(0, 50), Kind::Reset)};
    }
    case Fault::WriteFailed:
    case Fault::ModuleOff:
    case Fault::WifiLost:
      break;
  }
  return {};
}

}  // namespace zvk::harness
