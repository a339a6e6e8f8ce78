#include "cli/terminal.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zvk::cli {

#ifdef _WIN32
namespace {

bool IsConsole(DWORD std_handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(std_handle), &mode) != 0;
}

}  // namespace

bool StdinIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}

Utf8ConsoleOutput::Utf8ConsoleOutput() {
  if (!IsConsole(STD_OUTPUT_HANDLE) && !IsConsole(STD_ERROR_HANDLE)) return;
  const UINT current = ::GetConsoleOutputCP();
  if (current == CP_UTF8 || current == 0) return;
  if (::SetConsoleOutputCP(CP_UTF8)) previous_ = current;
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
  if (previous_ != 0) ::SetConsoleOutputCP(previous_);
}

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring wide(argv[i]);
    std::string utf8;
    if (!wide.empty()) {
      const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
      utf8.resize(static_cast<std::size_t>(size));
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                            size, nullptr, nullptr);
    }
    args.push_back(std::move(utf8));
  }
  return args;
}
#else
bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

Utf8ConsoleOutput::Utf8ConsoleOutput() = default;
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;
#endif

}  // namespace zvk::cli
