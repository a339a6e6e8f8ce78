// The firmware update end to end against the simulator: the header, the image stream with its
// gauge, the final command and its waits on both paths; the checksum reply and its boxes; the
// reboot after a verified image; the re-issue of a lost checksum request; and every way the
// update stops before it sends something it should not.
#include "admin/firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "admin/remote_files.h"
#include "link/dispatcher.h"
#include "link/wire.h"
#include "state/app.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Rig;
using test::RigOptions;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// 3000 bytes that sum to 4660 (0x1234): 1660 twos, then 1340 ones.
Bytes Image4660() {
  Bytes image(3000, 1);
  std::fill_n(image.begin(), 1660, 2);
  return image;
}

Bytes Pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return bytes;
}

const Bytes kReboot{0x5A, 0x35, 0x77, 0xA5, 0x2D};

Bytes Final(std::uint8_t code, std::uint32_t sum) {
  return {0x5A,
          0x35,
          0x77,
          0xA5,
          code,
          static_cast<std::uint8_t>(sum >> 24),
          static_cast<std::uint8_t>(sum >> 16),
          static_cast<std::uint8_t>(sum >> 8),
          static_cast<std::uint8_t>(sum)};
}

// A folder of image files for one test, removed at its end.
class ImageFiles {
 public:
  ImageFiles()
      : dir_(fs::temp_directory_path() /
             ("zvk-fw-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    fs::create_directories(dir_);
  }
  ~ImageFiles() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Put(const std::string& name, const Bytes& content) const {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path.string();
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

// A utility over the simulator, identified (a known model) or not, with its status texts kept.
struct Update {
  explicit Update(bool identify, RigOptions options = {}) : rig(options) {
    rig.app->on_status = [this](const std::string& text) { statuses.push_back(text); };
    if (identify) {
      rig.Start();
      EXPECT_TRUE(rig.TickUntilIdentified());
      EXPECT_TRUE(rig.app->device.ModelKnown);
      rig.sim->ClearFrames();
    }
    first_connect = rig.network.connects;
    statuses.clear();
    // The waits stand for the time the module takes: the header is taken before the image comes
    // (the header goes out unanswered), and the image is taken before the final command.
    rig.sleeper.on_sleep = [this](int) {
      if (!rig.sim) return;
      if (rig.sleeper.sleeps.size() == 1)
        rig.sim->WaitForFrames(1, std::chrono::seconds(5));
      else
        rig.sim->WaitForStreams(streams_before + 1, std::chrono::seconds(5));
    };
  }

  // Runs the update with `path` chosen in the file dialog; waits until the simulator has taken
  // in as many contents as were streamed.
  void Run(const std::string& path) {
    rig.dialogs.next_file = path;
    streams_before = rig.sim ? rig.sim->Streams().size() : 0;
    firmware().Run();
    if (rig.sim && connects() >= 2) {
      EXPECT_TRUE(rig.sim->WaitForStreams(streams_before + 1, std::chrono::seconds(5)));
    }
  }

  FirmwareUpdate& firmware() { return rig.system->firmware; }
  int connects() const { return rig.network.connects - first_connect; }
  // The writes of the n-th connection of the update (from 1).
  const std::vector<std::size_t>& Writes(int n) const {
    return rig.network.writes.at(static_cast<std::size_t>(first_connect + n - 1));
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& box : rig.dialogs.boxes) captions.push_back(box.caption);
    return captions;
  }

  Rig rig;
  int first_connect = 0;
  std::size_t streams_before = 0;
  std::vector<std::string> statuses;
};

TEST(Firmware, BothPathsSendHeaderImageAndFinalFrame) {
  struct Case {
    bool known;
    std::uint8_t header_code;
    std::string name;
    std::uint8_t final_code;
    std::vector<int> sleeps;
    FirmwareOutcome outcome;
  };
  const Case cases[] = {
      {true, 95, "/sys/mcuimg.bin", 37, {2500, 2000}, FirmwareOutcome::Verified},
      {false, 90, "mcuimg.bin", 38, {1000, 2000}, FirmwareOutcome::Staged},
  };
  const Bytes image = Image4660();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFiles files;
    Update u(c.known);
    u.Run(files.Put("app.bin", image));
    // 38 goes out without waiting for the module.
    ASSERT_TRUE(u.rig.sim->WaitForFrames(2, std::chrono::seconds(2)));

    const auto frames = u.rig.Frames();
    ASSERT_GE(frames.size(), 2u);
    Bytes header{0x5A, 0x35, 0x77, 0xA5, c.header_code, 0, 0, 0x0B,
                 0xB8, 0,    0,    0x12, 0x34,          0, 0, 0};
    header.push_back(static_cast<std::uint8_t>(c.name.size()));
    header.insert(header.end(), c.name.begin(), c.name.end());
    header.resize(40, 0);
    EXPECT_EQ(frames[0], header);
    EXPECT_EQ(frames[1], Final(c.final_code, 0x1234));
    EXPECT_EQ(u.rig.sim->Streams(), std::vector<Bytes>{image});
    EXPECT_EQ(u.rig.sim->File(c.name), image);
    EXPECT_EQ(u.rig.sleeper.sleeps, c.sleeps);
    EXPECT_EQ(u.rig.dialogs.file_filters, std::vector<std::string>{"bin|*.bin"});
    ASSERT_GE(u.statuses.size(), 2u);
    EXPECT_EQ(u.statuses[0], "MCUImg FileLength => 3000");
    EXPECT_EQ(u.statuses[1], "Send MCUImg CheckSum => 00001234");
    EXPECT_EQ(u.firmware().outcome, c.outcome);
    EXPECT_EQ(u.firmware().ImageChecksum, 4660u);
    if (!c.known) {
      // Nothing is shown but the question, and the module's word on the image is never asked.
      EXPECT_EQ(u.Captions(), std::vector<std::string>{"Confirm"});
      EXPECT_EQ(u.statuses.size(), 2u);
      EXPECT_EQ(frames.size(), 2u);
    }
  }
}

TEST(Firmware, VerifiedImageShowsSuccessThenRebootsOnItsOwnConnection) {
  ImageFiles files;
  Update u(true);
  int connects_at_box = -1;
  u.rig.dialogs.on_box = [&] {
    if (u.rig.dialogs.boxes.back().caption == kUpdateComplete) connects_at_box = u.connects();
  };
  const Bytes image = Pattern(5000);
  u.Run(files.Put("app.bin", image));
  ASSERT_TRUE(u.rig.sim->WaitForFrames(3, std::chrono::seconds(2)));

  ASSERT_EQ(u.rig.dialogs.boxes.size(), 2u);
  const test::Box& box = u.rig.dialogs.boxes[1];
  EXPECT_EQ(box.caption, kUpdateComplete);
  EXPECT_EQ(box.text, kUpdateComplete);
  EXPECT_EQ(box.icon, MsgIcon::None);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(u.statuses.back(), kUpdateComplete);
  // Header, image, checksum request while the box is open; the reboot after it, on a fourth.
  EXPECT_EQ(connects_at_box, 3);
  EXPECT_EQ(u.connects(), 4);
  EXPECT_EQ(u.Writes(4), std::vector<std::size_t>{5});
  EXPECT_EQ(u.rig.LastFrame(), kReboot);
  EXPECT_TRUE(u.firmware().reboot_sent);
  EXPECT_EQ(u.rig.app->link.PendingCommand, wire::CMD_RESET_MODULE);
  EXPECT_FALSE(u.rig.app->link.LinkBusy);
}

TEST(Firmware, ChecksumMismatchOrRefusalRebootsNothing) {
  struct Case {
    const char* what;
    sim::Fault fault;
    FirmwareOutcome outcome;
    std::vector<std::string> captions;
  };
  const Case cases[] = {
      {"another sum", sim::Fault::WrongSum, FirmwareOutcome::Mismatch, {"Confirm", kUpdateFailed}},
      {"refused", sim::Fault::Refuse, FirmwareOutcome::Refused, {"Confirm"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageFiles files;
    Update u(true);
    u.rig.sim->InjectFault(c.fault, 1, wire::CMD_GET_IMAGE_CHECKSUM);
    u.Run(files.Put("app.bin", Pattern(2000)));

    EXPECT_EQ(u.firmware().outcome, c.outcome);
    EXPECT_EQ(u.Captions(), c.captions);
    if (c.fault == sim::Fault::WrongSum) {
      EXPECT_EQ(u.rig.dialogs.boxes[1].text, kUpdateFailed);
      EXPECT_EQ(u.rig.dialogs.boxes[1].icon, MsgIcon::Error);
      EXPECT_EQ(u.statuses.back(), kUpdateFailed);
    }
    EXPECT_EQ(u.connects(), 3);  // no reboot
    EXPECT_EQ(u.rig.LastFrame()[4], wire::CMD_GET_IMAGE_CHECKSUM);
    EXPECT_EQ(u.rig.app->link.PendingCommand, 0);
  }
}

// The checksum handler on its own, for replies the simulator does not send.
TEST(Firmware, ChecksumReplyIsJudgedByCodeStatusAndSum) {
  struct Case {
    const char* what;
    Bytes reply;
    FirmwareOutcome outcome;
    std::vector<std::string> captions;
  };
  const Case cases[] = {
      {"matching sum",
       {0x5A, 0x35, 0x77, 0xA5, 0x25, 0x06, 0, 0, 0x12, 0x34},
       FirmwareOutcome::Verified,
       {kUpdateComplete}},
      {"another sum",
       {0x5A, 0x35, 0x77, 0xA5, 0x25, 0x06, 0, 1, 0x12, 0x34},
       FirmwareOutcome::Mismatch,
       {kUpdateFailed}},
      {"another code",
       {0x5A, 0x35, 0x77, 0xA5, 0x26, 0x06, 0, 0, 0x12, 0x34},
       FirmwareOutcome::Refused,
       {}},
      {"not ACK", {0x5A, 0x35, 0x77, 0xA5, 0x25, 0x15}, FirmwareOutcome::Refused, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig({.model = std::nullopt});
    FirmwareUpdate& fw = rig.system->firmware;
    fw.ImageChecksum = 4660;
    Link& link = rig.app->link;
    std::copy(c.reply.begin(), c.reply.end(), link.ReplyBuffer.begin());
    link.PendingCommand = wire::CMD_GET_IMAGE_CHECKSUM;
    DispatchReply(link, static_cast<std::uint32_t>(c.reply.size()));

    EXPECT_EQ(fw.outcome, c.outcome);
    std::vector<std::string> captions;
    for (const auto& box : rig.dialogs.boxes) captions.push_back(box.caption);
    EXPECT_EQ(captions, c.captions);
    EXPECT_EQ(link.PendingCommand, 0);
  }
}

TEST(Firmware, ImageGoesOutInPiecesWithTheGaugeOnePieceBehind) {
  struct Case {
    std::size_t n;
    std::vector<std::size_t> pieces;
    int gauge_max;
    std::vector<int> positions;  // after each piece but the last
  };
  const Case cases[] = {
      {3000, {1024, 1024, 952}, 1976, {0, 1024}},
      {2048, {1024, 1024}, 1024, {0}},
      // One piece or a little more: the gauge still spans 1 and ends full.
      {1025, {1024, 1}, 1, {0}},
      {1024, {1024}, 1, {}},
      {1, {1}, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    ImageFiles files;
    Update u(false);
    App& app = *u.rig.app;
    app.gauge.SetProgress(50);
    std::vector<int> positions;
    const int data_connect = u.first_connect + 2;
    u.rig.network.allow_write = [&](int connect, int write) {
      if (connect == data_connect && write > 1) positions.push_back(app.gauge.progress);
      return true;
    };
    const Bytes image = Pattern(c.n);
    u.Run(files.Put("app.bin", image));

    EXPECT_EQ(u.Writes(2), c.pieces);
    EXPECT_EQ(positions, c.positions);
    EXPECT_EQ(app.gauge.max, c.gauge_max);
    EXPECT_EQ(app.gauge.progress, c.gauge_max);
    EXPECT_EQ(app.gauge.fore_color, kRed);
    EXPECT_EQ(u.rig.sim->File("mcuimg.bin"), image);
  }
}

TEST(Firmware, MainWindowIsRepaintedEvery64Pieces) {
  ImageFiles files;
  Update u(false);
  std::vector<int> repainted_at;
  u.rig.app->repaint_main_window = [&] { repainted_at.push_back(u.rig.app->gauge.progress); };
  u.Run(files.Put("app.bin", Pattern(200000)));
  // And once more at the end, full, for the wait before the final command.
  EXPECT_EQ(repainted_at, (std::vector<int>{0, 65536, 131072, 196608, 198976}));
}

TEST(Firmware, LargestImageIsAcceptedAndOneByteMoreIsRefusedUnread) {
  ImageFiles files;
  const Bytes largest(kMaxImageLength, 0xFF);  // the largest sum there can be: 0x1FE00000
  {
    Update u(true);
    u.Run(files.Put("largest.bin", largest));
    EXPECT_EQ(u.statuses.at(1), "Send MCUImg CheckSum => 1FE00000");
    EXPECT_EQ(u.Writes(2).size(), 2048u);
    EXPECT_EQ(u.rig.sim->File("/sys/mcuimg.bin"), largest);
    EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::Verified);
  }
  Bytes too_long(kMaxImageLength + 1, 0x11);
  Update u(true);
  std::fill_n(u.rig.app->transfer.data(), 16, 0xEE);
  u.Run(files.Put("too_long.bin", too_long));
  EXPECT_EQ(u.statuses, (std::vector<std::string>{"MCUImg FileLength => 2097153",
                                                  "File Lengths > Buffer Size, Abort!"}));
  EXPECT_EQ(u.connects(), 0);
  EXPECT_TRUE(u.rig.Frames().empty());
  EXPECT_EQ(u.rig.app->transfer.data()[0], 0xEE);  // not read
  EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::FileRefused);
}

// The image went out but the command that ends the upload did not: neither verifying nor
// staged, and no box of either outcome.
TEST(Firmware, FinalCommandThatDoesNotGoOutEndsTheUpdateAsNotSent) {
  for (const bool known : {true, false}) {
    SCOPED_TRACE(known);
    ImageFiles files;
    Update u(known);
    const int final_connect = u.first_connect + 3;  // header, image, final command
    u.rig.network.allow_connect = [final_connect](int n) { return n != final_connect; };
    u.Run(files.Put("app.bin", Image4660()));
    EXPECT_EQ(u.connects(), 3);
    EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::FinalNotSent);
    EXPECT_EQ(u.rig.sim->Streams().size(), 1u);
    EXPECT_EQ(u.rig.Frames().size(), 1u);  // the header only
    EXPECT_TRUE(u.rig.dialogs.boxes.empty() ||
                u.rig.dialogs.boxes.back().caption != kUpdateComplete);
  }
}

TEST(Firmware, FileThatCannotBeUsedStopsBeforeAnythingIsSent) {
  ImageFiles files;
  const std::string missing = files.Path("missing.bin");
  const std::string folder = files.Path("folder.bin");
  fs::create_directories(folder);
  const std::string empty = files.Put("empty.bin", {});
  struct Case {
    std::string path;
    std::vector<std::string> statuses;
  };
  const Case cases[] = {
      {missing, {"Cannot open " + missing + ": No such file or directory"}},
      {folder, {"Cannot open " + folder + ": it is a folder"}},
      {empty, {"MCUImg FileLength => 0", "Image file " + empty + " is empty, Abort!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Update u(true);
    u.Run(c.path);
    EXPECT_EQ(u.statuses, c.statuses);
    EXPECT_EQ(u.connects(), 0);
    EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::FileRefused);
    EXPECT_EQ(CheckImageFile(c.path).error, c.statuses.back());
  }
}

TEST(Firmware, NoQuestionYesNoDeviceNoFileNothingSent) {
  struct Case {
    const char* what;
    MsgResult answer;
    bool device_found;
    bool file_chosen;
    FirmwareOutcome outcome;
    std::size_t dialogs_opened;
  };
  const Case cases[] = {
      {"No at the question", MsgResult::No, true, true, FirmwareOutcome::Declined, 0},
      {"no module in the subnet", MsgResult::Yes, false, true, FirmwareOutcome::NotFound, 0},
      {"dialog cancelled", MsgResult::Yes, true, false, FirmwareOutcome::Cancelled, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageFiles files;
    Update u(false, {.skip_wifi_check = false});
    u.rig.fake_hosts->wireless_scans = {{{"wlan0", c.device_found}}};
    u.rig.dialogs.answers = {c.answer};
    u.rig.dialogs.next_file = files.Put("app.bin", Pattern(100));
    if (!c.file_chosen) u.rig.dialogs.next_file.reset();
    u.firmware().Run();
    EXPECT_EQ(u.firmware().outcome, c.outcome);
    EXPECT_EQ(u.rig.dialogs.file_filters.size(), c.dialogs_opened);
    EXPECT_EQ(u.connects(), 0);
    EXPECT_TRUE(u.statuses.empty());
  }
}

TEST(Firmware, HeaderThatIsNotSentStopsTheUpdate) {
  ImageFiles files;
  const std::string path = files.Put("app.bin", Pattern(3000));
  {
    Update u(false, {.model = std::nullopt});  // nothing listens
    u.Run(path);
    EXPECT_EQ(u.statuses.back(), "F/W header not sent (Connect Timeout), update stopped");
    EXPECT_EQ(u.connects(), 1);
    EXPECT_TRUE(u.rig.sleeper.sleeps.empty());
    EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::HeaderNotSent);
  }
  Update u(false);
  u.rig.app->link.LinkBusy = true;  // another exchange is waiting for its reply
  u.Run(path);
  EXPECT_EQ(u.statuses.back(),
            "F/W header not sent (another command is in progress), update stopped");
  EXPECT_EQ(u.connects(), 0);
  EXPECT_TRUE(u.rig.app->link.LinkBusy);
}

TEST(Firmware, ClickDuringAnUpdateDoesNothing) {
  ImageFiles files;
  Update u(true);
  const Bytes image = Image4660();
  const std::string first = files.Put("app.bin", image);
  const std::string second = files.Put("other.bin", Pattern(100));
  // The header's connect runs the event pump: the button is clicked again, with another file.
  u.rig.pump.Then([&] {
    u.rig.dialogs.next_file = second;
    u.rig.system->setup_window.form.firmware_update.UserClick();
  });
  u.Run(first);

  EXPECT_EQ(u.Captions(), (std::vector<std::string>{"Confirm", kUpdateComplete}));
  EXPECT_EQ(u.rig.sim->File("/sys/mcuimg.bin"), image);
  EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::Verified);
}

TEST(Firmware, BrokenImageStreamEndsTheUpdateWithoutAFinalCommand) {
  ImageFiles files;
  Update u(true);
  const int data_connect = u.first_connect + 2;
  u.rig.network.allow_write = [&](int connect, int write) {
    return !(connect == data_connect && write == 3);
  };
  u.rig.dialogs.next_file = files.Put("app.bin", Pattern(5000));
  EXPECT_THROW(u.firmware().Run(), RemoteFileError);
  ASSERT_TRUE(u.rig.sim->WaitForStreams(1, std::chrono::seconds(5)));
  EXPECT_EQ(u.connects(), 2);
  EXPECT_EQ(u.rig.Frames().size(), 1u);  // the header only
  EXPECT_EQ(u.rig.app->gauge.progress, 1024);
  EXPECT_FALSE(u.rig.app->link.LinkBusy);
  EXPECT_FALSE(u.rig.sim->File("/sys/mcuimg.bin"));
}

TEST(Firmware, LostChecksumReplyIsAskedForAgainEvery40Ticks) {
  ImageFiles files;
  Update u(true);
  u.rig.sim->InjectFault(sim::Fault::NoReply, 2, wire::CMD_GET_IMAGE_CHECKSUM);
  const Bytes image = Image4660();
  u.Run(files.Put("app.bin", image));
  EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::Verifying);
  EXPECT_TRUE(u.rig.app->link.ReplyTimedOut);
  ASSERT_EQ(u.rig.Frames().size(), 2u);

  // Re-sent 40 Timer1 ticks after the wait ran out, and again 40 ticks later; the module
  // answers the third request.
  const Bytes request = Final(37, 0x1234);
  for (std::size_t sent = 3; sent <= 4; ++sent) {
    for (int tick = 1; tick < 40; ++tick) u.rig.window->Timer1Timer();
    EXPECT_EQ(u.rig.Frames().size(), sent - 1);
    u.rig.window->Timer1Timer();
    ASSERT_GE(u.rig.Frames().size(), sent);
    EXPECT_EQ(u.rig.Frames()[sent - 1], request);
  }
  EXPECT_EQ(u.firmware().outcome, FirmwareOutcome::Verified);
  ASSERT_TRUE(u.rig.sim->WaitForFrames(5, std::chrono::seconds(2)));
  EXPECT_EQ(u.rig.Frames().size(), 5u);
  EXPECT_EQ(u.rig.LastFrame(), kReboot);
}

}  // namespace
}  // namespace zvk
