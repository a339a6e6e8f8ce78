#include "cli/term/terminal.h"

#include <iostream>
#include <optional>

#include "cli/term/live_status.h"
#include "cli/session.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string_view>
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

namespace {

// The bytes of a stream written to a console handle as they are, a line at a time (a row of
// `read` shows when it is printed), each write ending on a whole UTF-8 character.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ~ConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return sync() == 0 ? 0 : c;
    pending_ += traits_type::to_char_type(c);
    if (pending_.size() >= kChunk || c == '\n') WriteWhole();
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    if (pending_.size() >= kChunk ||
        std::string_view(text, static_cast<std::size_t>(count)).find('\n') !=
            std::string_view::npos)
      WriteWhole();
    return count;
  }
  int sync() override {
    WriteWhole();
    return 0;
  }

 private:
  static constexpr std::size_t kChunk = 4096;

  void WriteWhole() {
    // Up to the last character that is complete; its continuation bytes may follow later.
    std::size_t end = pending_.size();
    std::size_t lead = end;
    while (lead > 0 && (static_cast<unsigned char>(pending_[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      const auto first = static_cast<unsigned char>(pending_[lead - 1]);
      const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
      if (end - (lead - 1) < length) end = lead - 1;
    }
    std::size_t done = 0;
    while (done < end) {
      DWORD written = 0;
      if (!::WriteFile(console_, pending_.data() + done, static_cast<DWORD>(end - done), &written,
                       nullptr) ||
          written == 0) {
        break;  // a console that went away: the rest is dropped, as the C runtime would
      }
      done += written;
    }
    pending_.erase(0, end);
  }

  HANDLE console_;
  std::string pending_;
};

}  // namespace

struct Utf8ConsoleOutput::Impl {
  UINT previous_page = 0;  // 0: not changed
  std::unique_ptr<ConsoleBuffer> out, err;
  std::streambuf* saved_out = nullptr;
  std::streambuf* saved_err = nullptr;
};

Utf8ConsoleOutput::Utf8ConsoleOutput() : impl_(std::make_unique<Impl>()) {
  const bool out = IsConsole(STD_OUTPUT_HANDLE);
  const bool err = IsConsole(STD_ERROR_HANDLE);
  if (!out && !err) return;
  const UINT current = ::GetConsoleOutputCP();
  if (current != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) impl_->previous_page = current;
  if (::GetConsoleOutputCP() != CP_UTF8) return;  // no UTF-8 console: leave the streams alone
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  if (out) {
    impl_->out = std::make_unique<ConsoleBuffer>(::GetStdHandle(STD_OUTPUT_HANDLE));
    impl_->saved_out = std::cout.rdbuf(impl_->out.get());
  }
  if (err) {
    impl_->err = std::make_unique<ConsoleBuffer>(::GetStdHandle(STD_ERROR_HANDLE));
    impl_->saved_err = std::cerr.rdbuf(impl_->err.get());
  }
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
  std::cout.flush();
  std::cerr.flush();
  if (impl_->saved_out) std::cout.rdbuf(impl_->saved_out);
  if (impl_->saved_err) std::cerr.rdbuf(impl_->saved_err);
  impl_->out.reset();
  impl_->err.reset();
  if (impl_->previous_page != 0) ::SetConsoleOutputCP(impl_->previous_page);
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

struct Utf8ConsoleOutput::Impl {};
Utf8ConsoleOutput::Utf8ConsoleOutput() = default;
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;
#endif

void AttachTerminal(CliEnv& env) {
  if (StdinIsTerminal()) {
    env.read_answer = []() -> std::optional<std::string> {
      std::string line;
      if (!std::getline(std::cin, line)) return std::nullopt;
      return line;
    };
  }
  env.status_columns = StderrTerminalColumns();
  env.progress_terminal = env.status_columns > 0;
}

}  // namespace zvk::cli
