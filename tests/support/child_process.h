// A built program run as a child process by a test: its standard output read through a pipe, its
// standard error shared with the test's, and never left running after the test.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zvk::test {

// Where the child's standard streams lead besides the output pipe.
struct ChildStreams {
  bool null_input = false;        // standard input from the null device, not the test's
  bool errors_in_output = false;  // standard error into the output pipe too
};

class ChildProcess {
 public:
  // Starts `program` with `args` (UTF-8); throws std::runtime_error when it cannot be started.
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
               ChildStreams streams = {});
  // Ends the child if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of its standard output without the line break; nullopt at the end of it.
  std::optional<std::string> ReadLine();
  // The rest of its standard output.
  std::string ReadAll();
  // Asks it to stop as a user would: SIGTERM on POSIX, Ctrl+Break on Windows (the child runs in
  // a console process group of its own). False when the request could not be delivered.
  bool RequestStop();
  // Waits for it to end: its exit code (on POSIX 128 + the signal that ended it).
  int Wait();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string buffered_;
  bool at_end_ = false;
  // Reads what the pipe has into buffered_; false at the end of the output.
  bool Fill();
};

// A program built beside the tests, in ZVK_BIN_DIR, with the platform's executable suffix;
// nullopt when ZVK_BIN_DIR is not set or the program is not there.
std::optional<std::filesystem::path> BuiltProgram(const std::string& name);

}  // namespace zvk::test
