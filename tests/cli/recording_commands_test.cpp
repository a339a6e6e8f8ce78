// `zvk log` run in-process against the simulator on loopback: rows across the module dropping out
// and coming back, the ends of a run, the files it refuses, and its live status line.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/zvk_cli.h"
#include "cli_fixture.h"
#include "link/wire.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"

namespace zvk::cli {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const Bytes kGetDevice{0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00};
const Bytes kReadData{0x5A, 0x35, 0x77, 0xA5, 0xD8};
const std::string kThHeader = "time,TH0,TH1,TH2,TH3,TH4,TH5,TH6,TH7";
const std::regex kDataRow(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d(,[^,]+){8})");
const std::regex kGapRow(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,{8})");

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a new file's rows on Windows
    lines.push_back(line);
  }
  return lines;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The rows of a recording as letters: D for values, G for a gap, ? for anything else.
std::string RowKinds(const fs::path& path) {
  std::string kinds;
  const auto lines = Lines(ReadFile(path));
  for (std::size_t i = 1; i < lines.size(); ++i)
    kinds += std::regex_match(lines[i], kDataRow)  ? 'D'
             : std::regex_match(lines[i], kGapRow) ? 'G'
                                                   : '?';
  return kinds;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class cliLog : public ::testing::Test {
 protected:
  void SetUp() override {
    // Unique to this run: test runs of other checkouts on the machine share the temp folder.
    dir =
        fs::temp_directory_path() /
        ("zvk-log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = (dir / "run.csv").string();
  }
  void TearDown() override {
    if (sim) sim->Stop();
    fs::remove_all(dir);
  }
  void StartModule(sim::Model model, std::uint16_t port = 0) {
    sim::Options options;
    options.model = model;
    options.port = port;
    sim = std::make_unique<sim::Simulator>(options);
    sim->Start();
  }
  Result Log(std::vector<std::string> args, int status_columns = 0) {
    std::vector<std::string> all{
        "--host", "127.0.0.1", "--port", std::to_string(sim->Port()), "--skip-wifi-check", "log"};
    all.insert(all.end(), args.begin(), args.end());
    CliEnv env{network, &hosts, nullptr};
    env.status_columns = status_columns;
    std::ostringstream out, err;
    Result r;
    r.status = RunZvk(all, out, err, env);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  std::unique_ptr<sim::Simulator> sim;
  fs::path dir;
  std::string file;
};

TEST_F(cliLog, KeepsRecordingWhileTheModuleStopsAndIdentifiesItAgainWhenItIsBack) {
  StartModule(sim::Model::Qn6);
  const std::uint16_t port = sim->Port();
  Result r;
  std::thread run([&] { r = Log({file, "--interval", "0.05", "--count", "80"}); });

  EXPECT_TRUE(WaitFor([&] { return RowKinds(file).size() >= 3; }, std::chrono::seconds(5)));
  sim->Stop();
  EXPECT_TRUE(WaitFor([&] { return RowKinds(file).find("GGG") != std::string::npos; },
                      std::chrono::seconds(5)));
  StartModule(sim::Model::Qn6, port);
  run.join();

  ASSERT_EQ(r.status, 0) << r.err;
  const std::string kinds = RowKinds(file);
  ASSERT_EQ(kinds.size(), 80u);
  EXPECT_TRUE(std::regex_match(kinds, std::regex("D{3,}G{3,}D+"))) << kinds;
  EXPECT_EQ(Lines(ReadFile(file))[0], kThHeader);
  // The module that came back was asked who it is before it was polled again.
  const auto frames = sim->Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[0], kGetDevice);
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i], kReadData) << i;

  const std::size_t gaps = std::count(kinds.begin(), kinds.end(), 'G');
  EXPECT_EQ(r.out, "\"" + file + "\": 80 rows written (" + std::to_string(gaps) + " gaps)\n");
  // Each change is told once on standard error: readings lost (why), the module back.
  const auto err = Lines(r.err);
  ASSERT_GE(err.size(), 2u) << r.err;
  const std::string unreachable =
      " no readings: module not reachable at 127.0.0.1:" + std::to_string(port) +
      ": connection refused (Connect Timeout)";
  bool told_unreachable = false;
  for (std::size_t i = 0; i + 1 < err.size(); ++i) {
    EXPECT_NE(err[i].find(" no readings: "), std::string::npos) << err[i];
    told_unreachable = told_unreachable || err[i].find(unreachable) != std::string::npos;
  }
  EXPECT_TRUE(told_unreachable) << r.err;
  EXPECT_NE(err.back().find(" the module answers again (zVK-QN6 Thermistor Input Module)"),
            std::string::npos)
      << r.err;
}

TEST_F(cliLog, EndsAfterItsCountOrDurationAndASecondRunContinuesTheFile) {
  StartModule(sim::Model::Km3);
  Result first = Log({file, "--count", "3", "--interval", "0"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "\"" + file + "\": 3 rows written (0 gaps)\n");

  // Polls start at 0, 0.1 and 0.2 s; the next would start at the end of the 0.25 s.
  const auto start = std::chrono::steady_clock::now();
  Result second = Log({file, "--duration", "0.25s", "--interval", "0.1"});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "\"" + file + "\": 3 rows written (0 gaps)\n");
  EXPECT_GE(elapsed, std::chrono::milliseconds(200));
  EXPECT_LT(elapsed, std::chrono::milliseconds(1500));

  const auto lines = Lines(ReadFile(file));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4");
  const std::regex row(R"([0-9T:.+-]{29}(,-?\d+\.\d{4}){5})");
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
  EXPECT_EQ(second.err, "");
}

// A data poll answered with another command's reply (here the identity record, whose bytes the
// window would decode as 5.2710E+272 or "Range?") holds no readings: a gap, as `read` refuses it.
// A run that never got one reading ends with status 1.
TEST_F(cliLog, AReplyToAnotherCommandIsAGapAndARunWithoutReadingsFails) {
  StartModule(sim::Model::Qn6);
  struct Case {
    int faulty_polls;
    const char* kinds;
    int status;
  };
  for (const Case c : {Case{1, "GDD", 0}, Case{1000, "GGG", 1}}) {
    SCOPED_TRACE(c.kinds);
    fs::remove(file);
    sim->ClearFaults();
    sim->InjectFault(sim::Fault::OtherReply, c.faulty_polls, wire::CMD_READ_DATA);
    const Result r = Log({file, "--count", "3", "--interval", "0"});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(RowKinds(file), c.kinds) << ReadFile(file);
    EXPECT_NE(r.err.find("no readings: the data poll was not acknowledged: the reply is for "
                         "command 33, not 216"),
              std::string::npos)
        << r.err;
    if (c.status != 0) {
      EXPECT_EQ(Lines(r.err).back(),
                "zvk: the module never answered during the run: the data poll was not "
                "acknowledged: the reply is for command 33, not 216");
    }
  }
}

TEST_F(cliLog, RefusesAFileThatHoldsSomethingElseAndLeavesItAlone) {
  StartModule(sim::Model::Qn6);
  fs::create_directories(dir / "folder");
  struct Case {
    const char* what;
    std::string path;
    std::string content;  // empty: none written
    std::string reason;
    std::vector<Bytes> frames;
  };
  std::vector<Case> cases = {
      // Known only once the module has said which it is.
      {"the other module's recording",
       (dir / "km3.csv").string(),
       "time,AI0,AI1,AI2,AI3,AI4\n2026-01-01T00:00:00.000+00:00,1,2,3,4,5\n",
       "holds other columns: \"time,AI0,AI1,AI2,AI3,AI4\", not \"" + kThHeader + "\"",
       {kGetDevice}},
      {"no recording at all",
       (dir / "notes.txt").string(),
       "shopping list\nmilk\n",
       "holds no recording of readings",
       {}},
      {"a folder", (dir / "folder").string(), "", "is a folder, not a file", {}},
      {"a folder that is not there",
       (dir / "nowhere" / "run.csv").string(),
       "",
       "the folder does not exist",
       {}},
  };
#ifndef _WIN32
  // Refused before it is opened: a FIFO nobody reads would hold the open forever.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  cases.push_back({"a FIFO", (dir / "fifo").string(), "", "is a FIFO, not a file", {}});
  fs::create_symlink("/dev/null", dir / "null.csv");
  cases.push_back(
      {"a link to a device", (dir / "null.csv").string(), "", "is a character device", {}});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.content.empty()) std::ofstream(c.path, std::ios::binary) << c.content;
    sim->ClearFrames();
    Result r = Log({c.path, "--count", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const auto err = Lines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_EQ(err[0].rfind("zvk: ", 0), 0u) << err[0];
    EXPECT_NE(err[0].find(c.reason), std::string::npos) << err[0];
    EXPECT_EQ(sim->Frames(), c.frames);
    if (!c.content.empty()) {
      EXPECT_EQ(ReadFile(c.path), c.content);
    }
  }
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST_F(cliLog, UsageErrorsSendNothing) {
  StartModule(sim::Model::Qn6);
  const std::vector<std::string> cases[] = {
      {file, "--count", "3", "--duration", "10"},
      {file, "--duration", "5x"},
      {file, "--duration", "0"},
      {file, "--duration", "400d"},
      {file, "--interval", "-1"},
      {file, "--interval", "100000"},
      {file, "--count", "0"},
      {file, "--count", ""},
      {file, "--count", "0x10"},
      {file, "--interval", ""},
      {file, "--interval", "nan"},
      {"-", "--count", "1"},  // standard output is no file to continue
      {file, "--rotate", "weekly"},
      {file, "--rotate", "100"},  // smaller than a file worth finishing
      {file, "--rotate", "0"},
      {file, "--rotate", "10MB"},
      {file, "--rotate", "daily", "--keep", "0"},
      {file, "--rotate", "daily", "--keep", "x"},
      {file, "--keep", "3"},  // only finished files are kept or removed
      {file, "--gzip"},
      {file, "--metrics", "x"},
      {file, "--metrics", "70000"},
      {file, "--metrics", "localhost:9464"},  // an address, never a name looked up
      {},
  };
  for (const auto& args : cases) {
    Result r = Log(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
  EXPECT_TRUE(sim->Frames().empty());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(fs::exists("-"));
}

TEST_F(cliLog, RotatesBySizeBetweenRowsAndCountsTheRowsOfEveryFile) {
  StartModule(sim::Model::Km3);
  Result r = Log({file, "--rotate", "1K", "--count", "20", "--interval", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\"" + file + "\": 20 rows written (0 gaps)\n");
  // Rows of about 70 bytes: one file finished once it held 1K, the rest in the file itself.
  const fs::path finished = dir / "run.1.csv";
  ASSERT_TRUE(fs::exists(finished));
  EXPECT_FALSE(fs::exists(dir / "run.2.csv"));
  EXPECT_GE(fs::file_size(finished), 1024u);
  const std::regex row(R"([0-9T:.+-]{29}(,-?\d+\.\d{4}){5})");
  std::size_t rows = 0;
  for (const fs::path& path : {finished, fs::path(file)}) {
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.back(), '\n');
    const auto lines = Lines(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4");
    for (std::size_t i = 1; i < lines.size(); ++i)
      EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
    rows += lines.size() - 1;
  }
  EXPECT_EQ(rows, 20u);
}

TEST_F(cliLog, LiveStatusOnATerminalIsOneLineRewrittenInPlace) {
  StartModule(sim::Model::Qn6);
  sim->SetSensorType(7, 0x00);
  Result r = Log({file, "--count", "3", "--interval", "0"}, 40);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;
  // Each update starts at the beginning of the line and fits in 39 columns; the line is wiped
  // at the end.
  std::vector<std::string> shown;
  std::istringstream in(r.err);
  for (std::string part; std::getline(in, part, '\r');)
    if (!part.empty() && part.find_first_not_of(' ') != std::string::npos) shown.push_back(part);
  ASSERT_FALSE(shown.empty());
  EXPECT_TRUE(std::regex_match(
      shown.back(),
      std::regex("3 rows, 0 gaps \\| TH0 \\d\\d\\.\\d\u2103 TH1 \\d\\d\\.\\d\u2103 TH")))
      << shown.back();
  EXPECT_EQ(r.err.substr(r.err.size() - 41), "\r" + std::string(39, ' ') + "\r");
  // Without a terminal there is no status line.
  Result plain = Log({file, "--count", "1"});
  EXPECT_EQ(plain.err, "");
}

}  // namespace
}  // namespace zvk::cli
