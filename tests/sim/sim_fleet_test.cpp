#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/identity_record.h"
#include "sim/fleet.h"
#include "sim/module.h"
#include "sim/simulator.h"

namespace zvk::sim {
namespace {

TEST(SimFleet, LaysModulesOutOnConsecutiveAddressesOrTheGivenOnes) {
  FleetRequest consecutive;
  consecutive.listen = {"127.0.0.254"};
  consecutive.count = 3;
  consecutive.models = {"qn6,km3,qn6"};
  consecutive.faults = "refuse@216:1";
  consecutive.module_faults = {{2, "noreply@33:5"}};
  const auto fleet = PlanFleet(consecutive);
  ASSERT_EQ(fleet.size(), 3u);
  EXPECT_EQ(fleet[0].address, "127.0.0.254");
  EXPECT_EQ(fleet[1].address, "127.0.0.255");
  EXPECT_EQ(fleet[2].address, "127.0.1.0");
  EXPECT_EQ(fleet[1].model, Model::Km3);
  EXPECT_EQ(fleet[2].unit, 3);
  EXPECT_EQ(fleet[0].faults.size(), 1u);
  ASSERT_EQ(fleet[1].faults.size(), 2u);  // every module's, then its own
  EXPECT_EQ(fleet[1].faults[1].fault, Fault::NoReply);
  EXPECT_EQ(fleet[1].faults[1].only_code, 33);

  FleetRequest listed;
  listed.listen = {"127.0.0.9", "127.0.0.3"};
  listed.models = {"km3"};
  const auto two = PlanFleet(listed);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].address, "127.0.0.3");
  EXPECT_EQ(two[1].model, Model::Km3);

  FleetRequest lone;  // zvk-sim as it always was: one module on 127.0.0.1
  lone.models = {"qn6"};
  const auto one = PlanFleet(lone);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].address, "127.0.0.1");
  EXPECT_EQ(one[0].unit, 1);

  FleetRequest unnamed;  // no --model: thermistor modules
  unnamed.count = 2;
  const auto defaulted = PlanFleet(unnamed);
  ASSERT_EQ(defaulted.size(), 2u);
  EXPECT_EQ(defaulted[1].model, Model::Qn6);
  EXPECT_EQ(defaulted[1].model_name, "qn6");
}

TEST(SimFleet, RefusesRequestsThatDoNotAddUp) {
  struct Case {
    const char* what;
    FleetRequest request;
  };
  const Case cases[] = {
      {"models for another count", {{"127.0.0.1"}, 3, {"qn6,km3"}, "", {}}},
      {"unknown model", {{"127.0.0.1"}, 2, {"qn6,xx9"}, "", {}}},
      {"addresses for another count", {{"127.0.0.1", "127.0.0.2"}, 3, {"qn6"}, "", {}}},
      {"count too large", {{"127.0.0.1"}, kMaxFleet + 1, {"qn6"}, "", {}}},
      {"past the last address", {{"255.255.255.255"}, 2, {"qn6"}, "", {}}},
      {"not an address", {{"localhost"}, 1, {"qn6"}, "", {}}},
      {"faults of a module not there", {{"127.0.0.1"}, 2, {"qn6"}, "", {{3, "refuse"}}}},
      {"bad faults", {{"127.0.0.1"}, 2, {"qn6"}, "", {{1, "sulk"}}}},
  };
  for (const Case& c : cases) EXPECT_THROW(PlanFleet(c.request), std::invalid_argument) << c.what;
}

// Each module of a fleet tells itself apart, also after a reset to defaults; module 1 is the lone
// module of old.
TEST(SimFleet, EachUnitHasItsOwnNameLocationAndMac) {
  struct Case {
    int unit;
    Model model;
    const char* name;
    const char* location;
    const char* mac;
  };
  const Case cases[] = {
      {1, Model::Qn6, "zVK-Analog-0001", "Lab bench 1", "02:5A:51:36:00:01"},
      {2, Model::Qn6, "zVK-Analog-0002", "Lab bench 2", "02:5A:51:36:00:02"},
      {300, Model::Km3, "zVK-Analog-0300", "Lab bench 300", "02:5A:4B:33:01:2C"},
  };
  const std::vector<std::uint8_t> reset{0x5A, 0x35, 0x77, 0xA5, wire::CMD_RESET_CONFIG};
  for (const Case& c : cases) {
    Module module(c.model, {}, c.unit);
    module.config.ap_ssid = "renamed";
    module.config.location = "moved";
    module.Handle(reset, 0);  // back to the factory's settings
    for (int pass = 0; pass < 2; ++pass) {
      const IdentityRecord rec = ReadIdentityRecord(module.IdentityRecord(0).data());
      EXPECT_EQ(rec.ap_ssid, c.name) << c.unit;
      EXPECT_EQ(rec.location, c.location) << c.unit;
      EXPECT_EQ(rec.mac, c.mac) << c.unit;
      module.Boot();  // and a restart keeps them
    }
  }
}

}  // namespace
}  // namespace zvk::sim
