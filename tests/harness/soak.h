// The fault soak: the main window runs its real timer logic in virtual time (Timer1 and Timer3
// every 100 ms, also inside the waits of an exchange, as the event loop runs them) against the
// simulator's module misbehaving at random, while a user now and then asks for the module's
// identity, makes it show where it is and changes a channel setting. Then the faults stop.
//
// It checks throughout that the link is free after every tick, that no reply is decoded from
// bytes that did not arrive, and that nothing goes out but the identity request, the data poll
// and what the user asked for; and, two supervision cycles after the faults stopped, that the
// window shows what a fresh window shows for the same module.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "harness/faulty_module.h"
#include "sim/simulator.h"

namespace zvk::harness {

struct SoakOptions {
  sim::Model model = sim::Model::Qn6;
  long cycles = 2000;  // supervision cycles with faults
  std::uint32_t seed = 1;
  int fault_percent = 30;
};

struct SoakReport {
  sim::Model model = sim::Model::Qn6;
  std::uint32_t seed = 0;
  long cycles = 0;  // supervision cycles run, with faults and after
  long ticks = 0;   // Timer3 ticks
  long exchanges = 0;
  long decoded = 0;  // replies handed to a handler
  long user_actions = 0;
  long virtual_seconds = 0;
  std::array<long, kFaultKinds> injected{};
  std::array<long, kFaultKinds> survived{};
  std::vector<std::string> violations;
  // What the window shows that a fresh window does not, two cycles after the faults stopped.
  std::vector<std::string> mismatches;

  bool ok() const { return violations.empty() && mismatches.empty(); }
};

SoakReport RunSoak(const SoakOptions& options);

// The report as printed: the run, the count of each fault injected and survived, and every
// problem found.
std::string FormatReport(const SoakReport& report);

}  // namespace zvk::harness
