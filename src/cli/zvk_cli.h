// The `zvk` command: parses the command line and runs one command over the core's window
// models, so the bytes on the wire are the ones the desktop windows send.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/session.h"

namespace zvk::cli {

// Runs `zvk` with argv[0] the program name; returns the exit status (0, 1 failed, 2 usage).
int RunZvk(int argc, const char* const* argv, std::ostream& out, std::ostream& err, CliEnv& env);
// The command the arguments ask for ("read", "publish"), without running it; none when they
// name none.
std::optional<std::string> RequestedCommand(int argc, const char* const* argv);
// The same with the arguments after the program name.
int RunZvk(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CliEnv& env);

}  // namespace zvk::cli
