#include "cli/term/live_status.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace zvk::cli {

namespace {
constexpr int kDefaultColumns = 80;
}

int StderrTerminalColumns() {
#ifdef _WIN32
  // A console, not any character device: NUL is one too.
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return kDefaultColumns;
#else
  if (!::isatty(STDERR_FILENO)) return 0;
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultColumns;
#endif
}

std::string FitColumns(const std::string& text, std::size_t columns, std::size_t* used) {
  std::size_t count = 0;
  std::size_t end = 0;
  while (end < text.size()) {
    std::size_t next = end + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    if (count == columns) break;
    ++count;
    end = next;
  }
  if (used) *used = count;
  return text.substr(0, end);
}

void LiveStatus::Show(const std::string& text) {
  if (columns_ <= 0) return;
  // The last column stays free: writing into it makes some terminals wrap.
  std::size_t used = 0;
  const std::string line = FitColumns(text, static_cast<std::size_t>(columns_ - 1), &used);
  out_ << '\r' << line;
  if (used < shown_) out_ << std::string(shown_ - used, ' ') << '\r' << line;
  out_ << std::flush;
  shown_ = used;
}

void LiveStatus::Clear() {
  if (columns_ <= 0 || shown_ == 0) return;
  out_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
  shown_ = 0;
}

}  // namespace zvk::cli
