// One run of the command line over the core: the process-wide state and the main window model,
// the module's identification as the window does it at start, and what became of each exchange
// that a click or a tick started.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/system.h"
#include "cli/cli_dialogs.h"
#include "link/host_interfaces.h"
#include "link/seams.h"
#include "link/tcp.h"
#include "link/wire.h"
#include "operations/operations.h"

namespace zvk::cli {

struct GlobalOptions {
  std::optional<std::string> host;  // unset: the module's default address
  std::uint16_t port = wire::kDefaultPort;
  bool skip_wifi_check = false;
  bool yes = false;
  bool verbose = false;
};

// The outside world of a run; tests put a loopback-only network and fake interfaces here.
class PublishBackend;

struct CliEnv {
  Network& network;
  HostInterfaces* hosts = nullptr;    // null: the platform's own interfaces
  AnswerReader read_answer;           // null: no terminal to ask on
  bool progress_terminal = false;     // standard error is a terminal: progress bars go there
  Sleeper* sleeper = nullptr;         // null: the protocol's waits are real
  int status_columns = 0;             // width of the terminal on standard error; 0: none
  PublishBackend* publish = nullptr;  // null: a build without an MQTT client
  int delivery_wait_ms = 0;           // the wait for a module's close after a content; 0: the usual
};

// What an action sent and showed; the operations check the module's answers from it.
using ExchangeRecord = ops::ExchangeRecord;

// Counts the connections the core opens, so a front end can tell whether an action sent anything,
// and keeps why the last connect failed: the window shows "Connect Timeout" for every failed
// connect, a message on the command line says what the system said.
class CountingNetwork final : public Network {
 public:
  explicit CountingNetwork(Network& inner) : inner_(inner) {}
  std::unique_ptr<TcpSocket> NewSocket() override;
  std::chrono::steady_clock::time_point Now() const override { return inner_.Now(); }
  int count = 0;
  // "connection refused", "no answer within 3 s"; empty when the last connect succeeded.
  std::string connect_failure;

 private:
  Network& inner_;
};

class Session final : public ops::Operator {
 public:
  Session(CliEnv& env, const GlobalOptions& options, std::ostream& out, std::ostream& err);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Creates the main window and applies --host as the "Static IP" button does; a malformed
  // address is a usage error. Sends nothing.
  void Open();
  // The first activation and the identity request, ticked through until the module is
  // identified; throws the reason when it is not.
  void Identify();

  // Runs a click or a tick and records what it sent and showed.
  ExchangeRecord Observe(const std::function<void()>& action) override;
  // Throws the reason unless the action sent `code` and the module acknowledged it.
  void RequireAcknowledged(const ExchangeRecord& record, std::uint8_t code,
                           const std::string& what) override;

  // A command the window sends through its queue (the locator): the click, then Timer3 ticks
  // while the window would send it again after a refusal or a lost reply. Throws the reason
  // unless acknowledged.
  void SendQueued(const std::function<void()>& click, std::uint8_t code, const std::string& what);

  // The main window's connection check failed: the reason from what the window shows.
  std::string NotFoundReason() const override;

  System& system() override { return *system_; }
  // The network every connection of the run goes through (counted).
  Network& network() { return network_; }
  // The host's interfaces as they are (the scan's default ranges), whatever --skip-wifi-check
  // makes the connection check count.
  HostInterfaces& host_interfaces();
  // The main window's setup button, showing the setup window (activated) as the program does.
  void OpenSetupWindow() override;

  App& app() override { return system_->app; }
  MainWindow& window() override { return system_->main_window; }
  SetupWindow& setup() override { return system_->setup_window; }
  std::pair<std::string, std::string> LastBox() const override { return dialogs_.last_box(); }
  int Declined() const override { return dialogs_.declined(); }
  void AnswerFileDialog(const std::string& path) override { dialogs_.file_argument = path; }
  CliDialogs& dialogs() { return dialogs_; }
  const GlobalOptions& options() const { return options_; }
  // The outside world this run was given, for a command that starts runs of its own.
  CliEnv& env() { return env_; }
  bool progress_terminal() const { return progress_terminal_; }
  // Width of the terminal a live status line may use; 0 when there is none.
  int status_columns() const { return status_columns_; }

  std::ostream& out;
  std::ostream& err;

 private:
  HostInterfaces& Hosts(CliEnv& env);
  // After a reply to `code` never came: Timer1 ticks (100 ms apart, through the plain wait)
  // until the window's retry step queues the command again; false when it gave it up instead.
  bool AwaitReissue(std::uint8_t code);
  void NoteFileAnnounce(const std::string& status);

  CliEnv& env_;
  GlobalOptions options_;
  bool progress_terminal_ = false;
  int status_columns_ = 0;
  CountingNetwork network_;
  HostInterfaces* env_hosts_ = nullptr;
  std::unique_ptr<HostInterfaces> platform_hosts_;
  SkipWifiCheckInterfaces skip_hosts_;
  NullPump pump_;
  RealSleeper sleeper_;
  CliDialogs dialogs_;
  std::unique_ptr<System> system_;
  ExchangeRecord* recording_ = nullptr;
  std::string announcing_;  // the file whose announce is going out
};

}  // namespace zvk::cli
