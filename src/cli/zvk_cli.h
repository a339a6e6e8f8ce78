// The `zvk` command: parses the command line and runs one command over the core's window
// models, so the bytes on the wire are the ones the desktop windows send.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/session.h"

namespace zvk::cli {

// Runs `zvk` with argv[0] the program name; returns the exit status (0, 1 failed, 2 usage).
int RunZvk(int argc, const char* const* argv, std::ostream& out, std::ostream& err, CliEnv& env);
// The same with the arguments after the program name.
int RunZvk(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CliEnv& env);

}  // namespace zvk::cli
