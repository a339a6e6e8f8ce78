// Faults named on the command line: "noreply:2,refuse:1,delay:1:1500".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace zvk::sim {

struct FaultRequest {
  Fault fault = Fault::NoReply;
  int count = 1;
  std::uint8_t only_code = 0;
  int delay_ms = 0;
};

// Longer than the utility's reply wait of about one second, so a delayed reply comes too late.
inline constexpr int kDefaultFaultDelayMs = 2000;

// Parses a comma list of name[:count[:delay_ms]]; throws std::invalid_argument with the reason.
// delay_ms is accepted for "delay" only.
std::vector<FaultRequest> ParseFaultList(const std::string& list);

// "noreply", "wrongsignature", "refuse", "truncate", "oversize", "reset", "delay", "splitreply".
const char* FaultName(Fault fault);

}  // namespace zvk::sim
