// The console the program runs in, on POSIX and on Windows: whether a person sits at standard
// input, the text encoding of what is printed, and the command line as UTF-8.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zvk::cli {

struct CliEnv;

// A console or terminal, not merely a character device (on Windows NUL is one too).
bool StdinIsTerminal();

// The terminal's part of a run's outside world: questions are read from standard input only when
// it is a terminal (with none, a command that asks refuses), and the status line and progress
// bars go to standard error only when that is one.
void AttachTerminal(CliEnv& env);

// While it lives, a console that std::cout or std::cerr writes to shows UTF-8, the encoding of
// every text the program prints (℃, ℉ and the module's 8-bit texts): the console's output code
// page is UTF-8 and the streams write their bytes to it directly, past the C runtime (which may
// convert them from the ANSI code page on the way). The console's previous code page and the
// streams' buffers are put back at the end. Redirected output and POSIX terminals are left
// alone.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

#ifdef _WIN32
// The arguments after the program name as UTF-8, from the wide command line (the narrow one is
// in the ANSI code page, which cannot hold most of what a person may type).
std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv);
#endif

}  // namespace zvk::cli
