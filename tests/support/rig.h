// A running utility wired to test seams and, when asked, to an in-process simulator on loopback.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/system.h"
#include "sim/simulator.h"
#include "support/test_seams.h"

namespace zvk::test {

struct RigOptions {
  std::optional<sim::Model> model = sim::Model::Qn6;  // nullopt: no simulator
  bool skip_wifi_check = true;                        // false: FakeHostInterfaces
  Network* network = nullptr;  // a scripted module instead of the loopback network
};

class Rig {
 public:
  explicit Rig(RigOptions options = {});
  ~Rig();

  // Creates the window as the program does at start (FormCreate, then the first activation).
  void Start();
  // Runs Timer3 ticks (and Timer1 before each, as both run every 100 ms).
  void Tick(int count = 1);
  void Timer3(int count = 1);
  // Runs Timer3 ticks until the module is identified (at most `limit` ticks).
  bool TickUntilIdentified(int limit = 40);
  // The main window's setup button, with the setup window shown (activated) as the program
  // shows it; and its closing.
  void OpenSetupWindow();
  void CloseSetupWindow();

  std::vector<std::vector<std::uint8_t>> Frames() const { return sim->Frames(); }
  std::vector<std::uint8_t> LastFrame() const;

  LoopbackOnlyNetwork network;
  ScriptedPump pump;
  RecordingSleeper sleeper;
  RecordingDialogs dialogs;
  std::unique_ptr<FakeHostInterfaces> fake_hosts;
  SkipWifiCheckInterfaces skip_hosts;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<System> system;
  App* app = nullptr;            // the system's state
  MainWindow* window = nullptr;  // the system's main window model
  SetupWindow* setup = nullptr;  // the system's setup window model
  MainForm& form() { return window->form; }
};

// Waits until the module has taken in the content of every file announced so far, as the
// utility's fixed wait after a file write leaves a module time to do; a recording sleeper
// returns at once. False when some content did not come within the timeout.
bool WaitForAnnouncedContent(const sim::Simulator& sim,
                             std::chrono::milliseconds timeout = std::chrono::seconds(2));

// Whether the hidden log holds this line.
bool Logged(const App& app, const std::string& line);

// A loopback port with nothing listening on it.
std::uint16_t ClosedLoopbackPort();

}  // namespace zvk::test
