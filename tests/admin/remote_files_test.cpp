// Files on the module end to end against the simulator: the announce and delete frames, the
// content stream with its gauge, and what happens when a connection is missing or breaks.
#include "admin/remote_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "link/acknowledgement.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "state/app.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Rig;
using Bytes = std::vector<std::uint8_t>;

// Puts `content` at the start of the transfer buffer, writes it as `name` and waits until the
// simulator has taken the content in.
void Write(Rig& rig, const std::string& name, const Bytes& content) {
  const std::size_t streams = rig.sim ? rig.sim->Streams().size() : 0;
  std::copy(content.begin(), content.end(), rig.app->transfer.data());
  WriteRemoteFile(*rig.app, name, content.size());
  if (rig.sim) {
    EXPECT_TRUE(rig.sim->WaitForStreams(streams + 1, std::chrono::seconds(5)));
  }
}

Bytes Pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

TEST(RemoteFiles, AnnounceCarriesLengthChecksumAndName) {
  Rig rig;
  App& app = *rig.app;
  std::vector<std::string> statuses;
  app.on_status = [&](const std::string& text) { statuses.push_back(text); };
  // What an earlier, longer command left in the frame must not go out with the announce.
  std::fill(app.link.CommandFrame.begin(), app.link.CommandFrame.end(), 0xEE);
  Write(rig, "/local/locate.cfg", {'a', 'b', 'c'});

  ASSERT_EQ(rig.Frames().size(), 1u);
  const Bytes announce = rig.Frames()[0];
  ASSERT_EQ(announce.size(), 60u);
  EXPECT_EQ(Bytes(announce.begin(), announce.begin() + 5), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x5F}));
  EXPECT_EQ(Bytes(announce.begin() + 5, announce.begin() + 16),
            (Bytes{0, 0, 0, 3, 0, 0, 0x01, 0x26, 0, 0, 0}));
  EXPECT_EQ(announce[16], 17);
  EXPECT_EQ(std::string(announce.begin() + 17, announce.begin() + 34), "/local/locate.cfg");
  EXPECT_TRUE(std::all_of(announce.begin() + 34, announce.end(), [](auto b) { return b == 0; }));

  EXPECT_EQ(rig.sim->File("/local/locate.cfg"), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(statuses,
            (std::vector<std::string>{"Send FileName: /local/locate.cfg", "Transfer Length => 3"}));
  EXPECT_EQ(rig.sleeper.sleeps, (std::vector<int>{1500}));
  EXPECT_EQ(app.link.PendingCommand, 0);
  EXPECT_FALSE(app.link.ReplyTimedOut);
  EXPECT_FALSE(app.link.LinkBusy);
}

TEST(RemoteFiles, ContentGoesOutInPiecesWithTheGauge) {
  struct Case {
    std::size_t n;
    std::vector<std::size_t> pieces;
    int gauge_max;
    std::vector<int> positions;  // after each piece
  };
  const Case cases[] = {
      {0, {}, 0, {}},
      {1000, {1000}, 1000, {1000}},
      {1024, {1024}, 0, {0}},
      {2500, {1024, 1024, 452}, 1476, {1024, 1476, 1476}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    Rig rig;
    App& app = *rig.app;
    app.gauge.SetProgress(50);
    std::vector<int> positions;
    // The data connection is the second; each write after its first sees the previous piece's
    // position, and the last one is read at the end.
    rig.network.allow_write = [&](int connect, int write) {
      if (connect == 2 && write > 1) positions.push_back(app.gauge.progress);
      return true;
    };
    const Bytes content = Pattern(c.n);
    Write(rig, "/sys/some.bin", content);
    if (c.n > 0) positions.push_back(app.gauge.progress);

    ASSERT_EQ(rig.network.writes.size(), 2u);
    EXPECT_EQ(rig.network.writes[1], c.pieces);
    EXPECT_EQ(app.gauge.max, c.gauge_max);
    EXPECT_EQ(positions, c.positions);
    EXPECT_EQ(app.gauge.progress, c.positions.empty() ? 0 : c.positions.back());
    EXPECT_EQ(app.gauge.fore_color, kRed);
    EXPECT_EQ(rig.sim->Streams(), std::vector<Bytes>{content});
    EXPECT_EQ(rig.sim->File("/sys/some.bin"), content);
  }
}

TEST(RemoteFiles, MainWindowIsRepaintedEvery65536Bytes) {
  Rig rig;
  App& app = *rig.app;
  std::vector<int> repainted_at;
  app.repaint_main_window = [&] { repainted_at.push_back(app.gauge.progress); };
  const Bytes content = Pattern(200000);
  Write(rig, "/local/big.bin", content);
  EXPECT_EQ(repainted_at, (std::vector<int>{1024, 66560, 132096, 197632}));
  EXPECT_EQ(rig.sim->File("/local/big.bin"), content);
}

TEST(RemoteFiles, DeleteKeepsWhatTheWriteLeftInTheFrame) {
  Rig rig;
  App& app = *rig.app;
  Write(rig, "/local/locate.cfg", {'a', 'b', 'c'});
  DeleteRemoteFile(app, "/local/ap_key.cfg");

  ASSERT_EQ(rig.Frames().size(), 2u);
  const Bytes del = rig.Frames()[1];
  ASSERT_EQ(del.size(), 40u);
  EXPECT_EQ(Bytes(del.begin(), del.begin() + 17),
            (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x5D, 0, 0, 0, 3, 0, 0, 0x01, 0x26, 0, 0, 0, 17}));
  EXPECT_EQ(std::string(del.begin() + 17, del.begin() + 34), "/local/ap_key.cfg");
  // Past the shorter name: the tail of the write's longer one... here both are 17 long, so the
  // frame's zeros after the name are the write's fill.
  EXPECT_TRUE(std::all_of(del.begin() + 34, del.end(), [](auto b) { return b == 0; }));
  EXPECT_EQ(app.Status(), "Kill file in Flash Done!");
  EXPECT_EQ(app.link.PendingCommand, 0);
}

TEST(RemoteFiles, DeleteRemovesTheFileAndLeavesLongerNameBytes) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->PutFile("/local/sta_ip.cfg", Bytes(12, 1));
  Write(rig, "/local/sta_keyT.cfg", {2});
  DeleteRemoteFile(app, "/local/sta_ip.cfg");
  const Bytes del = rig.LastFrame();
  EXPECT_EQ(del[16], 17);
  // "/local/sta_keyT.cfg" was 19 long: its last two bytes stay behind the shorter name.
  EXPECT_EQ(std::string(del.begin() + 17, del.begin() + 36), "/local/sta_ip.cfgfg");
  EXPECT_FALSE(rig.sim->File("/local/sta_ip.cfg"));
  EXPECT_EQ(rig.sim->FileNames(), std::vector<std::string>{"/local/sta_keyT.cfg"});
}

TEST(RemoteFiles, UnansweredDeleteIsNeverSentAgain) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::NoReply, 1, wire::CMD_DELETE_FILE);
  EXPECT_THROW(DeleteRemoteFile(app, "/local/ap_key.cfg"), RemoteFileError);
  EXPECT_TRUE(app.link.ReplyTimedOut);
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_DELETE_FILE);
  for (int tick = 0; tick < 40; ++tick) rig.window->Timer1Timer();
  EXPECT_EQ(app.Status(), "Retry transfer 1");
  EXPECT_EQ(rig.Frames().size(), 1u);
}

TEST(RemoteFiles, RefusedDeleteShowsNothingAndStaysPending) {
  Rig rig;
  App& app = *rig.app;
  rig.sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_DELETE_FILE);
  app.SetStatus("before");
  try {
    DeleteRemoteFile(app, "/local/ap_key.cfg");
    ADD_FAILURE() << "a refused delete passed for done";
  } catch (const RemoteFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Delete of /local/ap_key.cfg not acknowledged: the module refused it (status 0x15)");
  }
  EXPECT_EQ(app.Status(), "Del File: /local/ap_key.cfg");
  EXPECT_EQ(app.link.PendingCommand, wire::CMD_DELETE_FILE);
}

// Only an acknowledgement of the announce (signature, code 95, ACK) lets the content go: the
// module would not store it, and the write would pass for done. A lost reply is not retried.
TEST(RemoteFiles, AnAnnounceTheModuleDidNotTakeStreamsNothing) {
  struct Case {
    sim::Fault fault;
    const char* why;
  };
  const Case cases[] = {
      {sim::Fault::Refuse, "the module refused it (status 0x15)"},
      {sim::Fault::NoReply, "no reply came (Wait RX Timeout!)"},
      {sim::Fault::WrongSignature,
       "the reply does not start with the frame signature (InValid Header package!)"},
      {sim::Fault::Reset, "no whole reply came (the connection broke or the reply was cut short)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::FaultName(c.fault));
    Rig rig;
    App& app = *rig.app;
    rig.sim->InjectFault(c.fault, 1, wire::CMD_WRITE_FILE);
    app.transfer.data()[0] = 'x';
    try {
      WriteRemoteFile(app, "/local/locate.cfg", 1);
      ADD_FAILURE() << "the write passed for done";
    } catch (const RemoteFileError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("File /local/locate.cfg not written: its announce was not "
                            "acknowledged, ") +
                    c.why + "; the content was not sent");
    }
    EXPECT_EQ(rig.network.connects, 1);  // the announce's only
    EXPECT_TRUE(rig.sleeper.sleeps.empty());
    EXPECT_FALSE(app.link.ReplyTimedOut);
    EXPECT_FALSE(app.link.LinkBusy);
    EXPECT_NE(rig.sim->File("/local/locate.cfg"), Bytes{'x'});
  }
}

// A reply to another command, even with a good signature and ACK, acknowledges nothing here.
TEST(RemoteFiles, AnAcknowledgementMustNameTheAnnounce) {
  Rig rig;
  App& app = *rig.app;
  Link& link = app.link;
  link.ReplyDispatched = true;
  link.ReplyLength = 6;
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), link.ReplyBuffer.begin());
  link.ReplyBuffer[wire::kReplyStatus] = wire::ACK;
  struct Case {
    std::uint8_t code;
    bool dispatched;
    bool acknowledged;
  };
  const Case cases[] = {
      {wire::CMD_WRITE_FILE, true, true},
      {wire::CMD_READ_DATA, true, false},
      {wire::CMD_WRITE_FILE, false, false},  // left from an earlier exchange
  };
  for (const Case& c : cases) {
    link.ReplyBuffer[wire::kReplyCode] = c.code;
    link.ReplyDispatched = c.dispatched;
    EXPECT_EQ(Acknowledged(link, wire::CMD_WRITE_FILE), c.acknowledged) << int{c.code};
  }
}

TEST(RemoteFiles, NothingIsStreamedWhenTheAnnounceDidNotGoOut) {
  struct Case {
    const char* name;
    bool module_absent;
    bool link_busy;
    const char* reason;
  };
  const Case cases[] = {
      {"no module", true, false, "Connect Timeout"},
      {"link busy", false, true, "another command is in progress"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({.model = c.module_absent ? std::nullopt : std::optional(sim::Model::Qn6)});
    App& app = *rig.app;
    app.link.LinkBusy = c.link_busy;
    app.gauge.SetProgress(40);
    app.transfer.data()[0] = 'x';
    try {
      WriteRemoteFile(app, "/local/locate.cfg", 1);
      ADD_FAILURE() << "no error";
    } catch (const RemoteFileError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("File /local/locate.cfg not sent: ") + c.reason);
    }
    EXPECT_EQ(rig.network.connects, c.module_absent ? 1 : 0);
    EXPECT_TRUE(rig.sleeper.sleeps.empty());
    EXPECT_EQ(app.gauge.progress, 40);
    EXPECT_EQ(app.link.LinkBusy, c.link_busy);
    if (rig.sim) {
      EXPECT_TRUE(rig.sim->Frames().empty());
    }
  }
}

TEST(RemoteFiles, BrokenDataConnectionRaisesAndKeepsTheGauge) {
  struct Case {
    const char* name;
    bool refuse_connect;
    int failing_write;
    const char* message;
    int gauge;
  };
  const Case cases[] = {
      {"cannot open", true, 0,
       "File /local/big.bin: Data connection to 127.0.0.1:PORT failed: Connection refused (test)",
       0},
      {"breaks", false, 3,
       "File /local/big.bin: Data connection to 127.0.0.1:PORT broke: at most 2048 of 5000 bytes "
       "reached the module (Broken pipe (test))",
       2048},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    App& app = *rig.app;
    rig.network.allow_connect = [&](int connect) { return !(c.refuse_connect && connect == 2); };
    rig.network.allow_write = [&](int connect, int write) {
      return !(connect == 2 && write == c.failing_write);
    };
    std::string message = c.message;
    message.replace(message.find("PORT"), 4, std::to_string(rig.sim->Port()));
    EXPECT_THROW(
        {
          try {
            Write(rig, "/local/big.bin", Pattern(5000));
          } catch (const RemoteFileError& e) {
            EXPECT_EQ(std::string(e.what()), message);
            throw;
          }
        },
        RemoteFileError);
    EXPECT_EQ(app.gauge.progress, c.gauge);
    EXPECT_FALSE(app.link.LinkBusy);
    rig.sim->WaitForFrames(1, std::chrono::milliseconds(100));
  }
}

TEST(RemoteFiles, NothingElseGoesOutBetweenAnnounceAndContent) {
  Rig rig;
  App& app = *rig.app;
  // A tick that comes due while the content's connection is being made tries to poll.
  bool refused_inside = false;
  rig.pump.every_call = [&] {
    if (!app.Status().starts_with("Transfer Length")) return;  // the announce is not out yet
    app.link.PendingCommand = wire::CMD_SET_LOCATOR;
    app.link.CommandFrame[4] = wire::CMD_SET_LOCATOR;
    refused_inside = !Transact(app.link, 7) || refused_inside;
  };
  Write(rig, "/local/locate.cfg", {'a'});
  rig.pump.every_call = nullptr;
  EXPECT_TRUE(refused_inside);
  EXPECT_EQ(rig.Frames().size(), 1u);
  EXPECT_EQ(rig.sim->File("/local/locate.cfg"), Bytes{'a'});
}

TEST(RemoteFiles, OutOfRangeRequestsSendNothing) {
  Rig rig;
  App& app = *rig.app;
  EXPECT_THROW(WriteRemoteFile(app, std::string(44, 'a'), 1), RemoteFileError);
  EXPECT_THROW(WriteRemoteFile(app, "/local/x.cfg", kTransferBufferSize + 1), RemoteFileError);
  EXPECT_THROW(DeleteRemoteFile(app, std::string(24, 'a')), RemoteFileError);
  EXPECT_EQ(rig.network.connects, 0);
}

TEST(RemoteFiles, ChecksumWrapsAt32Bits) {
  std::vector<std::uint8_t> bytes(16843010, 0xFF);  // 255 * 16843010 = 2^32 + 254
  EXPECT_EQ(ContentChecksum(bytes.data(), bytes.size()), 254u);
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(ContentChecksum(abc, 3), 0x126u);
}

#ifdef __linux__
// Resident memory of this process in bytes.
std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

TEST(RemoteFiles, TransferBufferCostsNoResidentMemoryUntilUsed) {
  const std::size_t before = ResidentBytes();
  std::vector<std::unique_ptr<TransferBuffer>> buffers;
  for (int i = 0; i < 4; ++i) buffers.push_back(std::make_unique<TransferBuffer>());
  const std::size_t after = ResidentBytes();
  EXPECT_LT(after - std::min(after, before), kTransferBufferSize) << "4 x 16 MiB allocated";
  // Touching them makes them resident. All four are filled: the allocator may hand out memory
  // that earlier tests touched and freed, which is resident already.
  for (auto& buffer : buffers) std::memset(buffer->data(), 1, kTransferBufferSize);
  EXPECT_GE(ResidentBytes(), after + 2 * kTransferBufferSize);
}
#endif  // __linux__

}  // namespace
}  // namespace zvk
