// The commands of `zvk`: one table, grouped as the help shows them (monitoring, and in time
// administration and calibration). Each command drives the window models of the core.
#pragma once

#include <memory>
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

// The monitoring commands (info, read, locate, set-*).
void AddMonitorCommands(std::vector<CommandEntry>& table);
// The administration commands (setup, wifi-mode, reset-defaults, reboot, write-file,
// delete-file).
void AddAdminCommands(std::vector<CommandEntry>& table);
// Recording the readings to a file over time (log).
void AddRecordingCommands(std::vector<CommandEntry>& table);
// Publishing the readings to an MQTT broker (publish).
void AddPublishCommand(std::vector<CommandEntry>& table);
// The firmware update (firmware FILE).
void AddFirmwareCommand(std::vector<CommandEntry>& table);
// The calibration commands (calibrate, reset-ref, calibrate-th, reset-th-ref, user-curve).
void AddCalibrationCommands(std::vector<CommandEntry>& table);

}  // namespace zvk::cli
