// Whether the module took a command: the reply that the last Transact read and handed to the
// dispatcher is an acknowledgement of `code` only when its signature, its echoed code and its
// status all check. Anything less (no reply, a refusal, a reply to some other command, a reply
// whose signature is wrong, a reply cut short) is not one, and the caller must not report the
// command as done.
#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"

namespace zvk {

bool Acknowledged(const Link& link, std::uint8_t code);

// Why the last exchange is not an acknowledgement of `code`, in words for a message ("the module
// refused it (status 0x15)", "no reply came (Wait RX Timeout!)", ...); empty when it is one.
// Meant for an exchange that went out (Transact returned true).
std::string NotAcknowledgedReason(const Link& link, std::uint8_t code);

}  // namespace zvk
