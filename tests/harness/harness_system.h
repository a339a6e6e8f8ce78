// A running utility (the assembled `System`) over a `VirtualNetwork`, with quiet seams, and every
// reply handler the assembly registered wrapped so that each dispatch is checked: the handler
// must see exactly the bytes that arrived in this reply, and at least as many as the reply
// layout of its command gives it to read. The fuzz targets and the soak build on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/system.h"
#include "harness/virtual_network.h"
#include "link/host_interfaces.h"
#include "link/seams.h"

namespace zvk::harness {

// The event pump: whatever the harness wants to happen while an exchange waits.
class HookPump final : public EventPump {
 public:
  void ProcessEvents() override {
    if (on_events) on_events();
  }
  std::function<void()> on_events;
};

// The connection check's answer, set by the harness: one match (the module's Wi-Fi is there) or
// none (the PC lost it).
class FixedHosts final : public HostInterfaces {
 public:
  std::optional<std::vector<AdapterInfo>> Adapters(std::string*) override { return {}; }
  std::optional<std::vector<WirelessInterface>> Wireless() override { return {}; }
  std::optional<int> FixedMatchCount() const override { return matches; }
  int matches = 1;
};

class QuietSleeper final : public Sleeper {
 public:
  void SleepMs(int ms) override { slept_ms += ms; }
  long slept_ms = 0;
};

// Message boxes answered at once (Yes, or the answers given), their texts kept.
class QuietDialogs final : public Dialogs {
 public:
  MsgResult MessageBox(const std::string& caption, const std::string& text, MsgIcon,
                       MsgButtons buttons) override;
  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }

  std::vector<std::string> boxes;  // "caption: text"
  std::vector<std::string> errors;
};

// Bytes a handler of `pending` reads from an accepted reply, from the reply layouts of the
// protocol: the header, the identity record of the reported model, the measurement block of the
// identified model, the checksum and the reference count.
std::size_t LayoutLength(std::uint8_t pending, std::uint8_t model_code, const std::uint8_t* reply,
                         std::size_t length);

class HarnessSystem {
 public:
  explicit HarnessSystem(Peer& peer);
  ~HarnessSystem();
  HarnessSystem(const HarnessSystem&) = delete;
  HarnessSystem& operator=(const HarnessSystem&) = delete;

  // The codes the assembly registered a reply handler for, in order.
  const std::vector<std::uint8_t>& handled_codes() const { return handled_; }
  // A code nothing handles: replies to it are read and dropped.
  std::uint8_t UnhandledCode() const;

  // Every broken rule seen so far, one line each.
  const std::vector<std::string>& violations() const { return violations_; }
  void Violation(const std::string& what) { violations_.push_back(what); }
  // Checks that hold whenever no exchange is running: the link is free, no socket is open.
  void CheckIdle(const std::string& where);

  // Runs before every dispatch, after the built-in checks (the soak counts decodes with it).
  std::function<void(std::uint8_t pending)> on_dispatch;

  VirtualNetwork network;
  HookPump pump;
  QuietSleeper sleeper;
  FixedHosts hosts;
  QuietDialogs dialogs;
  System system;
  App& app;
  MainWindow& window;
  int dispatches = 0;

 private:
  void CheckDispatch(std::uint8_t pending);

  std::vector<std::uint8_t> handled_;
  std::vector<std::string> violations_;
};

// Whether `text` is well-formed UTF-8 (every caption a window shows must be).
bool IsUtf8(const std::string& text);

// Every caption and text the main window shows, for checks over all of them.
std::vector<const std::string*> MainWindowTexts(const MainWindow& window);

}  // namespace zvk::harness
