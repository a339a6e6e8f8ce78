// A run on one module without a front end: the process-wide state and the main window model,
// the module's identification as the window does it at start, and what became of each exchange
// that a click or a tick started. The command line's session, the engine's long runs and the
// desktop program's runs over listed modules are built on it; it never writes to a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/system.h"
#include "link/host_interfaces.h"
#include "link/seams.h"
#include "link/tcp.h"
#include "link/wire.h"
#include "operations/operations.h"

namespace zvk::ops {

// Input the window refuses before anything is sent (a malformed module address).
class InputRefused : public OperationFailed {
 public:
  using OperationFailed::OperationFailed;
};

// The message boxes of a run, as the session needs to see them again: the boxes each action
// showed, the last box, the questions answered No, the file the next file dialog picks.
class SessionDialogs : public Dialogs {
 public:
  virtual const std::vector<std::string>& errors() const = 0;
  virtual const std::vector<std::string>& failures() const = 0;
  virtual const std::pair<std::string, std::string>& last_box() const = 0;
  virtual int declined() const = 0;
  virtual void AnswerFileDialog(const std::string& path) = 0;
  // While set, error boxes are collected there instead of shown.
  virtual void CaptureErrors(std::vector<std::string>* into) = 0;
};

// Boxes kept, not shown: for a run on a worker thread with no one to ask. Questions are answered
// with `yes`; every box is kept as its caption and text.
class RecordedDialogs final : public SessionDialogs {
 public:
  explicit RecordedDialogs(bool yes = false) : yes_(yes) {}
  MsgResult MessageBox(const std::string& caption, const std::string& text, MsgIcon icon,
                       MsgButtons buttons) override;
  void FailureBox(const std::string& caption, const std::string& text, MsgIcon icon) override;
  void ErrorBox(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string&) override { return file_; }

  const std::vector<std::string>& errors() const override { return errors_; }
  const std::vector<std::string>& failures() const override { return failures_; }
  const std::pair<std::string, std::string>& last_box() const override { return last_box_; }
  int declined() const override { return declined_; }
  void AnswerFileDialog(const std::string& path) override { file_ = path; }
  void CaptureErrors(std::vector<std::string>* into) override { capture_ = into; }
  // Every message box shown, in order: caption and text.
  const std::vector<std::pair<std::string, std::string>>& boxes() const { return boxes_; }

 private:
  bool yes_;
  std::optional<std::string> file_;
  std::vector<std::string>* capture_ = nullptr;
  std::vector<std::string> errors_;
  std::vector<std::string> failures_;
  std::vector<std::pair<std::string, std::string>> boxes_;
  std::pair<std::string, std::string> last_box_;
  int declined_ = 0;
};

// Counts the connections the core opens, so a front end can tell whether an action sent anything,
// and keeps why the last connect failed: the window shows "Connect Timeout" for every failed
// connect, a message says what the system said.
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

// The outside world of one module's run; tests put a loopback-only network and fake interfaces
// here.
struct ModuleSeams {
  Network& network;
  SessionDialogs& dialogs;
  HostInterfaces* hosts = nullptr;  // null: the platform's own interfaces
  Sleeper* sleeper = nullptr;       // null: the protocol's waits are real
};

struct ModuleOptions {
  std::optional<std::string> host;  // unset: the module's default address
  std::uint16_t port = wire::kDefaultPort;
  bool skip_wifi_check = false;
  int delivery_wait_ms = 0;  // the wait for a module's close after a content; 0: the usual
  // Each log line ("log: ...") and status text ("status: ...") as it comes; null: none.
  std::function<void(const std::string&)> verbose;
};

class ModuleSession : public Operator {
 public:
  ModuleSession(const ModuleSeams& seams, ModuleOptions options);
  ~ModuleSession() override;
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  // Creates the main window and applies the host as the "Static IP" button does; a malformed
  // address is InputRefused. Sends nothing.
  void Open();
  // The first activation and the identity request, ticked through until the module is
  // identified; throws the reason when it is not.
  void Identify();
  // A command the window sends through its queue (the locator): the click, then Timer3 ticks
  // while the window would send it again after a refusal or a lost reply. Throws the reason
  // unless acknowledged.
  void SendQueued(const std::function<void()>& click, std::uint8_t code, const std::string& what);

  ExchangeRecord Observe(const std::function<void()>& action) override;
  void RequireAcknowledged(const ExchangeRecord& record, std::uint8_t code,
                           const std::string& what) override;
  std::string NotFoundReason() const override;
  void OpenSetupWindow() override;

  System& system() override { return *system_; }
  App& app() override { return system_->app; }
  MainWindow& window() override { return system_->main_window; }
  SetupWindow& setup() override { return system_->setup_window; }
  std::pair<std::string, std::string> LastBox() const override { return dialogs_.last_box(); }
  int Declined() const override { return dialogs_.declined(); }
  void AnswerFileDialog(const std::string& path) override { dialogs_.AnswerFileDialog(path); }

  // The network every connection of the run goes through (counted).
  Network& network() { return network_; }
  // The host's interfaces as they are (the scan's default ranges), whatever skip_wifi_check
  // makes the connection check count.
  HostInterfaces& host_interfaces();
  const ModuleOptions& module_options() const { return options_; }

 private:
  HostInterfaces& Hosts();
  // After a reply to `code` never came: Timer1 ticks (100 ms apart, through the plain wait)
  // until the window's retry step queues the command again; false when it gave it up instead.
  bool AwaitReissue(std::uint8_t code);
  void NoteFileAnnounce(const std::string& status);

  ModuleOptions options_;
  SessionDialogs& dialogs_;
  CountingNetwork network_;
  HostInterfaces* given_hosts_ = nullptr;
  std::unique_ptr<HostInterfaces> platform_hosts_;
  SkipWifiCheckInterfaces skip_hosts_;
  NullPump pump_;
  RealSleeper sleeper_;
  std::unique_ptr<System> system_;
  ExchangeRecord* recording_ = nullptr;
  std::string announcing_;  // the file whose announce is going out
};

}  // namespace zvk::ops
