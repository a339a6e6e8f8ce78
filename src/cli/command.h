// The commands of `zvk`: one table, grouped as the help shows them (monitoring, and in time
// administration and calibration). Each command drives the window models of the core.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace zvk::cli {

class Session;
struct CliEnv;

class Command {
 public:
  virtual ~Command() = default;
  // Adds the command's own arguments to its subcommand.
  virtual void Define(CLI::App& sub) = 0;
  // Hands the command the outside world of the run before its arguments are checked.
  virtual void Attach(CliEnv&) {}
  // Checks of the arguments alone, before anything is created or sent; throws usage errors.
  virtual void CheckArguments() {}
  // The checks the window's controls make on the input, before anything is sent; throws
  // "input refused" failures.
  virtual void CheckInput(Session&) {}
  virtual void Run(Session& session) = 0;
  // True when, with the arguments given, the command only looks and asks nothing (a dry run).
  virtual bool LooksOnly() const { return false; }

  // A command that works on many modules together (one file for all) rather than once per
  // module: RunOnMany gets a session for each module, made by `open(i, out, err)` (the i-th
  // module of `labels`), and returns the exit status.
  virtual bool RunsOnManyTogether() const { return false; }
  // True when, with the arguments given, the command runs together on the modules listed with
  // --host or --hosts even when there is one, and needs them listed (a staged rollout).
  virtual bool NeedsListedModules() const { return false; }
  using SessionMaker =
      std::function<std::unique_ptr<Session>(std::size_t i, std::ostream& out, std::ostream& err)>;
  virtual int RunOnMany(const std::vector<std::string>& /*labels*/, const SessionMaker& /*open*/,
                        std::ostream& /*out*/, std::ostream& /*err*/) {
    return 2;
  }

  // A copy with the arguments as parsed and checked, for a run over many modules: each module's
  // run gets its own, as the command keeps what it learns of its module.
  virtual std::unique_ptr<Command> Clone() const = 0;

  // How many modules the command is to run on; set before CheckArguments.
  void set_module_count(std::size_t n) { module_count_ = n; }

 protected:
  std::size_t module_count() const { return module_count_; }

 private:
  std::size_t module_count_ = 1;
};

template <typename Derived>
class CopyableCommand : public Command {
 public:
  std::unique_ptr<Command> Clone() const override {
    return std::make_unique<Derived>(static_cast<const Derived&>(*this));
  }
};

struct CommandEntry {
  const char* name;
  const char* group;  // help section
  const char* summary;
  bool identifies;         // asks the module for its identity (CMD_GET_DEVICE) first
  bool asks_confirmation;  // puts a Yes/No question before it changes the module
  std::unique_ptr<Command> (*make)();
};

const std::vector<CommandEntry>& CommandTable();

// Each group of the help has its file in commands/, named after the group, listed here in the
// help's order.
// Monitoring (commands/monitoring_commands.cpp): info, read, locate, set-*.
void AddMonitoringCommands(std::vector<CommandEntry>& table);
// Recording (commands/recording_commands.cpp): log, the readings to a file over time.
void AddRecordingCommands(std::vector<CommandEntry>& table);
// Publishing (commands/publishing_commands.cpp): publish, the readings to an MQTT broker.
void AddPublishingCommands(std::vector<CommandEntry>& table);
// Administration (commands/administration_commands.cpp): setup, wifi-mode, reset-defaults,
// reboot, write-file, delete-file.
void AddAdministrationCommands(std::vector<CommandEntry>& table);
// Firmware (commands/firmware_commands.cpp): firmware FILE.
void AddFirmwareCommands(std::vector<CommandEntry>& table);
// Calibration (commands/calibration_commands.cpp): calibrate, reset-ref, calibrate-th,
// reset-th-ref, user-curve.
void AddCalibrationCommands(std::vector<CommandEntry>& table);
// Many modules (commands/many_modules_commands.cpp): scan.
void AddManyModulesCommands(std::vector<CommandEntry>& table);
// Profiles (commands/profiles_commands.cpp): backup, restore.
void AddProfilesCommands(std::vector<CommandEntry>& table);

}  // namespace zvk::cli
