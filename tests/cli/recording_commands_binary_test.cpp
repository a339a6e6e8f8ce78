// The built zvk program logging as a process: stopped by SIGINT or SIGTERM it closes the file
// cleanly; killed outright it leaves every row it wrote whole, and the next run continues the file.
// POSIX processes and signals; the Windows console's control events are not sent this way.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"

extern char** environ;

namespace zvk::cli {
namespace {

namespace fs = std::filesystem;

const std::regex kRow(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d(,-?\d+\.\d{4}){5})");

std::vector<std::string> Lines(const fs::path& path, bool* ends_whole = nullptr) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  if (ends_whole) *ends_whole = s.empty() || s.back() == '\n';
  std::vector<std::string> lines;
  std::istringstream lines_in(s);
  for (std::string line; std::getline(lines_in, line);) lines.push_back(line);
  return lines;
}

// zvk as a child with its output in files.
class Child {
 public:
  Child(const std::vector<std::string>& args, const fs::path& out, const fs::path& err) {
    const char* bin_dir = std::getenv("ZVK_BIN_DIR");
    EXPECT_NE(bin_dir, nullptr) << "ZVK_BIN_DIR is set by CTest";
    const std::string program = std::string(bin_dir ? bin_dir : ".") + "/zvk";
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

class cliLogProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zvk-log-process-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    sim::Options options;
    options.model = sim::Model::Km3;
    module = std::make_unique<sim::Simulator>(options);
    module->Start();
  }
  void TearDown() override {
    module->Stop();
    fs::remove_all(dir);
  }
  std::vector<std::string> Args(const std::vector<std::string>& log_args) const {
    std::vector<std::string> args{
        "--host", "127.0.0.1",  "--port", std::to_string(module->Port()), "--skip-wifi-check",
        "log",    file.string()};
    args.insert(args.end(), log_args.begin(), log_args.end());
    return args;
  }
  bool WaitForRows(std::size_t rows) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Lines(file).size() < rows + 1) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  fs::path dir;
  fs::path file;
  std::unique_ptr<sim::Simulator> module;
};

TEST_F(cliLogProcess, StopSignalsCloseTheFileCleanlyAndEndWithASummary) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    file = dir / ("run-" + std::to_string(signal) + ".csv");
    Child zvk(Args({"--interval", "0.05"}), dir / "out", dir / "err");
    ASSERT_TRUE(WaitForRows(3));
    zvk.Signal(signal);
    const int status = zvk.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    bool whole = false;
    const auto lines = Lines(file, &whole);
    EXPECT_TRUE(whole);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4");
    for (std::size_t i = 1; i < lines.size(); ++i)
      EXPECT_TRUE(std::regex_match(lines[i], kRow)) << lines[i];
    EXPECT_EQ(Lines(dir / "out"), std::vector<std::string>{"\"" + file.string() + "\": " +
                                                           std::to_string(lines.size() - 1) +
                                                           " rows written (0 gaps)"});
  }
}

TEST_F(cliLogProcess, AKilledRecordingKeepsEveryRowWholeAndIsContinued) {
  file = dir / "killed.csv";
  {
    Child zvk(Args({"--interval", "0"}), dir / "out", dir / "err");
    ASSERT_TRUE(WaitForRows(30));
    zvk.Signal(SIGKILL);
    const int status = zvk.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
  }
  bool whole = false;
  const auto killed = Lines(file, &whole);
  EXPECT_TRUE(whole) << "a row was cut";
  ASSERT_GE(killed.size(), 31u);
  for (std::size_t i = 1; i < killed.size(); ++i)
    ASSERT_TRUE(std::regex_match(killed[i], kRow)) << i << ": " << killed[i];

  Child again(Args({"--count", "2", "--interval", "0"}), dir / "out", dir / "err");
  const int status = again.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const auto continued = Lines(file);
  ASSERT_EQ(continued.size(), killed.size() + 2);
  EXPECT_TRUE(std::equal(killed.begin(), killed.end(), continued.begin()));
  EXPECT_TRUE(std::regex_match(continued.back(), kRow)) << continued.back();
}

// As logrotate does: the file moved away, then SIGHUP; the next rows go to a new file of the
// name, begun with its header. A SIGHUP with the file still there continues it.
TEST_F(cliLogProcess, SighupReopensTheFileAtItsName) {
  file = dir / "hup.csv";
  const fs::path moved = dir / "hup.csv.1";
  Child zvk(Args({"--interval", "0.05"}), dir / "out", dir / "err");
  ASSERT_TRUE(WaitForRows(2));
  fs::rename(file, moved);
  zvk.Signal(SIGHUP);
  ASSERT_TRUE(WaitForRows(2));
  zvk.Signal(SIGHUP);
  ASSERT_TRUE(WaitForRows(4));
  zvk.Signal(SIGINT);
  const int status = zvk.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::size_t rows = 0;
  for (const fs::path& path : {moved, file}) {
    bool whole = false;
    const auto lines = Lines(path, &whole);
    EXPECT_TRUE(whole) << path;
    ASSERT_GE(lines.size(), 3u) << path;
    EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4") << path;
    for (std::size_t i = 1; i < lines.size(); ++i)
      EXPECT_TRUE(std::regex_match(lines[i], kRow)) << path << ": " << lines[i];
    rows += lines.size() - 1;
  }
  EXPECT_EQ(Lines(dir / "out"),
            std::vector<std::string>{"\"" + file.string() + "\": " + std::to_string(rows) +
                                     " rows written (0 gaps)"});
}

}  // namespace
}  // namespace zvk::cli
#endif  // _WIN32
