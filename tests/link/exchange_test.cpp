// The command link end to end against the simulator on loopback: frames, the busy guard, the
// queue, retries and the handling of faulty replies.
#include "link/exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/wire.h"
#include "monitor/measurement.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Logged;
using test::Rig;
using Bytes = std::vector<std::uint8_t>;

TEST(Exchange, QueuedAndDirectFramesAreByteExact) {
  Rig rig;
  QueueCommand(rig.app->link, wire::CMD_SET_LOCATOR);
  rig.Timer3();
  QueueCommand(rig.app->link, wire::CMD_GET_DEVICE);
  rig.Timer3();
  SendDataPoll(*rig.app);
  EXPECT_EQ(rig.Frames(), (std::vector<Bytes>{{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00},
                                              {0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00},
                                              {0x5A, 0x35, 0x77, 0xA5, 0xD8}}));
  EXPECT_EQ(rig.app->Status(), "Get Device");  // the locator's text, then the identity's
  EXPECT_TRUE(rig.app->device.Identified);
  EXPECT_EQ(rig.app->link.PendingCommand, 0);
  EXPECT_FALSE(rig.app->link.LinkBusy);
}

TEST(Exchange, LocatorAcknowledgementShowsDone) {
  Rig rig;
  QueueCommand(rig.app->link, wire::CMD_SET_LOCATOR);
  rig.Timer3();
  EXPECT_EQ(rig.app->Status(), "Set Locator done!");
  EXPECT_EQ(rig.app->link.QueuedCommand, 0);
  EXPECT_EQ(rig.app->discovery.SupervisionTicks, 0);
}

TEST(Exchange, QueuedIdentityClobberingAConnectingPollIsRecovered) {
  Rig rig;
  App& app = *rig.app;
  QueueCommand(app.link, wire::CMD_GET_DEVICE);
  // The Timer3 tick runs while the poll is connecting: it writes the queued command into the
  // frame, its own Transact is refused, and the queue empties.
  rig.pump.Then([&] { rig.window->Timer3Timer(); });
  SendDataPoll(app);
  EXPECT_EQ(rig.Frames(), (std::vector<Bytes>{{0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00}}));
  EXPECT_TRUE(Logged(app, "Recover"));
  EXPECT_EQ(app.link.QueuedCommand, 0);
  EXPECT_TRUE(app.device.Identified);  // the reply went to the identity handler
}

TEST(Exchange, LongerFramesAreNeverRecovered) {
  Rig rig({.model = sim::Model::Km3});
  App& app = *rig.app;
  app.link.PendingCommand = wire::CMD_SET_RANGE_CONFIG;
  app.link.CommandFrame[4] = wire::CMD_GET_DEVICE;
  Transact(app.link, 6);
  ASSERT_EQ(rig.Frames().size(), 1u);
  EXPECT_EQ(rig.Frames()[0].size(), 6u);
  EXPECT_FALSE(Logged(app, "Recover"));
}

TEST(Exchange, SecondTransactDuringAWaitSendsNothing) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::Delay, 1, 0, 150);
  bool busy_inside = false;
  std::uint32_t ticks_inside = 0;
  rig.pump.every_call = [&] {
    if (!app.link.LinkBusy) return;
    app.link.RetryTicks = 7;
    SendDataPoll(app);  // refused: the link is busy
    busy_inside = app.link.LinkBusy;
    ticks_inside = app.link.RetryTicks;
  };
  app.link.PendingCommand = wire::CMD_SET_LOCATOR;
  app.link.CommandFrame[4] = wire::CMD_SET_LOCATOR;
  Transact(app.link, 7);
  EXPECT_EQ(rig.Frames().size(), 1u);
  EXPECT_TRUE(busy_inside);
  EXPECT_EQ(ticks_inside, 7u);  // the refused call did not restart the retry count
  EXPECT_FALSE(app.link.LinkBusy);
}

TEST(Exchange, NoReplyIsReissuedEvery40Timer1TicksThenAborted) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::NoReply, 1);
  QueueCommand(app.link, wire::CMD_GET_DEVICE);
  rig.Timer3();
  ASSERT_TRUE(app.link.ReplyTimedOut);
  EXPECT_TRUE(Logged(app, "Wait RX Timeout!"));
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_GET_DEVICE);

  for (int reissue = 1; reissue <= 3; ++reissue) {
    for (int tick = 1; tick < 40; ++tick) rig.window->Timer1Timer();
    EXPECT_EQ(app.link.QueuedCommand, 0) << "early re-issue " << reissue;
    rig.window->Timer1Timer();
    EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
    EXPECT_EQ(app.Status(), "Retry transfer " + std::to_string(reissue));
    app.link.QueuedCommand = 0;  // not sent: Timer3 does not tick here
  }
  for (int tick = 1; tick <= 40; ++tick) rig.window->Timer1Timer();
  EXPECT_EQ(app.Status(), "Retry timeout, abort transfer!");
  EXPECT_EQ(app.link.QueuedCommand, 0);
  EXPECT_EQ(app.link.PendingCommand, 0);
  EXPECT_FALSE(app.link.ReplyTimedOut);
  EXPECT_EQ(app.link.RetryCount, 0);
}

TEST(Exchange, RetryCountStaysAtOneWhileTimer3Ticks) {
  // No module in the subnet: the supervision tick sends nothing, so only the retry step acts.
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  rig.fake_hosts->adapter_scans = {{}};
  App& app = *rig.app;
  std::vector<std::string> statuses;
  app.on_status = [&](const std::string& s) { statuses.push_back(s); };
  app.link.PendingCommand = wire::CMD_DELETE_FILE;  // no re-issue rule
  app.link.ReplyTimedOut = true;
  rig.Tick(125);
  EXPECT_EQ(statuses,
            (std::vector<std::string>{"Retry transfer 1", "Retry transfer 1", "Retry transfer 1"}));
  EXPECT_EQ(rig.network.connects, 0);
}

TEST(Exchange, ConnectTimeoutIsShownAndClearedByTheNextGoodConnect) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  app.SetStatus("Something else");
  SendDataPoll(app);
  EXPECT_EQ(app.Status(), "Connect Timeout");
  EXPECT_EQ(app.link.PendingCommand, 0);
  EXPECT_FALSE(app.link.LinkBusy);
  EXPECT_FALSE(app.link.ReplyTimedOut);

  sim::Simulator module({.model = sim::Model::Qn6});
  app.link.DevicePort = module.Start();
  app.link.PendingCommand = 48;  // a command without a reply handler
  app.link.CommandFrame[4] = 48;
  Transact(app.link, 6);
  EXPECT_EQ(app.Status(), "");
  EXPECT_EQ(app.link.PendingCommand, 48);

  app.SetStatus("Other text");
  Transact(app.link, 6);
  EXPECT_EQ(app.Status(), "Other text");  // only "Connect Timeout" is cleared
}

TEST(Exchange, WrongSignatureIsReportedAndLeavesThePendingCommand) {
  Rig rig;
  rig.sim->InjectFault(sim::Fault::WrongSignature);
  QueueCommand(rig.app->link, wire::CMD_SET_LOCATOR);
  rig.Timer3();
  EXPECT_EQ(rig.app->Status(), "InValid Header package!");
  EXPECT_EQ(rig.app->link.PendingCommand, wire::CMD_SET_LOCATOR);
  EXPECT_FALSE(rig.app->link.ReplyTimedOut);
}

TEST(Exchange, RefusedLocatorIsQueuedAgainAndSentOnTheNextOrdinaryTick) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::Refuse);
  QueueCommand(app.link, wire::CMD_SET_LOCATOR);
  rig.Timer3();
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_SET_LOCATOR);
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_SET_LOCATOR);
  rig.sim->ClearFrames();
  rig.Timer3();
  EXPECT_EQ(rig.Frames(), (std::vector<Bytes>{{0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00}}));
  EXPECT_EQ(app.Status(), "Set Locator done!");
}

TEST(Exchange, OversizedReplyKeepsTheFirst4096BytesAndIsStillDecoded) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::Oversize, 1, wire::CMD_GET_DEVICE);
  QueueCommand(app.link, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_EQ(app.link.ReplyLength, 4096u);
  EXPECT_TRUE(Logged(app, "Reply longer than 4096 bytes, 1904 bytes dropped"));
  EXPECT_TRUE(app.device.Identified);
  EXPECT_FALSE(app.link.LinkBusy);
}

TEST(Exchange, ShortReplyIsLoggedNotDecodedAndAskedForAgain) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::Truncate, 1, wire::CMD_GET_DEVICE);
  QueueCommand(app.link, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_FALSE(app.device.Identified);
  EXPECT_EQ(rig.form().module_state.caption, "");
  EXPECT_TRUE(Logged(app, "Short reply: 194 of 389 bytes, not decoded"));
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_GET_DEVICE);
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);  // asked again, as after a refusal
  EXPECT_FALSE(app.link.LinkBusy);
}

TEST(Exchange, ReplyArrivingInPartsIsDecodedWhole) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::SplitReply, 1, wire::CMD_GET_DEVICE);
  QueueCommand(app.link, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_TRUE(app.device.Identified);
  EXPECT_EQ(app.link.ReplyLength, 389u);
}

TEST(Exchange, ConnectionResetWhileReadingReleasesTheLink) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::Reset, 1);
  SendDataPoll(app);
  EXPECT_FALSE(app.link.LinkBusy);
  EXPECT_EQ(app.Status().rfind("Link error, ", 0), 0u) << app.Status();
  EXPECT_EQ(app.link.ReplyLength, 0u);  // nothing dispatched
  // The link works again for the next command.
  QueueCommand(app.link, wire::CMD_SET_LOCATOR);
  rig.Timer3();
  EXPECT_EQ(app.Status(), "Set Locator done!");
}

TEST(Exchange, FollowUpFromAReplyHandlerGoesOutAfterTheLinkIsReleased) {
  Rig rig;
  App& app = *rig.app;
  std::size_t frames_inside = 0;
  auto send_reset = [&app] {
    app.link.CommandFrame[4] = wire::CMD_RESET_MODULE;
    SendOnly(app.link, 5);
  };
  app.on_status = [&](const std::string& s) {
    if (s != "Set Locator done!") return;
    send_reset();  // refused: the handler runs with the link busy
    frames_inside = rig.sim->Frames().size();
    AfterExchange(app.link, send_reset);
  };
  QueueCommand(app.link, wire::CMD_SET_LOCATOR);
  rig.Timer3();
  EXPECT_EQ(frames_inside, 1u);
  ASSERT_TRUE(rig.sim->WaitForFrames(2, std::chrono::seconds(2)));
  EXPECT_EQ(rig.Frames()[1], (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x2D}));
}

TEST(Exchange, ReissueGoesThroughTheRegisteredIssuerOnly) {
  Rig rig;
  App& app = *rig.app;
  app.link.PendingCommand = wire::CMD_RESET_MODULE;
  app.link.reissuers[wire::CMD_RESET_MODULE] = nullptr;  // the one the assembly registered
  ReissuePending(app.link);                              // no issuer registered: nothing is sent
  EXPECT_EQ(rig.network.connects, 0);
  SetReissuer(app.link, wire::CMD_RESET_MODULE, [&app] {
    app.link.CommandFrame[4] = wire::CMD_RESET_MODULE;
    SendOnly(app.link, 5);
  });
  ReissuePending(app.link);
  ASSERT_TRUE(rig.sim->WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(rig.Frames()[0], (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x2D}));
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_RESET_MODULE);
}

TEST(Exchange, RequiredReplyLengthFollowsTheHandlerLayout) {
  std::uint8_t reply[8] = {0x5A, 0x35, 0x77, 0xA5, 0x21, wire::ACK, wire::kModelKm3, 0};
  EXPECT_EQ(RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply, 7), 390u);
  reply[6] = wire::kModelQn6;
  EXPECT_EQ(RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply, 7), 389u);
  reply[6] = 0;
  EXPECT_EQ(RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply, 7), 7u);
  EXPECT_EQ(RequiredReplyLength(wire::CMD_READ_DATA, wire::kModelKm3, reply, 6), 204u);
  EXPECT_EQ(RequiredReplyLength(wire::CMD_READ_DATA, 0, reply, 6), 198u);
  EXPECT_EQ(RequiredReplyLength(wire::CMD_SET_LOCATOR, 0, reply, 6), 6u);
  reply[5] = wire::NAK;
  EXPECT_EQ(RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply, 6), 6u);
  reply[3] = 0xA4;
  EXPECT_EQ(RequiredReplyLength(wire::CMD_GET_DEVICE, 0, reply, 4), 4u);
}

}  // namespace
}  // namespace zvk
