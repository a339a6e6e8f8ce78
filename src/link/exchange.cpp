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

// Connects to the module, keeping the event pump running. Null when the connect failed, with
// the reason in *error when asked.
std::unique_ptr<TcpSocket> Connect(Link& link, std::string* error) {
  auto socket = link.seams.network.NewSocket();
  IoStatus status = socket->BeginConnect(link.DeviceHost, link.DevicePort);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  while (status == IoStatus::Pending) {
    link.seams.pump.ProcessEvents();
    if (std::chrono::steady_clock::now() >= deadline) {
      status = IoStatus::Failed;
      break;
    }
    status = socket->PollConnect(kReplyPollMs);
  }
  if (status != IoStatus::Done) {
    if (error) *error = socket->LastError().empty() ? kConnectTimeoutText : socket->LastError();
    socket->Close();
    return nullptr;
  }
  return socket;
}

// Connects for an exchange; on failure reports it and releases the link, returning null.
std::unique_ptr<TcpSocket> OpenLink(Link& link) {
  auto socket = Connect(link, nullptr);
  if (!socket) {
    link.reporter.SetStatus(kConnectTimeoutText);
    link.LinkBusy = false;
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

void RunAfterExchange(Link& link) {
  auto actions = std::move(link.after_exchange);
  link.after_exchange.clear();
  for (auto& action : actions) action();
}

void CopySignature(Link& link) {
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), link.CommandFrame.begin());
}

enum class Wait { Data, TimedOut, Error };

// One reply wait: polls of up to 10 ms with the pump between them; a poll that sees no data
// counts, and the wait fails once kReplyPolls have counted.
Wait WaitForData(Link& link, TcpSocket& socket, int& polls) {
  while (polls < kReplyPolls) {
    IoStatus s = socket.WaitReadable(0);
    if (s == IoStatus::Pending) {
      link.seams.pump.ProcessEvents();
      s = socket.WaitReadable(kReplyPollMs);
      if (s == IoStatus::Pending) {
        ++polls;
        continue;
      }
    }
    return s == IoStatus::Done ? Wait::Data : Wait::Error;
  }
  return Wait::TimedOut;
}

struct ReplyRead {
  std::size_t received = 0;  // bytes in ReplyBuffer
  std::size_t dropped = 0;   // bytes past its end, read and discarded
  bool failed = false;
};

// Reads the reply that has started to arrive until it holds what its handler reads, the module
// closes, or one more reply wait has passed. An oversized reply is drained to its end so that
// nothing of it is taken for a later reply.
ReplyRead ReadReply(Link& link, TcpSocket& socket, int& polls) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyPolls * kReplyPollMs);
  ReplyRead read;
  std::uint8_t scratch[1024];
  for (;;) {
    const bool full = read.received == link.ReplyBuffer.size();
    long n = full ? socket.ReadSome(scratch, sizeof scratch)
                  : socket.ReadSome(link.ReplyBuffer.data() + read.received,
                                    link.ReplyBuffer.size() - read.received);
    if (n == -1) {
      read.failed = true;
      return read;
    }
    if (n == 0) return read;  // the module closed: nothing more can come
    if (n > 0) (full ? read.dropped : read.received) += static_cast<std::size_t>(n);
    const std::size_t needed = RequiredReplyLength(link.PendingCommand, link.device.ModelCode,
                                                   link.ReplyBuffer.data(), read.received);
    if (read.received >= needed && read.received < link.ReplyBuffer.size() &&
        socket.WaitReadable(0) != IoStatus::Done)
      return read;
    if (std::chrono::steady_clock::now() >= deadline) return read;
    const Wait wait = WaitForData(link, socket, polls);
    if (wait == Wait::TimedOut) return read;
    if (wait == Wait::Error) {
      read.failed = true;
      return read;
    }
  }
}

}  // namespace

std::unique_ptr<TcpSocket> ConnectToModule(Link& link, std::string* error) {
  return Connect(link, error);
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
  if (link.LinkBusy) return false;
  link.LinkBusy = true;
  link.RetryTicks = 0;
  link.RetryTickLimit = 40;

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
  }
  if (!socket->WriteAll(link.CommandFrame.data(), length)) {
    LinkError(link, *socket, "write failed");
    return false;
  }

  int polls = 0;
  const Wait wait = WaitForData(link, *socket, polls);
  if (wait == Wait::TimedOut) {
    link.reporter.Log("Wait RX Timeout!");
    socket->Close();
    link.ReplyTimedOut = true;
    link.LinkBusy = false;
    return true;
  }

  const ReplyRead read =
      wait == Wait::Data ? ReadReply(link, *socket, polls) : ReplyRead{.failed = true};
  if (read.failed) {
    LinkError(link, *socket, "connection lost while reading the reply");
    return true;
  }
  socket->Close();
  if (read.dropped > 0)
    link.reporter.Log("Reply longer than " + std::to_string(link.ReplyBuffer.size()) + " bytes, " +
                      std::to_string(read.dropped) + " bytes dropped");

  const std::size_t received = read.received;
  const std::size_t needed = RequiredReplyLength(link.PendingCommand, link.device.ModelCode,
                                                 link.ReplyBuffer.data(), received);
  if (received > 0 && received < needed) {
    link.ReplyTimedOut = false;
    link.ReplyLength = static_cast<std::uint32_t>(received);
    link.reporter.Log("Short reply: " + std::to_string(received) + " of " + std::to_string(needed) +
                      " bytes, not decoded");
  } else if (received > 0) {
    try {
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
  if (link.LinkBusy) return false;
  link.LinkBusy = true;
  link.RetryTicks = 0;
  link.RetryTickLimit = 40;
  link.ReplyTimedOut = false;

  auto socket = OpenLink(link);
  if (!socket) return false;
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
