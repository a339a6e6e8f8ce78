#include "link/exchange.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "link/dispatcher.h"
#include "link/link.h"

namespace zvk {

namespace {

constexpr const char* kConnectTimeoutText = "Connect Timeout";

using Clock = std::chrono::steady_clock;

Clock::time_point Now(const Link& link) {
  return link.seams.network.Now();
}

bool Quitting(const Link& link) {
  return link.seams.pump.QuitRequested();
}

// How a wait of the link ended.
enum class Wait { Done, TimedOut, Error, Abandoned };

// Connects to the module, keeping the event pump running.
Wait Connect(Link& link, TcpSocket& socket) {
  IoStatus status = socket.BeginConnect(link.DeviceHost, link.DevicePort);
  const auto deadline = Now(link) + std::chrono::milliseconds(kConnectTimeoutMs);
  while (status == IoStatus::Pending) {
    link.seams.pump.ProcessEvents();
    if (Quitting(link)) return Wait::Abandoned;
    if (Now(link) >= deadline) return Wait::TimedOut;
    status = socket.PollConnect(kReplyPollMs);
  }
  return status == IoStatus::Done ? Wait::Done : Wait::Error;
}

// Connects for an exchange; on failure reports it and releases the link, returning null. A
// connect given up because the program is quitting reports nothing.
std::unique_ptr<TcpSocket> OpenLink(Link& link) {
  auto socket = link.seams.network.NewSocket();
  const Wait connected = Connect(link, *socket);
  if (connected != Wait::Done) {
    socket->Close();
    link.LinkBusy = false;
    if (connected == Wait::Abandoned) return nullptr;
    link.reporter.SetStatus(kConnectTimeoutText);
    link.PendingCommand = 0;
    return nullptr;
  }
  if (link.reporter.Status() == kConnectTimeoutText) link.reporter.SetStatus("");
  return socket;
}

// An error after a good connect: the link is released and the reason shown; nothing is decoded.
void LinkError(Link& link, TcpSocket& socket, const std::string& what) {
  std::string reason = what;
  if (!socket.LastError().empty()) reason += ": " + socket.LastError();
  socket.Close();
  link.LinkBusy = false;
  link.reporter.SetStatus("Link error, " + reason);
  link.reporter.Log("Link error, " + reason);
}

// No reply came: the pending command stays for the retry step.
void NoReply(Link& link, TcpSocket& socket) {
  link.reporter.Log("Wait RX Timeout!");
  socket.Close();
  link.ReplyTimedOut = true;
  link.LinkBusy = false;
}

// The program is quitting: the exchange ends where it stands, with nothing reported.
void Abandon(Link& link, TcpSocket& socket) {
  socket.Close();
  link.LinkBusy = false;
}

void RunAfterExchange(Link& link) {
  auto actions = std::move(link.after_exchange);
  link.after_exchange.clear();
  for (auto& action : actions) action();
}

void CopySignature(Link& link) {
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), link.CommandFrame.begin());
}

// The command an exchange sends: its code and first parameter bytes in the frame, and the
// pending command that selects the handler of its reply.
struct Sending {
  std::uint8_t code = 0;
  std::uint8_t byte5 = 0;
  std::uint8_t byte6 = 0;
  std::uint8_t pending = 0;
};

Sending Remember(const Link& link) {
  return {link.CommandFrame[4], link.CommandFrame[5], link.CommandFrame[6], link.PendingCommand};
}

// A Timer3 tick or a click that runs while an exchange waits (the event pump runs them) queues
// or sends the locator or identity request by writing it over the frame and the pending command
// of the exchange in flight, and the busy link refuses to send it. Left so, a longer frame
// would go out under that code with the other command's parameters, and a reply would be
// decoded by that command's handler while the command itself was never sent. The exchange keeps
// its own command instead, and the other one waits in the queue for the next tick.
void KeepOwnCommand(Link& link, const Sending& own) {
  const std::uint8_t other = link.CommandFrame[4];
  if (other == own.code || (other != wire::CMD_SET_LOCATOR && other != wire::CMD_GET_DEVICE))
    return;
  link.CommandFrame[4] = own.code;
  link.CommandFrame[5] = own.byte5;
  link.CommandFrame[6] = own.byte6;
  link.PendingCommand = own.pending;
  link.QueuedCommand = other;
}

// One reply wait: polls of up to 10 ms with the pump between them; a poll that sees no data
// counts, and the wait fails once kReplyPolls have counted. The look without waiting that spares
// pumping when data is there already is left out where the pump runs nothing.
Wait WaitForData(Link& link, const Sending& own, TcpSocket& socket, int& polls) {
  const bool pumping = link.seams.pump.RunsEvents();
  while (polls < kReplyPolls) {
    IoStatus s = pumping ? socket.WaitReadable(0) : IoStatus::Pending;
    if (s == IoStatus::Pending) {
      link.seams.pump.ProcessEvents();
      KeepOwnCommand(link, own);
      if (Quitting(link)) return Wait::Abandoned;
      s = socket.WaitReadable(kReplyPollMs);
      if (s == IoStatus::Pending) {
        ++polls;
        continue;
      }
    }
    return s == IoStatus::Done ? Wait::Done : Wait::Error;
  }
  return Wait::TimedOut;
}

struct ReplyRead {
  enum class End { Open, Closed, Broken, Abandoned };
  std::size_t received = 0;  // bytes in ReplyBuffer
  std::size_t dropped = 0;   // bytes past its end, read and discarded
  End end = End::Open;       // Open: complete, or its wait ran out with the connection open
};

// Reads the reply that has started to arrive until it holds what its handler reads, the
// connection ends, or one more reply wait has passed. That wait is the reply's own, counted from
// its first byte; its deadline also bounds a reply that trickles in so steadily that no poll
// ever counts. An oversized reply is drained to its end so that nothing of it is taken for a
// later reply.
ReplyRead ReadReply(Link& link, const Sending& own, TcpSocket& socket) {
  int polls = 0;
  const auto deadline = Now(link) + std::chrono::milliseconds(kReplyPolls * kReplyPollMs);
  ReplyRead read;
  std::uint8_t scratch[1024];
  for (;;) {
    const bool full = read.received == link.ReplyBuffer.size();
    const std::size_t asked = full ? sizeof scratch : link.ReplyBuffer.size() - read.received;
    const long n = socket.ReadSome(full ? scratch : link.ReplyBuffer.data() + read.received, asked);
    if (n == -1) {
      read.end = ReplyRead::End::Broken;
      return read;
    }
    if (n == 0) {
      read.end = ReplyRead::End::Closed;
      return read;
    }
    if (n > 0) (full ? read.dropped : read.received) += static_cast<std::size_t>(n);
    // A read that did not fill what it asked for took everything buffered so far.
    const bool drained = n < static_cast<long>(asked);
    if (drained && read.received < link.ReplyBuffer.size() &&
        read.received >= RequiredReplyLength(link.PendingCommand, link.device.ModelCode,
                                             link.ReplyBuffer.data(), read.received))
      return read;
    if (Now(link) >= deadline) return read;
    if (!drained) continue;
    switch (WaitForData(link, own, socket, polls)) {
      case Wait::Done:
        break;
      case Wait::TimedOut:
        return read;
      case Wait::Error:
        read.end = ReplyRead::End::Broken;
        return read;
      case Wait::Abandoned:
        read.end = ReplyRead::End::Abandoned;
        return read;
    }
  }
}

}  // namespace

std::unique_ptr<TcpSocket> ConnectToModule(Link& link, std::string* error) {
  auto socket = link.seams.network.NewSocket();
  const Wait connected = Connect(link, *socket);
  if (connected == Wait::Done) return socket;
  if (error) {
    if (connected == Wait::Abandoned)
      *error = "the program is ending";
    else if (connected == Wait::TimedOut || socket->LastError().empty())
      *error = kConnectTimeoutText;
    else
      *error = socket->LastError();
  }
  socket->Close();
  return nullptr;
}

std::size_t RequiredReplyLength(std::uint8_t pending, std::uint8_t model_code,
                                const std::uint8_t* reply, std::size_t received) {
  if (received >= 4 &&
      !std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), reply))
    return 4;  // the dispatcher rejects it on the signature alone
  if (received < wire::kReplyHeaderSize) return wire::kReplyHeaderSize;
  if (reply[wire::kReplyStatus] != wire::ACK) return wire::kReplyHeaderSize;
  switch (pending) {
    case wire::CMD_GET_DEVICE:
      if (received <= wire::devinfo::kModel) return wire::devinfo::kModel + 1;
      if (reply[wire::devinfo::kModel] == wire::kModelKm3) return wire::devinfo::kKm3RecordSize;
      if (reply[wire::devinfo::kModel] == wire::kModelQn6) return wire::devinfo::kQn6RecordSize;
      return wire::devinfo::kModel + 1;
    case wire::CMD_SET_TH_CONFIG:
    case wire::CMD_READ_DATA:
      return model_code == wire::kModelKm3 ? wire::data::kKm3BlockSize : wire::data::kQn6BlockSize;
    case wire::CMD_GET_IMAGE_CHECKSUM:
      return 10;  // 32-bit checksum after the header
    case wire::CMD_CALIBRATE_TH_REF:
      return 8;  // 16-bit reference count after the header
    default:
      return wire::kReplyHeaderSize;
  }
}

bool Transact(Link& link, std::uint8_t length) {
  if (link.LinkBusy || Quitting(link)) return false;
  link.ReplyDispatched = false;
  link.LinkBusy = true;
  link.RetryTicks = 0;
  link.RetryTickLimit = 40;
  Sending own = Remember(link);

  auto socket = OpenLink(link);
  if (!socket) return false;

  std::fill_n(link.ReplyBuffer.begin(), wire::kReplyClearBytes, 0);
  CopySignature(link);
  // A Timer3 tick that ran while this exchange was connecting may have written a queued
  // command into a 5-byte frame; send it whole.
  if (length == 5 && (link.CommandFrame[4] == wire::CMD_SET_LOCATOR ||
                      link.CommandFrame[4] == wire::CMD_GET_DEVICE)) {
    link.CommandFrame[5] = 0;
    link.CommandFrame[6] = 0;
    length = 7;
    link.reporter.Log("Recover");
  } else {
    KeepOwnCommand(link, own);
  }
  own = Remember(link);
  if (!socket->WriteAll(link.CommandFrame.data(), length)) {
    LinkError(link, *socket, "write failed");
    return false;
  }

  int polls = 0;
  switch (WaitForData(link, own, *socket, polls)) {
    case Wait::Done:
      break;
    case Wait::TimedOut:
      NoReply(link, *socket);
      return true;
    case Wait::Error:
      LinkError(link, *socket, "connection lost while waiting for the reply");
      return true;
    case Wait::Abandoned:
      Abandon(link, *socket);
      return true;
  }

  const ReplyRead read = ReadReply(link, own, *socket);
  if (read.end == ReplyRead::End::Abandoned) {
    Abandon(link, *socket);
    return true;
  }
  const std::size_t received = read.received;
  if (received == 0) {
    // A module that ends the connection without a byte has not answered: it is retried like
    // a silent one, without sitting out the rest of the wait.
    if (read.end != ReplyRead::End::Open) link.reporter.Log(kClosedWithoutReplyLog);
    NoReply(link, *socket);
    return true;
  }
  const std::size_t needed = RequiredReplyLength(link.PendingCommand, link.device.ModelCode,
                                                 link.ReplyBuffer.data(), received);
  // A reply that holds what its handler reads is decoded whatever became of the connection
  // after it; only one still incomplete when the connection broke is a link error.
  if (read.end == ReplyRead::End::Broken && received < needed) {
    LinkError(link, *socket, "connection lost while reading the reply");
    return true;
  }
  socket->Close();
  if (read.dropped > 0)
    link.reporter.Log("Reply longer than " + std::to_string(link.ReplyBuffer.size()) + " bytes, " +
                      std::to_string(read.dropped) + " bytes dropped");

  // Fewer bytes than the signature go to the dispatcher, which refuses them on the signature.
  if (received < needed && received >= wire::kFrameSignature.size()) {
    link.ReplyTimedOut = false;
    link.ReplyLength = static_cast<std::uint32_t>(received);
    link.reporter.Log("Short reply: " + std::to_string(received) + " of " + std::to_string(needed) +
                      " bytes, not decoded");
    // Counted as a refusal: the locator and identity handlers send their command again on
    // one, every other handler does nothing.
    if (link.PendingCommand == wire::CMD_SET_LOCATOR || link.PendingCommand == wire::CMD_GET_DEVICE)
      ReissuePending(link);
  } else {
    try {
      link.ReplyDispatched = true;
      DispatchReply(link, static_cast<std::uint32_t>(received));
    } catch (...) {
      // An error that escapes a handler goes to the error box; the link must not stay busy.
      link.LinkBusy = false;
      throw;
    }
  }
  link.LinkBusy = false;
  RunAfterExchange(link);
  return true;
}

bool SendOnly(Link& link, std::uint8_t length) {
  if (link.LinkBusy || Quitting(link)) return false;
  link.LinkBusy = true;
  link.RetryTicks = 0;
  link.RetryTickLimit = 40;
  link.ReplyTimedOut = false;
  const Sending own = Remember(link);

  auto socket = OpenLink(link);
  if (!socket) return false;
  KeepOwnCommand(link, own);
  CopySignature(link);
  if (!socket->WriteAll(link.CommandFrame.data(), length)) {
    LinkError(link, *socket, "write failed");
    return false;
  }
  socket->Close();
  link.LinkBusy = false;
  RunAfterExchange(link);
  return true;
}

std::array<std::uint8_t, wire::kLenQueued> IdentityRequestFrame() {
  std::array<std::uint8_t, wire::kLenQueued> frame{};
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin());
  frame[wire::kReplyCode] = wire::CMD_GET_DEVICE;
  return frame;
}

void QueueCommand(Link& link, std::uint8_t code) {
  link.PendingCommand = code;
  link.CommandFrame[4] = code;
  if (code == wire::CMD_GET_DEVICE) {
    link.CommandFrame[5] = 0;
    link.CommandFrame[6] = 0;
  }
  link.QueuedCommand = code;
}

void QueueStep(Link& link) {
  if (link.QueuedCommand == 0) return;
  const std::uint8_t code = link.QueuedCommand;
  // Emptied before the exchange, so a handler that queues its command again (a refused
  // locator or identity request) keeps it for the next tick.
  link.QueuedCommand = 0;
  link.PendingCommand = code;
  link.CommandFrame[4] = code;
  link.CommandFrame[5] = 0;
  link.CommandFrame[6] = 0;
  Transact(link, wire::kLenQueued);
  link.discovery.SupervisionTicks = 0;
}

void RetryStep(Link& link) {
  if (!link.ReplyTimedOut) return;
  if (++link.RetryTicks < link.RetryTickLimit) return;
  if (link.RetryCount >= 3) {
    link.RetryCount = 0;
    link.PendingCommand = 0;
    link.ReplyTimedOut = false;
    link.reporter.SetStatus("Retry timeout, abort transfer!");
  } else {
    ++link.RetryCount;
    ReissuePending(link);
    link.reporter.SetStatus("Retry transfer " + std::to_string(link.RetryCount));
  }
  link.RetryTicks = 0;
}

void ReissuePending(Link& link) {
  const std::uint8_t pending = link.PendingCommand;
  switch (pending) {
    case wire::CMD_SET_LOCATOR:
    case wire::CMD_GET_DEVICE:
      QueueCommand(link, pending);
      return;
    default:
      if (auto& issuer = link.reissuers[pending]) issuer();
  }
}

void SetReissuer(Link& link, std::uint8_t code, LinkCallback issuer) {
  link.reissuers[code] = std::move(issuer);
}

void AfterExchange(Link& link, LinkCallback action) {
  link.after_exchange.push_back(std::move(action));
}

}  // namespace zvk
