#include "support/child_process.h"

#include <cstdlib>
#include <utility>

namespace zvk::test {

std::optional<std::string> ChildProcess::ReadLine() {
  while (true) {
    const std::size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (!Fill()) break;
  }
  if (buffered_.empty()) return std::nullopt;
  return std::exchange(buffered_, {});
}

std::string ChildProcess::ReadAll() {
  while (Fill()) {
  }
  return std::exchange(buffered_, {});
}

std::optional<std::filesystem::path> BuiltProgram(const std::string& name) {
  const char* dir = std::getenv("ZVK_BIN_DIR");
  if (dir == nullptr || *dir == '\0') return std::nullopt;
#ifdef _WIN32
  const std::filesystem::path program = std::filesystem::path(dir) / (name + ".exe");
#else
  const std::filesystem::path program = std::filesystem::path(dir) / name;
#endif
  if (!std::filesystem::exists(program)) return std::nullopt;
  return program;
}

}  // namespace zvk::test
