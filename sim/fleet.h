// A fleet of simulated modules in one zvk-sim: which module listens where, with which model and
// faults. Module k (from 1) of `--count N` listens on the k-th address from the first `--listen`
// address (127.0.0.1, 127.0.0.2, ...), or on the k-th `--listen` address when several are given;
// all on the same port.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/fault_list.h"
#include "sim/simulator.h"

namespace zvk::sim {

struct FleetRequest {
  std::vector<std::string> listen;  // one address, or one per module
  int count = 0;                    // 0: one module per --listen address
  std::vector<std::string>
      models;          // one model for all, or one per module ("km3", "qn6"); none: qn6
  std::string faults;  // for every module
  std::map<int, std::string> module_faults;  // module number (from 1) -> its own faults
};

struct FleetMember {
  int unit = 1;
  std::string address;
  std::array<std::uint8_t, 4> octets{};
  Model model = Model::Qn6;
  std::string model_name;
  std::vector<FaultRequest> faults;
};

inline constexpr int kMaxFleet = 1024;

// Checks the request and lays the fleet out; throws std::invalid_argument with the reason.
std::vector<FleetMember> PlanFleet(const FleetRequest& request);

}  // namespace zvk::sim
