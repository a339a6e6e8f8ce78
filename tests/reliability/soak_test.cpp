// The fault soak, shorter than scripts/soak runs it: both models, a few seeds, every kind of
// fault injected and survived, nothing sent unasked, and the readings right once the faults stop.
#include "harness/soak.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace zvk::harness {
namespace {

TEST(Soak, BothModelsSurviveEveryKindOfFaultAndShowTheModuleAfterwards) {
  for (sim::Model model : {sim::Model::Km3, sim::Model::Qn6}) {
    for (std::uint32_t seed : {11u, 12u}) {
      const SoakReport report = RunSoak({.model = model, .cycles = 2000, .seed = seed});
      const std::string text = FormatReport(report);
      std::fputs(text.c_str(), stdout);
      EXPECT_TRUE(report.ok()) << text;
      EXPECT_GE(report.cycles, 2002);
      for (int k = 0; k < kFaultKinds; ++k)
        EXPECT_GT(report.injected[k], 0) << FaultName(static_cast<Fault>(k)) << "\n" << text;
    }
  }
}

}  // namespace
}  // namespace zvk::harness
