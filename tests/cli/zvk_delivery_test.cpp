// Contents that the module may not have taken: every command that streams a file or an image,
// against a module that misbehaves on the content's connection. Only the module's orderly close
// after the whole content counts as delivered; anything else ends the command with exit 1 and
// says the content was sent but not confirmed, or where the connection broke.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "admin/remote_files.h"
#include "cli/cli_fixture.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "state/app.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kShortDeliveryWaitMs = 600;

Bytes Pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

// A command that streams a content, and where the module keeps it.
struct Streaming {
  const char* name;
  sim::Model model;
  std::function<std::vector<std::string>(const std::string& dir)> args;
  const char* module_file;
  std::size_t content_length;
};

// A misbehaviour of the content's connection, and whether the content still counts as taken.
struct Misbehaviour {
  const char* faults;  // zvk-sim --faults, with "HALF" for half the content's length
  bool delivered;
  const char* says;            // in the last line on standard error when not delivered
  bool module_has_it = false;  // not confirmed, although the module did take it all
};

class cliDelivery : public cliZvk {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zvk-cli-delivery-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    cliZvk::TearDown();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

std::string Put(const fs::path& path, const Bytes& content) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()),
             static_cast<std::streamsize>(content.size()));
  return path.string();
}

TEST_F(cliDelivery, OnlyAModuleThatClosesAfterTheWholeContentHasIt) {
  const Bytes file = Pattern(300000);
  const Streaming commands[] = {
      {"write-file", sim::Model::Qn6,
       [&](const std::string& dir) {
         return std::vector<std::string>{"write-file", "/local/notes.txt",
                                         Put(fs::path(dir) / "notes.txt", file)};
       },
       "/local/notes.txt", file.size()},
      {"firmware", sim::Model::Qn6,
       [&](const std::string& dir) {
         return std::vector<std::string>{"--yes", "firmware", Put(fs::path(dir) / "app.bin", file)};
       },
       "/sys/mcuimg.bin", file.size()},
      {"setup location", sim::Model::Qn6,
       [](const std::string&) {
         return std::vector<std::string>{"--yes", "setup", "location", "Boiler room"};
       },
       "/local/locate.cfg", 11},
      {"user-curve", sim::Model::Qn6,
       [](const std::string&) {
         return std::vector<std::string>{"--yes", "user-curve", "3",     "--hi",      "100:680",
                                         "--mid", "25:10000",   "--low", "-40:336000"};
       },
       "/local/th_user.cfg", 144},
  };
  const Misbehaviour misbehaviours[] = {
      {"", true, ""},
      {"chatter", true, ""},
      {"slowclose:1:100", true, ""},
      {"noread", false,
       "delivery not confirmed (the module did not close the connection within "
       "600 ms)"},
      {"slowclose:1:3000", false,
       "delivery not confirmed (the module did not close the connection within 600 ms)", true},
      {"resetafter:1:HALF", false, ""},
      {"closeafter:1:HALF", false, ""},
  };
  for (const Streaming& command : commands) {
    for (const Misbehaviour& m : misbehaviours) {
      SCOPED_TRACE(std::string(command.name) + " against '" + m.faults + "'");
      StartModule(command.model);
      // The protocol's waits stand for the module taking each frame before what follows it; a
      // content needs none, its close says it was taken. Every connection but the contents
      // carried a frame.
      const int connects_before = network.connects;
      const int contents_before = network.shutdowns;
      sleeper.on_sleep = [&](int) {
        const int frames =
            (network.connects - connects_before) - (network.shutdowns - contents_before);
        sim->WaitForFrames(static_cast<std::size_t>(frames), 5s);
      };
      std::string faults = m.faults;
      if (const auto at = faults.find("HALF"); at != std::string::npos)
        faults.replace(at, 4, std::to_string(command.content_length / 2));
      for (const auto& f : sim::ParseFaultList(faults))
        sim->InjectFault(f.fault, f.count, f.only_code, f.delay_ms, f.after_bytes);
      const auto before = sim->File(command.module_file);
      // A close that comes has the program's whole wait; one that does not ends a short one.
      delivery_wait_ms = m.delivered ? 0 : kShortDeliveryWaitMs;

      const Result r = Run(On(command.args(dir_.string())));

      if (m.delivered) {
        EXPECT_EQ(r.status, 0) << r.err;
        const auto held = sim->File(command.module_file);
        ASSERT_TRUE(held.has_value());
        EXPECT_EQ(held->size(), command.content_length);
      } else {
        EXPECT_EQ(r.status, 1) << r.out;
        const std::string last = r.LastErrLine();
        // Either the writes failed part way, or all went out and the module never confirmed.
        const bool broke = last.find("broke: at most ") != std::string::npos;
        const bool unconfirmed =
            last.find(std::to_string(command.content_length) +
                      " bytes sent, delivery not confirmed (") != std::string::npos;
        EXPECT_TRUE(broke || unconfirmed) << last;
        if (*m.says) {
          EXPECT_NE(last.find(m.says), std::string::npos) << last;
        }
        if (m.module_has_it) {
          EXPECT_NE(sim->File(command.module_file), before);
        } else {
          EXPECT_EQ(sim->File(command.module_file), before);
        }
        // Nothing that would act on the content went out after it.
        for (const Bytes& frame : Frames()) {
          ASSERT_GT(frame.size(), wire::kReplyCode);
          EXPECT_NE(frame[wire::kReplyCode], wire::CMD_GET_IMAGE_CHECKSUM);
          EXPECT_NE(frame[wire::kReplyCode], wire::CMD_RELOAD_AD_REF);
        }
      }
      sim->Stop();
    }
  }
}

}  // namespace
}  // namespace zvk::cli
