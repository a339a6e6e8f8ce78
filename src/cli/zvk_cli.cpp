#include "cli/zvk_cli.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "util/message_text.h"

namespace zvk::cli {

namespace {

constexpr const char* kFooter =
    "Exit status: 0 done (and acknowledged where the module acknowledges); 1 module not found,\n"
    "unreachable, silent or refusing, or input refused; 2 usage error.";

// The first argument that is neither an option nor an option's value: the command asked for.
std::optional<std::string> NamedCommand(const CLI::App& cli, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return i + 1 < argc ? std::optional<std::string>(argv[i + 1]) : std::nullopt;
    if (arg.size() > 1 && arg[0] == '-') {
      if (arg.rfind("--", 0) == 0 && arg.find('=') == std::string::npos) {
        const CLI::Option* option = cli.get_option_no_throw(arg);
        if (option && option->get_items_expected_min() > 0) ++i;  // its value
      }
      continue;
    }
    return arg;
  }
  return std::nullopt;
}

// The options before the command; returns --host's.
CLI::Option* DefineGlobalOptions(CLI::App& cli, GlobalOptions& options, std::string& host,
                                 std::string& port_text) {
  CLI::Option* host_option =
      cli.add_option("--host", host,
                     "Module address, applied like the \"Static IP\" button (default " +
                         std::string(wire::kDefaultHost) + ")");
  cli.add_option("--port", port_text, "The module's command port, 1 to 65535")
      ->type_name("INT")
      ->capture_default_str();
  cli.add_flag("--skip-wifi-check", options.skip_wifi_check,
               "Count the connection check as one match without scanning the interfaces "
               "(a module on loopback); needs --host")
      ->needs(host_option);
  cli.add_flag("--yes", options.yes, "Answer Yes to every confirmation");
  cli.add_flag("--verbose", options.verbose,
               "Copy the log (\"log: \") and the status line (\"status: \") to standard error");
  return host_option;
}

bool IsCommand(const std::string& name) {
  for (const CommandEntry& entry : CommandTable())
    if (name == entry.name) return true;
  return false;
}

}  // namespace

const std::vector<CommandEntry>& CommandTable() {
  static const std::vector<CommandEntry> table = [] {
    std::vector<CommandEntry> t;
    AddMonitorCommands(t);
    AddAdminCommands(t);
    AddRecordingCommands(t);
    AddPublishCommand(t);
    AddFirmwareCommand(t);
    AddCalibrationCommands(t);
    return t;
  }();
  return table;
}

std::optional<std::string> RequestedCommand(int argc, const char* const* argv) {
  GlobalOptions options;
  std::string host, port_text;
  CLI::App cli;
  cli.allow_windows_style_options(false);
  DefineGlobalOptions(cli, options, host, port_text);
  return NamedCommand(cli, argc, argv);
}

int RunZvk(int argc, const char* const* argv, std::ostream& out, std::ostream& err, CliEnv& env) {
  GlobalOptions options;
  std::string host;
  std::string port_text = std::to_string(wire::kDefaultPort);
  // Error messages echo arguments; one pasted by mistake may be megabytes long.
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto report = [&](const std::string& reason) {
    err << "zvk: " << WithArgumentsShortened(reason, arguments) << '\n';
  };

  CLI::App cli{"Monitor and configure zVK analog input modules over Wi-Fi.", "zvk"};
  cli.footer(kFooter);
  // Module file names start with '/' ("/local/ad_ref.cfg"): never a Windows-style option, on
  // Windows either. Set before the subcommands, which take it over.
  cli.allow_windows_style_options(false);
  cli.require_subcommand(1);
  // Options are "--name" everywhere: module file names ("/local/locate.cfg") start with "/",
  // which CLI11 would otherwise take for an option on Windows.
  cli.allow_windows_style_options(false);
  CLI::Option* host_option = DefineGlobalOptions(cli, options, host, port_text);

  const std::vector<CommandEntry>& table = CommandTable();
  std::vector<std::unique_ptr<Command>> commands;
  std::vector<CLI::App*> subcommands;
  for (const CommandEntry& entry : table) {
    CLI::App* sub = cli.add_subcommand(entry.name, entry.summary);
    sub->group(entry.group);
    commands.push_back(entry.make());
    commands.back()->Define(*sub);
    subcommands.push_back(sub);
  }

  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      cli.exit(e, out, err);
      return kExitOk;
    }
    const std::optional<std::string> named = NamedCommand(cli, argc, argv);
    if (named && !IsCommand(*named))
      report("unknown command '" + *named + "' (see zvk --help)");
    else
      report(std::string(e.what()) + " (see zvk --help)");
    return kExitUsage;
  }

  std::size_t selected = 0;
  while (selected < subcommands.size() && !subcommands[selected]->parsed()) ++selected;
  const CommandEntry& entry = table[selected];
  Command& command = *commands[selected];

  try {
    if (host_option->count() > 0) options.host = host;
    const std::int64_t port = ParseWholeNumber(port_text, "--port");
    if (port < 1 || port > 65535) throw UsageError("--port must be 1 to 65535, not " + port_text);
    options.port = static_cast<std::uint16_t>(port);
    command.Attach(env);
    command.CheckArguments();
    if (entry.asks_confirmation && !options.yes && !env.read_answer)
      throw UsageError(std::string(entry.name) +
                       " asks for confirmation and there is no terminal to ask on; give --yes");
    Session session(env, options, out, err);
    session.Open();
    command.CheckInput(session);
    if (entry.identifies) session.Identify();
    command.Run(session);
    out.flush();
    if (session.dialogs().unanswered_question())
      throw UsageError("a question had no terminal to be asked on and was answered No; give --yes");
    return kExitOk;
  } catch (const CliError& e) {
    out.flush();
    report(e.what());
    return e.exit_code();
  } catch (const std::exception& e) {
    out.flush();
    report(e.what());
    return kExitFailed;
  }
}

int RunZvk(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           CliEnv& env) {
  std::vector<const char*> argv{"zvk"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return RunZvk(static_cast<int>(argv.size()), argv.data(), out, err, env);
}

}  // namespace zvk::cli
