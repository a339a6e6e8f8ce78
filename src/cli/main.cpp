// zvk: the command-line front end. Builds the real seams and runs one command.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/term/live_status.h"
#include "cli/term/standard_output.h"
#include "cli/term/terminal.h"
#include "cli/zvk_cli.h"
#include "link/tcp.h"

#ifdef __linux__
#include <unistd.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

// `publish` needs the shared MQTT client library, and `--metrics` the shared HTTP library, which
// this statically linked program cannot load: they run in zvk-publish, where the trend window's
// library lives (../lib/zvk-analog from this program's folder, in the build tree as once
// installed). Without it, the command table says that they are not available.
void HandOverPublish(int argc, char** argv) {
  // Every other command starts without parsing anything twice.
  bool named = false;
  for (int i = 1; i < argc && !named; ++i) {
    const std::string_view arg(argv[i]);
    named = arg == "publish" || arg == "--metrics" || arg.substr(0, 10) == "--metrics=";
  }
  if (!named) return;
  const std::optional<std::string> command = zvk::cli::RequestedCommand(argc, argv);
  if (!command || (*command != "publish" && *command != "log")) return;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return;
  const std::filesystem::path gateway =
      self.parent_path().parent_path() / "lib" / "zvk-analog" / "zvk-publish";
  if (!std::filesystem::is_regular_file(gateway, ec)) return;
  ::execv(gateway.c_str(), argv);
}

}  // namespace
#endif

namespace {

int Run(const std::vector<std::string>& args) {
  const zvk::cli::Utf8ConsoleOutput console;
  const zvk::cli::StandardOutput standard_output;
  zvk::SystemNetwork network;
  zvk::cli::CliEnv env{network};
  zvk::cli::AttachTerminal(env);
  const int code = zvk::cli::RunZvk(args, std::cout, std::cerr, env);
  // Everything out while the console still shows UTF-8.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  return code;
}

}  // namespace

#ifdef _WIN32
// The wide entry point (linked with -municode): the narrow argv is in the ANSI code page.
int wmain(int argc, wchar_t** argv) {
  return Run(zvk::cli::Utf8Arguments(argc, argv));
}
#else
int main(int argc, char** argv) {
#ifdef __linux__
  HandOverPublish(argc, argv);
#endif
  return Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
#endif
