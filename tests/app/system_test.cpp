// Putting the system together: every window model's reply handlers reach the link's table, and
// the handlers of the administration and calibration commands report as their windows will.
#include "app/system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "link/dispatcher.h"
#include "link/wire.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Logged;
using test::Rig;

TEST(System, RegistersTheReplyHandlerOfEveryCommandWithAReply) {
  Rig rig({.model = std::nullopt});
  const std::set<int> expected{wire::CMD_NONE,
                               wire::CMD_SET_LOCATOR,
                               wire::CMD_GET_DEVICE,
                               wire::CMD_DELETE_FILE,
                               wire::CMD_RESET_CONFIG,
                               wire::CMD_SET_RANGE_CONFIG,
                               wire::CMD_SET_TH_CONFIG,
                               wire::CMD_READ_DATA,
                               wire::CMD_RELOAD_AD_REF,
                               wire::CMD_CALIBRATE_TH_REF,
                               wire::CMD_GET_IMAGE_CHECKSUM};
  std::set<int> registered;
  for (int code = 0; code < 256; ++code)
    if (rig.app->link.reply_handlers[code]) registered.insert(code);
  EXPECT_EQ(registered, expected);
  EXPECT_TRUE(rig.app->link.on_device_search);
}

struct StatusReply {
  const char* name;
  std::uint8_t code;
  const char* status;  // shown on the status line on ACK, or null
  const char* logged;  // logged on ACK, or null
};

void PrintTo(const StatusReply& c, std::ostream* os) {
  *os << c.name;
}

class StatusReplyTest : public ::testing::TestWithParam<StatusReply> {};

void Deliver(App& app, std::uint8_t pending, std::uint8_t status) {
  const std::vector<std::uint8_t> reply{0x5A, 0x35, 0x77, 0xA5, pending, status};
  std::copy(reply.begin(), reply.end(), app.link.ReplyBuffer.begin());
  app.link.PendingCommand = pending;
  app.link.LinkBusy = true;  // replies are decoded inside Transact
  DispatchReply(app.link, static_cast<std::uint32_t>(reply.size()));
  app.link.LinkBusy = false;
}

TEST_P(StatusReplyTest, AcknowledgementClearsThePendingCommandAndReports) {
  const StatusReply& c = GetParam();
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;

  Deliver(app, c.code, wire::NAK);
  EXPECT_EQ(app.link.PendingCommand, c.code);
  EXPECT_EQ(app.Status(), "");
  EXPECT_TRUE(app.log_lines.empty());

  Deliver(app, c.code, wire::ACK);
  EXPECT_EQ(app.link.PendingCommand, 0);
  EXPECT_EQ(app.Status(), c.status ? c.status : "");
  EXPECT_EQ(rig.form().status_bar.panels[0], app.Status());
  if (c.logged) {
    EXPECT_TRUE(Logged(app, c.logged));
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, StatusReplyTest,
                         ::testing::Values(StatusReply{"DeleteFile", wire::CMD_DELETE_FILE,
                                                       "Kill file in Flash Done!", nullptr},
                                           StatusReply{"ResetConfig", wire::CMD_RESET_CONFIG,
                                                       "Flash Config been kill!", nullptr},
                                           StatusReply{"ReloadAdRef", wire::CMD_RELOAD_AD_REF,
                                                       nullptr, "Reload AD REF Cfg Done!!"}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace zvk
