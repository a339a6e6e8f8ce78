// A locator or identity request queued while another exchange waits (a Timer3 tick or a click
// runs inside the wait) takes over neither the frame of that exchange nor its reply: the
// exchange sends and decodes its own command, and the queued one goes out at the next tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "link/exchange.h"
#include "link/wire.h"
#include "monitor/measurement.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Logged;
using test::Rig;
using Bytes = std::vector<std::uint8_t>;

const Bytes kIdentityRequest{0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00};
const Bytes kLocate{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00};

struct Case {
  const char* name;
  sim::Model model;
  std::uint8_t queued;
  bool while_waiting_for_the_reply;  // else while connecting
  std::function<void(Rig&)> issue;   // the exchange in flight
  Bytes sent;                        // its frame
  const char* decoded;               // what its reply left in the log, or null
};

TEST(QueuedDuringExchange, TheExchangeKeepsItsCommandAndTheQueuedOneFollows) {
  const Case cases[] = {
      {"range setting, identity queued while connecting",
       sim::Model::Km3,
       wire::CMD_GET_DEVICE,
       false,
       [](Rig& r) { r.form().range[1].UserPick(2); },
       {0x5A, 0x35, 0x77, 0xA5, 0xD6, 0, 0, 2, 0, 0, 0, 0, 0, 0},
       "Set_Range_Cfg Done!!"},
      {"range setting, locator queued while waiting for the reply",
       sim::Model::Km3,
       wire::CMD_SET_LOCATOR,
       true,
       [](Rig& r) { r.form().range[1].UserPick(3); },
       {0x5A, 0x35, 0x77, 0xA5, 0xD6, 0, 0, 3, 0, 0, 0, 0, 0, 0},
       "Set_Range_Cfg Done!!"},
      {"data poll, locator queued while waiting for the reply",
       sim::Model::Qn6,
       wire::CMD_SET_LOCATOR,
       true,
       [](Rig& r) { SendDataPoll(*r.app); },
       {0x5A, 0x35, 0x77, 0xA5, 0xD8},
       "AD0 => "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({.model = c.model});
    App& app = *rig.app;
    rig.Start();
    ASSERT_TRUE(rig.TickUntilIdentified());
    rig.sim->ClearFrames();
    app.log_lines.clear();
    app.discovery.SupervisionTicks = 0;
    std::vector<std::string> statuses;
    app.on_status = [&](const std::string& s) { statuses.push_back(s); };

    QueueCommand(app.link, c.queued);
    bool ticked = false;  // outlives the pump's hook, which is cleared below
    if (c.while_waiting_for_the_reply) {
      rig.sim->InjectFault(sim::Fault::Delay, 1, 0, 100);
      rig.pump.every_call = [&] {
        if (ticked || rig.Frames().empty()) return;
        ticked = true;
        rig.window->Timer3Timer();
      };
    } else {
      rig.pump.Then([&] { rig.window->Timer3Timer(); });
    }
    c.issue(rig);
    rig.pump.every_call = nullptr;

    ASSERT_EQ(rig.Frames(), std::vector<Bytes>{c.sent});
    EXPECT_FALSE(Logged(app, "Recover"));
    EXPECT_TRUE(std::any_of(app.log_lines.begin(), app.log_lines.end(),
                            [&](const std::string& l) { return l.rfind(c.decoded, 0) == 0; }));
    EXPECT_EQ(statuses, std::vector<std::string>{});  // no "Set Locator done!" for another reply
    EXPECT_EQ(app.link.QueuedCommand, c.queued);

    rig.Timer3();
    ASSERT_EQ(rig.Frames().size(), 2u);
    EXPECT_EQ(rig.Frames()[1], c.queued == wire::CMD_GET_DEVICE ? kIdentityRequest : kLocate);
    if (c.queued == wire::CMD_SET_LOCATOR) {
      EXPECT_EQ(statuses, std::vector<std::string>{"Set Locator done!"});
    }
  }
}

}  // namespace
}  // namespace zvk
