// zvk_soak: the long fault soak (scripts/soak). Runs both models for the given number of
// supervision cycles with faults, prints what was injected and survived, and exits 1 on any
// problem.
//
// Usage: zvk_soak [CYCLES] [SEED]   (defaults: 2000 cycles, seed 1)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness/soak.h"

int main(int argc, char** argv) {
  using namespace zvk::harness;
  long cycles = 2000;
  unsigned long seed = 1;
  try {
    if (argc > 1) cycles = std::stol(argv[1]);
    if (argc > 2) seed = std::stoul(argv[2]);
  } catch (const std::exception&) {
    cycles = 0;
  }
  if (argc > 3 || cycles < 1) {
    std::fprintf(stderr, "usage: zvk_soak [CYCLES] [SEED]\n");
    return 2;
  }
  bool ok = true;
  for (zvk::sim::Model model : {zvk::sim::Model::Km3, zvk::sim::Model::Qn6}) {
    const SoakReport report =
        RunSoak({.model = model, .cycles = cycles, .seed = static_cast<std::uint32_t>(seed)});
    std::fputs(FormatReport(report).c_str(), stdout);
    std::fflush(stdout);
    ok = ok && report.ok();
  }
  return ok ? 0 : 1;
}
