// The utility as the command line assembles it (core state, main window model, real sockets, no
// event pump), identified against a simulated module: from a simulator on loopback, or from
// replies handed in directly for the benchmarks that open no connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/system.h"
#include "link/host_interfaces.h"
#include "link/seams.h"
#include "link/tcp.h"

namespace zvk::bench {

// Message boxes have no one to show them to here; errors are kept for the report.
class QuietDialogs final : public Dialogs {
 public:
  MsgResult MessageBox(const std::string&, const std::string&, MsgIcon, MsgButtons) override {
    return MsgResult::No;
  }
  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
  std::vector<std::string> errors;
};

class BenchUtility {
 public:
  BenchUtility();
  BenchUtility(const BenchUtility&) = delete;
  BenchUtility& operator=(const BenchUtility&) = delete;

  // The window's start against 127.0.0.1:port, ticked until the module is identified; throws
  // when it is not.
  void IdentifyOnline(std::uint16_t port);
  // The identity reply handed to the dispatcher as if it had arrived; throws when it is refused.
  void IdentifyFrom(const std::vector<std::uint8_t>& identity_reply);

  App& app() { return system_.app; }
  MainWindow& window() { return system_.main_window; }

 private:
  SystemNetwork network_;
  NullPump pump_;
  RealSleeper sleeper_;
  SkipWifiCheckInterfaces hosts_;
  QuietDialogs dialogs_;
  System system_;
};

// The frames of the identity request and the data poll, as the window sends them.
std::vector<std::uint8_t> IdentityRequestFrame();
std::vector<std::uint8_t> DataPollFrame();

}  // namespace zvk::bench
