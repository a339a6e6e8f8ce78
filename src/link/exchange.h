// Sending frames to the module: Transact (reply read and dispatched), SendOnly, the one-entry
// queue sent by the Timer3 tick, and the retry policy for replies that never came.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link.h"
#include "link/wire.h"

namespace zvk {

inline constexpr int kConnectTimeoutMs = 3000;
inline constexpr int kReplyPolls = 100;
inline constexpr int kReplyPollMs = 10;

// Logged, before "Wait RX Timeout!", when the module ended the connection without a reply byte.
inline constexpr const char* kClosedWithoutReplyLog =
    "Module closed the connection without replying";

// Both return true when the whole frame was written to the module (whatever the reply), false
// when nothing went out: the link was busy, the program is quitting, the connect failed or the
// write failed.
bool Transact(Link& link, std::uint8_t length);
bool SendOnly(Link& link, std::uint8_t length);

// Connects to DeviceHost:DevicePort with the exchange's connect timeout, keeping the event pump
// running; the content stream of a file write opens its second connection with it. Null when the
// connect failed (or was given up because the program is quitting), with the reason in *error.
std::unique_ptr<TcpSocket> ConnectToModule(Link& link, std::string* error = nullptr);

// The identity request exactly as the queue sends it: the signature, CMD_GET_DEVICE and two zero
// bytes.
std::array<std::uint8_t, wire::kLenQueued> IdentityRequestFrame();

// Queues CMD_GET_DEVICE or CMD_SET_LOCATOR for the next Timer3 tick.
void QueueCommand(Link& link, std::uint8_t code);
void QueueStep(Link& link);
void RetryStep(Link& link);
void ReissuePending(Link& link);

// Issuers that re-send their own command on a re-issue (firmware checksum, staged image,
// module reset) register here.
void SetReissuer(Link& link, std::uint8_t code, LinkCallback issuer);

// Runs `action` once the current exchange has released the link: a reply handler that needs a
// follow-up command (the reboot after a verified image) uses it, since LinkBusy refuses the
// command while the handler runs.
void AfterExchange(Link& link, LinkCallback action);

// How many bytes the handler for the pending command reads from this reply, given what has
// arrived so far. A reply is complete at this length, or once its status is not ACK.
std::size_t RequiredReplyLength(std::uint8_t pending, std::uint8_t model_code,
                                const std::uint8_t* reply, std::size_t received);

}  // namespace zvk
