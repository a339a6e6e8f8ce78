// zvk: the command-line front end. Builds the real seams and runs one command.
#include <iostream>
#include <optional>
#include <string>

#include "cli/live_status.h"
#include "cli/terminal.h"
#include "cli/zvk_cli.h"
#include "link/tcp.h"

int main(int argc, char** argv) {
  zvk::SystemNetwork network;
  zvk::cli::CliEnv env{network};
  // Questions are asked only on a terminal; with none, a command that asks refuses.
  if (zvk::cli::StdinIsTerminal()) {
    env.read_answer = []() -> std::optional<std::string> {
      std::string line;
      if (!std::getline(std::cin, line)) return std::nullopt;
      return line;
    };
  }
  env.status_columns = zvk::cli::StderrTerminalColumns();
  env.progress_terminal = env.status_columns > 0;
  return zvk::cli::RunZvk(argc, argv, std::cout, std::cerr, env);
}
