// Link state shared by the whole program: the module address, the outgoing frame, the reply
// buffer, the pending command, the busy and retry flags and the one-entry queue.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/wire.h"

namespace zvk {

struct LinkState {
  std::string DeviceHost = wire::kDefaultHost;
  std::uint16_t DevicePort = wire::kDefaultPort;
  std::array<std::uint8_t, wire::kCommandFrameSize> CommandFrame{};
  std::array<std::uint8_t, wire::kReplyBufferSize> ReplyBuffer{};
  std::uint32_t ReplyLength = 0;
  std::uint8_t PendingCommand = 0;
  bool LinkBusy = false;
  bool ReplyTimedOut = false;
  std::uint8_t RetryCount = 0;
  std::uint32_t RetryTicks = 0;
  std::uint32_t RetryTickLimit = 40;
  std::uint8_t QueuedCommand = 0;
};

}  // namespace zvk
