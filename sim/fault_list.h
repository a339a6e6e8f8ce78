// Faults named on the command line: "noreply:2,refuse:1,delay:1:1500", and for the replies to
// one command only "refuse@37", "noreply@216:2".
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

// Parses a comma list of name[@code][:count[:delay_ms]] (code: the decimal command code whose
// replies get the fault); throws std::invalid_argument with the reason. delay_ms is accepted for
// "delay" only.
std::vector<FaultRequest> ParseFaultList(const std::string& list);

// "noreply", "wrongsignature", "refuse", "truncate", "oversize", "reset", "delay", "splitreply",
// "wrongsum".
const char* FaultName(Fault fault);

}  // namespace zvk::sim
