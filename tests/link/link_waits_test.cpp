// The link's waits and a misbehaving module, in the virtual time of a scripted network: how long
// the connect and the reply may take, replies that trickle, break off, end early or never come,
// and quitting while the link waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "admin/remote_files.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "monitor/measurement.h"
#include "state/app.h"
#include "support/rig.h"
#include "support/scripted_network.h"
#include "support/test_seams.h"

namespace zvk {
namespace {

using test::CloseAt;
using test::Logged;
using test::PeerScript;
using test::ResetAt;
using test::Rig;
using test::ScriptedNetwork;
using test::SendAt;
using Bytes = std::vector<std::uint8_t>;

Bytes Reply(std::uint8_t code, std::uint8_t status = wire::ACK, std::size_t size = 6) {
  Bytes r(size, 0);
  r[0] = 0x5A, r[1] = 0x35, r[2] = 0x77, r[3] = 0xA5, r[4] = code, r[5] = status;
  return r;
}
const Bytes kLocatorAck = Reply(0x1D);
// A data block as a module of no known model sends it: the thermistor layout, 198 bytes.
const Bytes kDataBlock = Reply(0xD8, wire::ACK, 198);

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

struct Scripted : ::testing::Test {
  Scripted() : rig({.model = std::nullopt, .network = &net}), app(*rig.app) {}

  void Locate() {
    QueueCommand(app.link, wire::CMD_SET_LOCATOR);
    rig.Timer3();
  }
  bool Decoded() const { return app.link.PendingCommand == 0 && !app.link.LinkBusy; }

  ScriptedNetwork net;
  Rig rig;
  App& app;
};

TEST_F(Scripted, ConnectGivesUpAfter3000ms) {
  struct Case {
    int connect_ms;
    bool connected;
  };
  for (Case c : {Case{0, true}, Case{2990, true}, Case{3000, true}, Case{3001, false},
                 Case{PeerScript::kNever, false}}) {
    SCOPED_TRACE(c.connect_ms);
    net.now_ms = 0;
    net.connect_waits.clear();
    net.scripts = {{c.connect_ms, {SendAt(0, kLocatorAck)}}};
    app.SetStatus("");
    Locate();
    EXPECT_EQ(app.Status(), c.connected ? "Set Locator done!" : "Connect Timeout");
    if (!c.connected) {
      EXPECT_EQ(net.now_ms, 3000);
    }
    EXPECT_EQ(net.connect_waits, std::vector<int>(net.connect_waits.size(), 10));
    EXPECT_FALSE(app.link.LinkBusy);
  }
}

TEST_F(Scripted, ReplyWaitIs100PollsOf10ms) {
  struct Case {
    int reply_ms;
    bool answered;
  };
  for (Case c : {Case{0, true}, Case{990, true}, Case{1001, false}}) {
    SCOPED_TRACE(c.reply_ms);
    net.now_ms = 0;
    net.read_waits.clear();
    app.log_lines.clear();
    app.SetStatus("");
    app.link.ReplyTimedOut = false;
    net.scripts = {{0, {SendAt(c.reply_ms, kLocatorAck)}}};
    Locate();
    EXPECT_EQ(app.Status() == "Set Locator done!", c.answered);
    EXPECT_EQ(Logged(app, "Wait RX Timeout!"), !c.answered);
    EXPECT_EQ(app.link.ReplyTimedOut, !c.answered);
    if (!c.answered) {
      EXPECT_EQ(net.now_ms, 1000);
      EXPECT_EQ(net.read_waits, std::vector<int>(100, 10));
      EXPECT_EQ(app.link.PendingCommand, wire::CMD_SET_LOCATOR);  // kept for the retry step
    }
  }
}

// A front end without windows: its pump runs nothing, so the reply wait blocks in its polls
// without a look ahead of each, and still takes a reply that is there at once or comes late,
// and still ends after 100 polls of 10 ms.
TEST(ReplyWaitWithoutEvents, BlocksInItsPollsAndStillEndsAfter100) {
  struct Case {
    int reply_ms;
    bool answered;
  };
  for (Case c : {Case{0, true}, Case{990, true}, Case{1001, false}}) {
    SCOPED_TRACE(c.reply_ms);
    ScriptedNetwork net;
    NullPump pump;
    test::RecordingSleeper sleeper;
    SkipWifiCheckInterfaces hosts;
    test::RecordingDialogs dialogs;
    App app(Seams{net, pump, sleeper, hosts, dialogs});
    app.link.DeviceHost = "127.0.0.1";
    net.scripts = {{0, {SendAt(c.reply_ms, kLocatorAck)}}};
    QueueCommand(app.link, wire::CMD_SET_LOCATOR);
    QueueStep(app.link);
    EXPECT_EQ(net.read_looks, 0);
    EXPECT_EQ(app.link.ReplyDispatched, c.answered);
    EXPECT_EQ(app.link.ReplyTimedOut, !c.answered);
    if (!c.answered) {
      EXPECT_EQ(net.now_ms, 1000);
      EXPECT_EQ(net.read_waits, std::vector<int>(100, 10));
    }
    EXPECT_FALSE(app.link.LinkBusy);
  }
}

TEST_F(Scripted, RestOfAReplyHasAReplyWaitOfItsOwn) {
  struct Case {
    int first_ms, rest_ms;
    bool decoded;
  };
  for (Case c :
       {Case{0, 999, true}, Case{900, 1100, true}, Case{900, 1890, true}, Case{900, 1950, false}}) {
    SCOPED_TRACE(std::to_string(c.first_ms) + " then " + std::to_string(c.rest_ms));
    app.log_lines.clear();
    net.scripts = {{0,
                    {SendAt(c.first_ms, Slice(kDataBlock, 0, 6)),
                     SendAt(c.rest_ms, Slice(kDataBlock, 6, 198))}}};
    SendDataPoll(app);
    EXPECT_EQ(Decoded(), c.decoded);
    EXPECT_EQ(Logged(app, "Short reply: 6 of 198 bytes, not decoded"), !c.decoded);
    EXPECT_FALSE(app.link.ReplyTimedOut);
  }
}

TEST_F(Scripted, ConnectionEndingWithoutAReplyIsAMissingReplyRetriedLikeSilence) {
  for (auto end : {CloseAt(50), ResetAt(50)}) {
    for (std::uint8_t code : {wire::CMD_SET_LOCATOR, wire::CMD_GET_DEVICE}) {
      SCOPED_TRACE(std::string(end.kind == test::PeerStep::Kind::Close ? "closed" : "reset") +
                   " on " + std::to_string(code));
      app.log_lines.clear();
      app.SetStatus("");
      net.now_ms = 0;
      net.scripts = {{0, {end}}};
      QueueCommand(app.link, code);
      rig.Timer3();
      EXPECT_EQ(app.log_lines,
                (std::vector<std::string>{kClosedWithoutReplyLog, "Wait RX Timeout!"}));
      EXPECT_TRUE(app.link.ReplyTimedOut);
      EXPECT_EQ(app.link.PendingCommand, code);
      EXPECT_EQ(app.Status(), "");  // no link error
      EXPECT_EQ(net.now_ms, 50);    // the rest of the wait is not sat out

      // The retry step queues it again, 40 Timer1 ticks later, as after silence.
      for (int tick = 0; tick < 40; ++tick) rig.window->Timer1Timer();
      EXPECT_EQ(app.link.QueuedCommand, code);
      EXPECT_EQ(app.Status(), "Retry transfer 1");
      app.link.QueuedCommand = 0;
      app.link.ReplyTimedOut = false;
    }
  }
}

TEST_F(Scripted, CompleteReplyIsDecodedWhateverBecomesOfTheConnectionAfterIt) {
  const Bytes identity_refused = Reply(0x21, wire::NAK);
  const std::string lost =
      "Link error, connection lost while reading the reply: Connection reset by peer";
  struct Case {
    const char* name;
    std::uint8_t code;
    std::vector<test::PeerStep> steps;
    std::string status;
    std::uint8_t pending, queued;
  };
  const Case cases[] = {
      {"locator acknowledged, then reset",
       29,
       {SendAt(10, kLocatorAck), ResetAt(10)},
       "Set Locator done!",
       0,
       0},
      {"locator acknowledged, reset later",
       29,
       {SendAt(10, kLocatorAck), ResetAt(30)},
       "Set Locator done!",
       0,
       0},
      {"data block, then reset", 216, {SendAt(10, kDataBlock), ResetAt(10)}, "", 0, 0},
      {"refusal, then reset", 33, {SendAt(10, identity_refused), ResetAt(10)}, "", 33, 33},
      {"half a data block, then reset",
       216,
       {SendAt(10, Slice(kDataBlock, 0, 99)), ResetAt(20)},
       lost,
       216,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app.SetStatus("");
    app.link.QueuedCommand = 0;
    net.scripts = {{0, c.steps}};
    if (c.code == wire::CMD_READ_DATA) {
      SendDataPoll(app);
    } else {
      QueueCommand(app.link, c.code);
      rig.Timer3();
    }
    EXPECT_FALSE(app.link.LinkBusy);
    EXPECT_EQ(app.Status(), c.status);
    EXPECT_EQ(app.link.PendingCommand, c.pending);
    EXPECT_EQ(app.link.QueuedCommand, c.queued);
  }
}

TEST_F(Scripted, RepliesTooShortToDecode) {
  struct Case {
    const char* name;
    std::uint8_t code;
    Bytes reply;
    std::string status;
    std::string log;  // empty: none expected
    std::uint8_t queued;
  };
  Bytes identity_start = Slice(Reply(0x21, wire::ACK, 389), 0, 100);
  identity_start[6] = 0xB7;  // the thermistor module's record is 389 bytes long
  const Case cases[] = {
      {"3 bytes to the locator", 29, {0x5A, 0x35, 0x77}, "InValid Header package!", "", 0},
      {"3 bytes to the data poll", 216, {0x5A, 0x35, 0x77}, "InValid Header package!", "", 0},
      {"1 byte to the identity", 33, {0x5A}, "InValid Header package!", "", 0},
      {"no status to the locator", 29, Slice(kLocatorAck, 0, 5), "",
       "Short reply: 5 of 6 bytes, not decoded", 29},
      {"part of the identity record", 33, identity_start, "",
       "Short reply: 100 of 389 bytes, not decoded", 33},
      {"no status to the data poll", 216, Slice(kDataBlock, 0, 5), "",
       "Short reply: 5 of 6 bytes, not decoded", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app.SetStatus("");
    app.log_lines.clear();
    app.link.QueuedCommand = 0;
    net.scripts = {{0, {SendAt(5, c.reply), CloseAt(5)}}};
    if (c.code == wire::CMD_READ_DATA) {
      SendDataPoll(app);
    } else {
      QueueCommand(app.link, c.code);
      rig.Timer3();
    }
    EXPECT_EQ(app.Status(), c.status);
    if (!c.log.empty()) {
      EXPECT_TRUE(Logged(app, c.log)) << c.log;
    }
    EXPECT_EQ(app.link.QueuedCommand, c.queued);
    EXPECT_EQ(app.link.PendingCommand, c.code);  // nothing was decoded
    EXPECT_FALSE(app.link.ReplyTimedOut);
  }
}

TEST_F(Scripted, FindMeAnsweredTooShortIsSentAgainOnTheNextTick) {
  net.scripts = {{0, {SendAt(5, Slice(kLocatorAck, 0, 5)), CloseAt(5)}},
                 {0, {SendAt(5, kLocatorAck)}}};
  rig.form().find_me_button.UserClick();
  rig.Timer3();
  EXPECT_NE(app.Status(), "Set Locator done!");
  rig.Timer3();
  EXPECT_EQ(net.frames, (std::vector<Bytes>(2, {0x5A, 0x35, 0x77, 0xA5, 0x1D, 0x00, 0x00})));
  EXPECT_EQ(app.Status(), "Set Locator done!");
}

TEST_F(Scripted, QuittingEndsAWaitPromptlyAndSendsNothingMore) {
  struct Case {
    const char* name;
    PeerScript script;
    long ends_by_ms;
  };
  const Case cases[] = {
      {"connecting", {PeerScript::kNever, {}}, 100},
      {"waiting for the reply", {0, {SendAt(900, kLocatorAck)}}, 100},
      {"waiting for the rest of the reply", {0, {SendAt(0, Slice(kLocatorAck, 0, 3))}}, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig quitting({.model = std::nullopt, .network = &net});
    App& a = *quitting.app;
    net.now_ms = 0;
    net.scripts = {c.script};
    int passes = 0;
    quitting.pump.every_call = [&] {
      if (++passes == 5) quitting.pump.quit = true;
    };
    QueueCommand(a.link, wire::CMD_SET_LOCATOR);
    quitting.Timer3();
    EXPECT_LT(net.now_ms, c.ends_by_ms);
    EXPECT_FALSE(a.link.LinkBusy);
    EXPECT_EQ(a.Status(), "");  // neither "Connect Timeout" nor a link error
    EXPECT_TRUE(a.log_lines.empty());
    EXPECT_FALSE(a.link.ReplyTimedOut);

    const int connects = net.connects;
    SendDataPoll(a);
    a.link.CommandFrame[4] = wire::CMD_RESET_MODULE;
    SendOnly(a.link, 5);
    EXPECT_EQ(net.connects, connects);
  }
}

// A content counts as delivered only when the module closes its side after the whole content,
// within the bound after the sending side was closed; the close is timed from the last piece.
TEST_F(Scripted, ContentIsDeliveredOnlyByTheModulesOrderlyClose) {
  struct Case {
    const char* what;
    std::vector<test::PeerStep> after_content;
    const char* failure;  // empty: delivered
  };
  const std::string bound = std::to_string(kDeliveryWaitMs / 1000) + " s";
  const Case cases[] = {
      {"closes at once", {CloseAt(1)}, ""},
      {"chatters, then closes", {SendAt(1, {0x21}), CloseAt(5)}, ""},
      {"closes just within the bound", {CloseAt(kDeliveryWaitMs - 10)}, ""},
      {"resets", {ResetAt(3)}, "the module ended the connection abnormally"},
      {"never closes", {}, "the module did not close the connection within "},
      {"closes too late",
       {CloseAt(kDeliveryWaitMs + 50)},
       "the module did not close the connection within "},
  };
  EXPECT_EQ(App(rig.app->seams).delivery_wait_ms, kDeliveryWaitMs);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    net.scripts.push_back({0, {SendAt(1, Reply(wire::CMD_WRITE_FILE)), CloseAt(2)}});
    net.scripts.push_back({0, c.after_content});
    const int shutdowns = net.shutdowns;
    const long start = net.now_ms;
    app.transfer.data()[0] = 'x';
    std::string error;
    try {
      WriteRemoteFile(app, "/local/locate.cfg", 1);
    } catch (const DeliveryNotConfirmed& e) {
      error = e.what();
    }
    EXPECT_EQ(net.shutdowns, shutdowns + 1);
    EXPECT_FALSE(app.link.LinkBusy);
    if (*c.failure == 0) {
      EXPECT_EQ(error, "");
      continue;
    }
    EXPECT_EQ(error.rfind("File /local/locate.cfg: Data connection to ", 0), 0u) << error;
    EXPECT_NE(error.find(": 1 bytes sent, delivery not confirmed ("), std::string::npos) << error;
    EXPECT_NE(error.find(c.failure), std::string::npos) << error;
    if (std::string(c.failure).find("within") != std::string::npos) {
      EXPECT_NE(error.find(bound), std::string::npos) << error;
      // The wait ends at its bound, not before and not long after.
      EXPECT_GE(net.now_ms - start, kDeliveryWaitMs);
      EXPECT_LE(net.now_ms - start, kDeliveryWaitMs + 100);
    }
  }
}

}  // namespace
}  // namespace zvk
