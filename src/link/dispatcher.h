// Routes each reply to the handler of the pending command. The handlers belong to the window
// models, which register them when the system is assembled.
#pragma once

#include <cstdint>

#include "link/link.h"

namespace zvk {

// `handler` runs for every reply read while `code` is pending, with LinkBusy still set.
void SetReplyHandler(Link& link, std::uint8_t code, LinkCallback handler);

void DispatchReply(Link& link, std::uint32_t length);

}  // namespace zvk
