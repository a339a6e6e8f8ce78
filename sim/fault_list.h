// Faults named on the command line: "noreply:2,refuse:1,delay:1:1500", and for the replies to
// one command only "refuse@37", "noreply@216:2".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace zvk::sim {

struct FaultRequest {
  Fault fault = Fault::NoReply;
  int count = 1;
  std::uint8_t only_code = 0;
  int delay_ms = 0;             // delay, slowclose
  std::size_t after_bytes = 0;  // resetafter, closeafter
};

// Longer than the utility's reply wait of about one second, so a delayed reply comes too late.
inline constexpr int kDefaultFaultDelayMs = 2000;

// Parses a comma list of name[@code][:count[:amount]] (code: the decimal command code whose
// replies get the fault); throws std::invalid_argument with the reason. The amount is the pause
// in ms of "delay" and "slowclose" and the bytes read first of "resetafter" and "closeafter";
// no other fault takes one. The faults of content connections and of restarts take no code.
std::vector<FaultRequest> ParseFaultList(const std::string& list);

// "noreply", "wrongsignature", "refuse", "truncate", "oversize", "reset", "delay", "splitreply",
// "wrongsum", "otherreply"; for content connections "noread", "resetafter", "chatter",
// "closeafter", "slowclose"; for restarts "noreturn", "oldfirmware".
const char* FaultName(Fault fault);

}  // namespace zvk::sim
