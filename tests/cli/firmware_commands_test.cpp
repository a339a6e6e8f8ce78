// `zvk firmware FILE` in-process against the simulator: what it prints, what the module receives,
// and the exit status of each way an update ends; and once as the built program.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "admin/firmware.h"
#include "cli/zvk_cli.h"
#include "cli_fixture.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/simulator.h"
#include "support/child_process.h"
#include "support/rig.h"
#include "support/test_seams.h"
#include "util/file_path.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// 3000 bytes that sum to 4660 (0x1234).
Bytes Image4660() {
  Bytes image(3000, 1);
  std::fill_n(image.begin(), 1660, 2);
  return image;
}

std::vector<std::uint8_t> Codes(const std::vector<Bytes>& frames) {
  std::vector<std::uint8_t> codes;
  for (const Bytes& f : frames) codes.push_back(f.size() > 4 ? f[4] : 0);
  return codes;
}

// The module's waits: it has taken the header before the image comes, and the image before the
// final command.
class cliFirmware : public cliZvk {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zvk-cli-fw-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    cliZvk::TearDown();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void StartModule() {
    cliZvk::StartModule(sim::Model::Qn6);
    sleeper.on_sleep = [this](int) {
      if (sleeper.sleeps.size() == 1)
        sim->WaitForFrames(static_cast<std::size_t>(network.connects - connects_before_), 5s);
      else
        sim->WaitForStreams(1, 5s);
    };
  }
  // The file's name as a person types it: UTF-8.
  std::string Put(const std::string& name, const Bytes& content) {
    const fs::path path = dir_ / PathFromUtf8(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return PathToUtf8(path);
  }

  Result Run(std::vector<std::string> args) {
    connects_before_ = network.connects;
    return cliZvk::Run(On(std::move(args)));
  }

 private:
  fs::path dir_;
  int connects_before_ = 0;
};

TEST_F(cliFirmware, VerifiedImageIsRebooted) {
  StartModule();
  const Bytes image = Image4660();
  Result r = Run({"--yes", "firmware", Put("app.bin", image)});

  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            std::string("Confirm\nF/W Update, execute?\n") + kUpdateComplete + "\nReboot sent\n");
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(sim->WaitForFrames(4, 2s));
  EXPECT_EQ(Codes(Frames()), (std::vector<std::uint8_t>{0x21, 0x5F, 0x25, 0x2D}));
  EXPECT_EQ(Frames()[2], (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x25, 0, 0, 0x12, 0x34}));
  EXPECT_EQ(sim->File("/sys/mcuimg.bin"), image);
  EXPECT_EQ(sleeper.sleeps, (std::vector<int>{2500, 2000}));
}

TEST_F(cliFirmware, ModuleThatDoesNotConfirmTheImageFails) {
  struct Case {
    const char* faults;
    std::string reason;
    std::string box;  // on standard error
  };
  const Case cases[] = {
      {"wrongsum",
       "zvk: the module's checksum of the stored image is FFFFEDCB, the file's is 00001234",
       std::string(kUpdateFailed) + "\n"},
      {"refuse@37",
       "zvk: the module refused the image checksum request (reply code 0x25, status 0x15)", ""},
      // Asked four times, as the window's retry step does, and never answered.
      {"noreply@37:4",
       "zvk: no reply from the module to the image checksum request, sent 4 times 4 s apart "
       "(Wait RX Timeout!)",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    StartModule();
    for (const auto& f : sim::ParseFaultList(c.faults))
      sim->InjectFault(f.fault, f.count, f.only_code, f.delay_ms);
    sleeper.sleeps.clear();
    Result r = Run({"--yes", "firmware", Put("app.bin", Image4660())});

    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.box + c.reason + "\n");
    std::vector<std::uint8_t> codes = Codes(Frames());
    EXPECT_EQ(codes.back(), 0x25);  // no reboot
    codes.erase(std::remove(codes.begin(), codes.end(), 0x25), codes.end());
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{0x21, 0x5F}));
    sim->Stop();
  }
}

TEST_F(cliFirmware, ChecksumRequestIsAskedAgainUntilTheModuleAnswers) {
  struct Case {
    int unanswered;
    int status;
    std::size_t requests;
  };
  // Every 4 s, three times after the first, as the window's retry step does.
  const Case cases[] = {{1, 0, 2}, {3, 0, 4}, {4, 1, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unanswered);
    StartModule();
    sim->InjectFault(sim::Fault::NoReply, c.unanswered, wire::CMD_GET_IMAGE_CHECKSUM);
    sleeper.sleeps.clear();
    const Result r = Run({"--yes", "firmware", Put("app.bin", Image4660())});
    EXPECT_EQ(r.status, c.status) << r.err;
    // The reboot goes out without waiting for the module: let it arrive before counting.
    // Identity, announce, the requests and (after a match) the reboot.
    sim->WaitForFrames(2 + c.requests + (c.status == 0 ? 1 : 0), 2s);
    const std::vector<std::uint8_t> codes = Codes(Frames());
    EXPECT_EQ(static_cast<std::size_t>(std::count(codes.begin(), codes.end(), 0x25)), c.requests);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x2D), c.status == 0 ? 1 : 0);  // reboot
    // Between two requests the command waits out 40 ticks of 100 ms, as the window does.
    const long waited = std::count(sleeper.sleeps.begin(), sleeper.sleeps.end(), 100);
    EXPECT_EQ(waited, static_cast<long>(c.requests - 1) * 40 + (c.status == 0 ? 0 : 40));
    sim->Stop();
  }
}

TEST_F(cliFirmware, UnidentifiedModuleGetsNoImageUnlessAskedForUnverified) {
  StartModule();
  sim->SetModelCode(0x00);
  const Result r = Run({"--yes", "firmware", Put("app.bin", Image4660())});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.LastErrLine().find("so no verification of the image is possible; give --unverified "
                                 "to send it anyway; nothing sent"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Codes(Frames()), std::vector<std::uint8_t>{0x21});  // the identity request only
  EXPECT_FALSE(sim->File("mcuimg.bin"));
}

TEST_F(cliFirmware, ModuleOfUnknownModelGetsTheStagedImageUnverified) {
  StartModule();
  sim->SetModelCode(0x00);
  const Bytes image = Image4660();
  Result r = Run({"--yes", "firmware", "--unverified", Put("app.bin", image)});

  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "Confirm\nF/W Update, execute?\nImage sent as mcuimg.bin: 3000 bytes, checksum 00001234; "
      "a module of unknown model gives no verification of it\n");
  EXPECT_EQ(r.err.rfind("zvk: the module did not identify itself (unsupported module", 0), 0u)
      << r.err;
  ASSERT_TRUE(sim->WaitForFrames(3, 2s));  // 38 goes out without waiting for the module
  EXPECT_EQ(Codes(Frames()).back(), 0x26);
  EXPECT_EQ(Frames().back(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x26, 0, 0, 0x12, 0x34}));
  EXPECT_EQ(Frames()[Frames().size() - 2][4], 0x5A);
  EXPECT_EQ(sim->File("mcuimg.bin"), image);
  EXPECT_EQ(sleeper.sleeps, (std::vector<int>{1000, 2000}));
}

// Names outside ASCII (and outside Windows' ANSI code page) open the file they name.
TEST_F(cliFirmware, ImageNamesOutsideAsciiAreOpened) {
  const Bytes image = Image4660();
  for (const char* name : {"fw \u20AC.bin", "B\u00FCro \u03A9 \u2603.bin"}) {
    SCOPED_TRACE(name);
    if (sim) sim->Stop();
    StartModule();  // a module of its own, whose waits count from the start
    sleeper.sleeps.clear();
    Result r = Run({"--yes", "firmware", Put(name, image)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim->File("/sys/mcuimg.bin"), image);
  }
}

TEST_F(cliFirmware, RefusedFileSendsNothingAtAll) {
  StartModule();
  const std::string too_long = Put("too_long.bin", Bytes(kMaxImageLength + 1, 0));
  const std::string empty = Put("empty.bin", {});
  const std::string missing = (fs::path(too_long).parent_path() / "missing.bin").string();
  const std::string cases[][2] = {
      {too_long, "zvk: input refused: " + too_long +
                     " holds 2097153 bytes, more than the 2097152 an image may have "
                     "(File Lengths > Buffer Size, Abort!); nothing sent"},
      {empty, "zvk: input refused: Image file " + empty + " is empty, Abort!; nothing sent"},
      {missing,
       "zvk: input refused: Cannot open " + missing + ": No such file or directory; nothing sent"},
  };
  for (const auto& [path, reason] : cases) {
    Result r = Run({"--yes", "firmware", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, reason + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(network.connects, 0);
}

TEST_F(cliFirmware, UnreachableModuleStopsAtTheHeader) {
  Result r = Run({"--yes", "firmware", Put("app.bin", Image4660())});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.LastErrLine().find("module not reachable"), std::string::npos) << r.err;
  r = Run({"--yes", "firmware", "--unverified", Put("app.bin", Image4660())});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.LastErrLine(), "zvk: F/W header not sent (Connect Timeout), update stopped");
  EXPECT_TRUE(sleeper.sleeps.empty());
}

TEST_F(cliFirmware, NoAtTheQuestionSendsNoImage) {
  StartModule();
  read_answer = [] { return std::optional<std::string>("n"); };
  Result r = Run({"firmware", Put("app.bin", Image4660())});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Confirm\nF/W Update, execute?\n[y/N] ");
  EXPECT_EQ(r.LastErrLine(), "zvk: the update was not confirmed; nothing sent");
  EXPECT_EQ(Codes(Frames()), std::vector<std::uint8_t>{0x21});
}

TEST_F(cliFirmware, ProgressBarOnlyOnATerminal) {
  for (bool on_terminal : {true, false}) {
    SCOPED_TRACE(on_terminal);
    StartModule();
    terminal = on_terminal;
    sleeper.sleeps.clear();
    Result r = Run({"--yes", "firmware", Put("app.bin", Bytes(200000, 7))});
    EXPECT_EQ(r.status, 0) << r.err;
    if (on_terminal) {
      EXPECT_EQ(r.err,
                "\rF/W image [------------------------------]   0% of 200000 bytes"
                "\rF/W image [#########---------------------]  32% of 200000 bytes"
                "\rF/W image [###################-----------]  65% of 200000 bytes"
                "\rF/W image [#############################-]  98% of 200000 bytes"
                "\rF/W image [##############################] 100% of 200000 bytes\n");
    } else {
      EXPECT_EQ(r.err, "");
    }
    sim->Stop();
  }
}

TEST(cliFirmwareBinary, UpdatesAModuleOfUnknownModel) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  sim::Simulator module(sim::Options{});
  module.SetModelCode(0x00);
  const std::uint16_t port = module.Start();
  const fs::path image =
      fs::temp_directory_path() /
      ("zvk-bin-fw-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
       ".bin");
  std::ofstream(image, std::ios::binary) << std::string(5000, 'x');

  test::ChildProcess child(
      *zvk, {"--host", "127.0.0.1", "--port", std::to_string(port), "--skip-wifi-check", "--yes",
             "firmware", "--unverified", image.string()});
  const std::string out = child.ReadAll();
  EXPECT_EQ(child.Wait(), 0);
  module.Stop();
  fs::remove(image);

  EXPECT_NE(out.find("Image sent as mcuimg.bin: 5000 bytes, checksum 000927C0"), std::string::npos)
      << out;
  EXPECT_EQ(module.File("mcuimg.bin"), Bytes(5000, 'x'));
}

}  // namespace
}  // namespace zvk::cli
