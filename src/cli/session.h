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
#include "cli/term/dialogs.h"
#include "link/host_interfaces.h"
#include "link/seams.h"
#include "link/wire.h"
#include "operations/module_session.h"

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
class MetricsBackend;

struct CliEnv {
  Network& network;
  HostInterfaces* hosts = nullptr;    // null: the platform's own interfaces
  AnswerReader read_answer;           // null: no terminal to ask on
  bool progress_terminal = false;     // standard error is a terminal: progress bars go there
  Sleeper* sleeper = nullptr;         // null: the protocol's waits are real
  int status_columns = 0;             // width of the terminal on standard error; 0: none
  PublishBackend* publish = nullptr;  // null: a build without an MQTT client
  int delivery_wait_ms = 0;           // the wait for a module's close after a content; 0: the usual
  MetricsBackend* metrics = nullptr;  // null: a build without the metrics endpoint
};

// What an action sent and showed; the operations check the module's answers from it.
using ExchangeRecord = ops::ExchangeRecord;
using ops::CountingNetwork;

namespace detail {
// Constructed before the module session that shows its boxes.
struct WithCliDialogs {
  CliDialogs cli_dialogs_;
};
}  // namespace detail

// The module session with the command line's boxes, options and messages: its failures are
// Failed, a malformed --host a UsageError.
class Session final : private detail::WithCliDialogs, public ops::ModuleSession {
 public:
  Session(CliEnv& env, const GlobalOptions& options, std::ostream& out, std::ostream& err);
  ~Session() override;

  // Creates the main window and applies --host as the "Static IP" button does; a malformed
  // address is a usage error. Sends nothing.
  void Open();
  // The first activation and the identity request, ticked through until the module is
  // identified; throws the reason when it is not.
  void Identify();
  // Throws the reason unless the action sent `code` and the module acknowledged it.
  void RequireAcknowledged(const ExchangeRecord& record, std::uint8_t code,
                           const std::string& what) override;
  // A command the window sends through its queue (the locator); throws the reason unless
  // acknowledged.
  void SendQueued(const std::function<void()>& click, std::uint8_t code, const std::string& what);

  CliDialogs& dialogs() { return cli_dialogs_; }
  const GlobalOptions& options() const { return options_; }
  // The outside world this run was given, for a command that starts runs of its own.
  CliEnv& env() { return env_; }
  bool progress_terminal() const { return progress_terminal_; }
  // Width of the terminal a live status line may use; 0 when there is none.
  int status_columns() const { return status_columns_; }

  std::ostream& out;
  std::ostream& err;

 private:
  CliEnv& env_;
  GlobalOptions options_;
  bool progress_terminal_ = false;
  int status_columns_ = 0;
};

}  // namespace zvk::cli
