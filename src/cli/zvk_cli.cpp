#include "cli/zvk_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/fleet_run.h"
#include "cli/term/standard_output.h"
#include "cli/term/stop_request.h"
#include "fleet/inventory.h"
#include "util/message_text.h"

namespace zvk::cli {

namespace {

constexpr const char* kFooter =
    "Exit status: 0 done (and acknowledged where the module acknowledges); 1 module not found,\n"
    "unreachable, silent or refusing, or input refused; 2 usage error.";

// The index of the first argument that is neither an option nor an option's value: the
// command asked for.
std::optional<int> CommandIndex(const CLI::App& cli, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return i + 1 < argc ? std::optional<int>(i + 1) : std::nullopt;
    if (arg.size() > 1 && arg[0] == '-') {
      if (arg.rfind("--", 0) == 0 && arg.find('=') == std::string::npos) {
        const CLI::Option* option = cli.get_option_no_throw(arg);
        if (option && option->get_items_expected_min() > 0) ++i;  // its value
      }
      continue;
    }
    return i;
  }
  return std::nullopt;
}

std::optional<std::string> NamedCommand(const CLI::App& cli, int argc, const char* const* argv) {
  const std::optional<int> index = CommandIndex(cli, argc, argv);
  return index ? std::optional<std::string>(argv[*index]) : std::nullopt;
}

// Commands that make sense for one module at a time: a calibration needs a wire on the module
// being calibrated, and a backup is the profile of one module.
bool RunsOverMany(const std::string& name) {
  for (const char* single : {"calibrate", "calibrate-th", "backup"})
    if (name == single) return false;
  return true;
}

// The modules named by --host (repeated) and --hosts FILE, in that order.
std::vector<InventoryEntry> ListedModules(const std::vector<std::string>& hosts,
                                          const std::string& hosts_file, bool file_given) {
  std::vector<InventoryEntry> modules;
  for (const std::string& host : hosts) {
    // A malformed --host is reported by the "Static IP" check of the run itself.
    std::optional<InventoryEntry> entry = ParseModuleAddress(host);
    if (!entry) entry = InventoryEntry{host, std::nullopt};
    if (std::find(modules.begin(), modules.end(), *entry) != modules.end())
      throw UsageError("--host " + host + " is given twice");
    modules.push_back(*entry);
  }
  if (file_given) {
    try {
      for (const InventoryEntry& entry : LoadInventory(hosts_file)) {
        if (std::find(modules.begin(), modules.end(), entry) != modules.end())
          throw UsageError("--hosts: " + entry.Label() + " is also given with --host");
        modules.push_back(entry);
      }
    } catch (const InventoryError& e) {
      throw UsageError(std::string("--hosts: ") + e.what());
    }
  }
  return modules;
}

// The options before the command.
struct GlobalOptionSlots {
  CLI::Option* host;
  CLI::Option* hosts;
};
GlobalOptionSlots DefineGlobalOptions(CLI::App& cli, GlobalOptions& options,
                                      std::vector<std::string>& hosts, std::string& hosts_file,
                                      std::string& port_text) {
  CLI::Option* host_option =
      cli.add_option("--host", hosts,
                     "Module address, applied like the \"Static IP\" button (default " +
                         std::string(wire::kDefaultHost) +
                         "); ADDR:PORT for another port; repeated: run on each module")
          ->type_name("ADDR")
          ->expected(1)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  CLI::Option* hosts_option = cli.add_option(
      "--hosts", hosts_file,
      "Inventory file: one module address a line, or the CSV of zvk scan; run on each module");
  cli.add_option("--port", port_text, "The module's command port, 1 to 65535")
      ->type_name("INT")
      ->capture_default_str();
  cli.add_flag("--skip-wifi-check", options.skip_wifi_check,
               "Count the connection check as one match without scanning the interfaces "
               "(a module on loopback); needs --host or --hosts");
  cli.add_flag("--yes", options.yes, "Answer Yes to every confirmation");
  cli.add_flag("--verbose", options.verbose,
               "Copy the log (\"log: \") and the status line (\"status: \") to standard error");
  return {host_option, hosts_option};
}

// Commands whose step under way must not be cut short: a file announced and never sent, a
// setting half written. While they run, SIGINT and SIGTERM wait for the step to end.
bool ChangesTheModule(const CommandEntry& entry) {
  const std::string name = entry.name;
  return entry.asks_confirmation || name == "write-file" || name == "delete-file";
}

bool IsCommand(const std::string& name) {
  for (const CommandEntry& entry : CommandTable())
    if (name == entry.name) return true;
  return false;
}

// The command on one module: a session, the window's checks of the input, the identification
// and the command itself. Throws why it failed.
void RunOnSession(const CommandEntry& entry, Command& command, const GlobalOptions& options,
                  std::ostream& out, std::ostream& err, CliEnv& env) {
  std::optional<StopScope> scope;
  if (ChangesTheModule(entry)) scope.emplace();
  StopRequest& stop = StopRequest::Get();
  const bool stoppable = StopRequest::Deferring();
  Session session(env, options, out, err);
  session.Open();
  command.CheckInput(session);
  if (entry.identifies) session.Identify();
  if (stoppable && stop.requested())
    throw Failed(kInterruptedBy + stop.what() +
                 " after the identification; nothing sent to change the module");
  command.Run(session);
  out.flush();
  if (session.dialogs().unanswered_question())
    throw UsageError("a question had no terminal to be asked on and was answered No; give --yes");
  // The step under way was finished; the run ends here, and says so (a run over many modules
  // says it for all of them).
  if (scope && scope->outermost() && stop.requested())
    throw Failed(kInterruptedBy + stop.what() +
                 "; what was under way was finished first (above), nothing more was sent");
}

// A failure's one line on standard error; an argument pasted by mistake may be megabytes long.
int Report(const std::exception& e, int code, const std::vector<std::string>& arguments,
           std::ostream& out, std::ostream& err) {
  out.flush();
  err << "zvk: " << WithArgumentsShortened(e.what(), arguments) << '\n';
  return code;
}

// The command on every listed module: one question for all of them first, then a run for each.
int RunOverMany(const CommandEntry& entry, Command& command, bool asks,
                const std::vector<InventoryEntry>& modules, const GlobalOptions& options,
                const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                CliEnv& env) {
  if (!RunsOverMany(entry.name))
    throw UsageError(std::string(entry.name) + " runs on one module at a time, not on " +
                     std::to_string(modules.size()));
  for (const InventoryEntry& module : modules)
    if (!ParseModuleAddress(module.Label()))
      throw UsageError("--host " + module.host + ": not a module address (IPv4, optionally :PORT)");
  FleetPlan plan;
  plan.modules = modules;
  plan.default_port = options.port;
  plan.options = options;
  // Parsed and checked once; each module's run works on its own copy of the command.
  plan.run = [&entry, &command, &arguments](const GlobalOptions& o, std::ostream& module_out,
                                            std::ostream& module_err, CliEnv& module_env) {
    const std::unique_ptr<Command> own = command.Clone();
    own->set_module_count(1);
    try {
      RunOnSession(entry, *own, o, module_out, module_err, module_env);
      return kExitOk;
    } catch (const CliError& e) {
      return Report(e, e.exit_code(), arguments, module_out, module_err);
    } catch (const std::exception& e) {
      return Report(e, kExitFailed, arguments, module_out, module_err);
    }
  };
  if (asks && !options.yes) {
    CliDialogs dialogs(out, err, false, env.read_answer);
    std::string list;
    for (const InventoryEntry& module : modules)
      list += (list.empty() ? "" : ", ") + module.Label();
    const MsgResult answer = dialogs.MessageBox(
        "Confirm",
        std::string(entry.name) + " on " + std::to_string(modules.size()) +
            (modules.size() == 1 ? " module (" : " modules (") + list + "), execute?",
        MsgIcon::Question, MsgButtons::YesNo);
    if (answer != MsgResult::Yes)
      throw Failed(std::string(entry.name) + " not confirmed; nothing sent");
    plan.options.yes = true;
  }
  if (command.RunsOnManyTogether()) {
    std::optional<LockedSleeper> locked;
    if (env.sleeper) locked.emplace(*env.sleeper);
    CliEnv shared{.network = env.network,
                  .hosts = env.hosts,
                  .sleeper = locked ? &*locked : nullptr,
                  .status_columns = env.status_columns};
    std::vector<std::string> labels;
    for (const InventoryEntry& module : modules) labels.push_back(module.Label());
    const auto open = [&](std::size_t i, std::ostream& module_out, std::ostream& module_err) {
      GlobalOptions o = plan.options;
      o.host = modules[i].host;
      o.port = modules[i].port.value_or(options.port);
      o.verbose = false;  // many modules' exchanges interleaved would tell nothing
      auto session = std::make_unique<Session>(shared, o, module_out, module_err);
      session->Open();
      return session;
    };
    return command.RunOnMany(labels, open, out, err);
  }
  return RunFleet(plan, out, err, env);
}

}  // namespace

const std::vector<CommandEntry>& CommandTable() {
  static const std::vector<CommandEntry> table = [] {
    std::vector<CommandEntry> t;
    AddMonitoringCommands(t);
    AddRecordingCommands(t);
    AddPublishingCommands(t);
    AddAdministrationCommands(t);
    AddFirmwareCommands(t);
    AddCalibrationCommands(t);
    AddManyModulesCommands(t);
    AddProfilesCommands(t);
    return t;
  }();
  return table;
}

std::optional<std::string> RequestedCommand(int argc, const char* const* argv) {
  GlobalOptions options;
  std::vector<std::string> hosts;
  std::string hosts_file, port_text;
  CLI::App cli;
  cli.allow_windows_style_options(false);
  DefineGlobalOptions(cli, options, hosts, hosts_file, port_text);
  return NamedCommand(cli, argc, argv);
}

namespace {

int RunCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               CliEnv& env) {
  GlobalOptions options;
  std::vector<std::string> hosts;
  std::string hosts_file;
  std::string port_text = std::to_string(wire::kDefaultPort);
  // Error messages echo arguments; one pasted by mistake may be megabytes long.
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto report = [&](const std::string& reason) {
    err << "zvk: " << WithArgumentsShortened(reason, arguments) << '\n';
  };

  CLI::App cli{"Monitor and configure zVK analog input modules over Wi-Fi.", "zvk"};
  cli.footer(kFooter);
  cli.set_version_flag("--version", std::string("zvk ") + ZVK_VERSION);
  // Module file names start with '/' ("/local/ad_ref.cfg"): never a Windows-style option, on
  // Windows either. Set before the subcommands, which take it over.
  cli.allow_windows_style_options(false);
  cli.require_subcommand(1);
  const GlobalOptionSlots slots = DefineGlobalOptions(cli, options, hosts, hosts_file, port_text);
  CLI::Option* host_option = slots.host;
  CLI::Option* hosts_option = slots.hosts;

  // Defining every command's options is most of the work of a short run (and of each module's
  // run over an inventory): when the arguments name a known command, only that one is defined.
  // Without one, or with an unknown one, all are, for the help and the error message.
  const std::vector<CommandEntry>& table = CommandTable();
  const std::optional<std::string> named = NamedCommand(cli, argc, argv);
  const bool only_named = named && IsCommand(*named);
  std::vector<const CommandEntry*> defined;
  std::vector<std::unique_ptr<Command>> commands;
  std::vector<CLI::App*> subcommands;
  for (const CommandEntry& entry : table) {
    if (only_named && *named != entry.name) continue;
    CLI::App* sub = cli.add_subcommand(entry.name, entry.summary);
    sub->group(entry.group);
    defined.push_back(&entry);
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
    if (named && !IsCommand(*named))
      report("unknown command '" + *named + "' (see zvk --help)");
    else
      report(std::string(e.what()) + " (see zvk --help)");
    return kExitUsage;
  }

  std::size_t selected = 0;
  while (selected < subcommands.size() && !subcommands[selected]->parsed()) ++selected;
  const CommandEntry& entry = *defined[selected];
  Command& command = *commands[selected];

  try {
    if (options.skip_wifi_check && host_option->count() == 0 && hosts_option->count() == 0)
      throw UsageError("--skip-wifi-check needs --host or --hosts");
    const std::int64_t port = ParseWholeNumber(port_text, "--port");
    if (port < 1 || port > 65535) throw UsageError("--port must be 1 to 65535, not " + port_text);
    options.port = static_cast<std::uint16_t>(port);
    const std::vector<InventoryEntry> modules =
        ListedModules(hosts, hosts_file, hosts_option->count() > 0);
    command.set_module_count(std::max<std::size_t>(modules.size(), 1));
    command.Attach(env);
    command.CheckArguments();
    const bool asks = entry.asks_confirmation && !command.LooksOnly();
    if (asks && !options.yes && !env.read_answer)
      throw UsageError(std::string(entry.name) +
                       " asks for confirmation and there is no terminal to ask on; give --yes");
    if (command.NeedsListedModules() && modules.empty())
      throw UsageError(std::string(entry.name) + " with these options needs --host or --hosts");
    if (modules.size() > 1 || command.NeedsListedModules())
      return RunOverMany(entry, command, asks, modules, options, arguments, out, err, env);
    if (modules.size() == 1) {
      options.host = modules.front().host;
      if (modules.front().port) options.port = *modules.front().port;
    }
    RunOnSession(entry, command, options, out, err, env);
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

}  // namespace

int RunZvk(int argc, const char* const* argv, std::ostream& out, std::ostream& err, CliEnv& env) {
  const int code = RunCommand(argc, argv, out, err, env);
  // Output that did not arrive (a full disk, a closed pipe) is no success, whatever the module
  // said.
  if (const std::optional<std::string> failure = StandardOutputFailure(out)) {
    err << "zvk: " << *failure << '\n';
    return code == kExitOk ? kExitFailed : code;
  }
  return code;
}

int RunZvk(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           CliEnv& env) {
  std::vector<const char*> argv{"zvk"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return RunZvk(static_cast<int>(argv.size()), argv.data(), out, err, env);
}

}  // namespace zvk::cli
