// The console the program runs in, on POSIX and on Windows: whether a person sits at standard
// input, the text encoding of what is printed, and the command line as UTF-8.
#pragma once

#include <string>
#include <vector>

namespace zvk::cli {

// A console or terminal, not merely a character device (on Windows NUL is one too).
bool StdinIsTerminal();

// While it lives, a console that standard output or error writes to shows UTF-8, the encoding of
// every text the program prints (℃, ℉ and the module's 8-bit texts); the console's previous code
// page is put back at the end. Redirected output and POSIX terminals are left alone.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  unsigned previous_ = 0;  // 0: nothing changed
};

#ifdef _WIN32
// The arguments after the program name as UTF-8, from the wide command line (the narrow one is
// in the ANSI code page, which cannot hold most of what a person may type).
std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv);
#endif

}  // namespace zvk::cli
