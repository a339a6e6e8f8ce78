// How a command ends when it cannot do what was asked: the exit status and the one line that
// says why.
#pragma once

#include <stdexcept>
#include <string>

namespace zvk::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed =
    1;  // module absent, unreachable, silent, refusing; input refused
inline constexpr int kExitUsage = 2;

class CliError : public std::runtime_error {
 public:
  CliError(int exit_code, const std::string& reason)
      : std::runtime_error(reason), exit_code_(exit_code) {}
  int exit_code() const { return exit_code_; }

 private:
  int exit_code_;
};

inline CliError Failed(const std::string& reason) {
  return CliError(kExitFailed, reason);
}
inline CliError UsageError(const std::string& reason) {
  return CliError(kExitUsage, reason);
}

}  // namespace zvk::cli
