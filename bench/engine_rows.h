// Long runs over a fleet: `zvk --hosts` logging to a file and publishing to a broker for a few
// rounds at the 3.1 s interval, against one zvk-sim serving N modules on consecutive loopback
// addresses. Each row gives the share of one core the zvk process used (its user plus system
// time over its wall time) and its peak resident memory.
#pragma once

#include <filesystem>
#include <vector>

#include "report.h"

namespace zvk::bench {

struct EngineProgramPaths {
  std::filesystem::path zvk;
  std::filesystem::path simulator;  // zvk-sim
};

// A row per fleet size and command; a run that fails or overruns is a row that says so (its goal
// missed), not an exception. Throws only when the fleet itself cannot be started.
std::vector<Row> EngineRows(const EngineProgramPaths& programs, bool quick);

}  // namespace zvk::bench
