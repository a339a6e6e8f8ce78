// The built zvk program, run as a child process against the simulator on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "support/child_process.h"
#include "support/rig.h"
#include "util/file_path.h"

namespace zvk::cli {
namespace {

TEST(cliBinary, ReadCsvLogsThreeRows) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  sim::Options options;
  options.model = sim::Model::Km3;
  sim::Simulator module(options);
  const std::uint16_t port = module.Start();

  std::vector<std::string> args = {"--host", "127.0.0.1", "--port", std::to_string(port)};
  args.insert(args.end(),
              {"--skip-wifi-check", "read", "--csv", "--count", "3", "--interval", "0.2"});
  test::ChildProcess child(*zvk, args);
  const std::string out = child.ReadAll();
  EXPECT_EQ(child.Wait(), 0);
  module.Stop();

  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows text stream
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4");
  const std::regex row(R"([0-9T:.+-]{29}(,-?\d+\.\d{4}){5})");
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
  EXPECT_EQ(module.Frames().size(), 4u);
}

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& bytes) {
  return Bytes(bytes.begin(), bytes.end());
}

std::string ReadLocal(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Texts and file names outside ASCII, typed on the command line, as on a Windows whose ANSI code
// page lacks most of them: they reach the module in its 8-bit code and name the same files.
TEST(cliBinary, CommandLineTextOutsideAsciiArrivesAsTyped) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("zvk-binary-text-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir / PathFromUtf8("Messdaten \u00E9t\u00E9"));
  const fs::path notes = dir / PathFromUtf8("notes \u03A9.txt");
  std::ofstream(notes, std::ios::binary) << "Ω notes\n";
  const fs::path recording = dir / PathFromUtf8("Messdaten \u00E9t\u00E9/run \u20AC.csv");

  sim::Options options;
  options.model = sim::Model::Km3;
  sim::Simulator module(options);
  const std::uint16_t port = module.Start();

  struct Case {
    std::vector<std::string> args;
    const char* module_file;            // with what the module must then hold
    std::optional<std::string> stored;  // nullopt: the local file checked instead
  };
  const Case cases[] = {
      {{"--yes", "setup", "location", "Caf\u00E9 25\u00B0 \u20AC"},
       "/local/locate.cfg",
       std::string("\x43\x61\x66\xE9\x20\x32\x35\xB0\x20\x80")},
      {{"--yes", "setup", "ap", "--ssid", "B\u00FCro-AP", "--open"},
       "/local/ap_ssid.cfg",
       std::string("B\xFCro-AP")},
      {{"write-file", "/local/notes.txt", PathToUtf8(notes)},
       "/local/notes.txt",
       std::string("\u03A9 notes\n")},
      {{"log", PathToUtf8(recording), "--count", "1"}, "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args[0] == "--yes" ? 1 : 0]);
    std::vector<std::string> args = {"--host", "127.0.0.1", "--port", std::to_string(port),
                                     "--skip-wifi-check"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    test::ChildProcess child(*zvk, args, {.null_input = true, .errors_in_output = true});
    const std::string out = child.ReadAll();
    EXPECT_EQ(child.Wait(), 0) << out;
    if (c.stored) {
      // The module stores a file once its stream has come in, which may be after zvk ended.
      EXPECT_TRUE(test::WaitForAnnouncedContent(module));
      EXPECT_EQ(module.File(c.module_file), Of(*c.stored)) << out;
    }
  }
  module.Stop();
  const std::string recorded = ReadLocal(recording);
  EXPECT_EQ(recorded.rfind("time,AI0,AI1,AI2,AI3,AI4", 0), 0u) << recorded;
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// With standard input from the null device (`<NUL`, `</dev/null`) there is nobody to ask: a
// command that asks refuses before it sends anything.
TEST(cliBinary, NullInputIsNoTerminalToAskOn) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  sim::Options options;
  options.model = sim::Model::Km3;
  sim::Simulator module(options);
  const std::uint16_t port = module.Start();
  test::ChildProcess child(*zvk,
                           {"--host", "127.0.0.1", "--port", std::to_string(port),
                            "--skip-wifi-check", "setup", "location", "X"},
                           {.null_input = true, .errors_in_output = true});
  const std::string out = child.ReadAll();
  EXPECT_EQ(child.Wait(), 2) << out;
  EXPECT_NE(out.find("no terminal to ask on; give --yes"), std::string::npos) << out;
  EXPECT_EQ(out.find("[y/N]"), std::string::npos) << out;
  module.Stop();
  EXPECT_TRUE(module.Frames().empty());
}

#ifndef _WIN32
// Standard output on a full disk, as the program really writes it: exit 1 and the reason.
TEST(cliBinary, StandardOutputOnAFullDiskIsAFailure) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  sim::Options options;
  options.model = sim::Model::Qn6;
  sim::Simulator module(options);
  const std::uint16_t port = module.Start();
  const std::string command = "exec '" + zvk->string() + "' --host 127.0.0.1 --port " +
                              std::to_string(port) + " --skip-wifi-check info >/dev/full";
  test::ChildProcess child("/bin/sh", {"-c", command},
                           {.null_input = true, .errors_in_output = true});
  const std::string out = child.ReadAll();
  EXPECT_EQ(child.Wait(), 1) << out;
  EXPECT_EQ(out, "zvk: cannot write standard output: No space left on device\n");
  module.Stop();
}
#endif

}  // namespace
}  // namespace zvk::cli
