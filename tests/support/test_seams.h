// Seams for tests: a network that only ever reaches loopback, a scripted event pump, recording
// message boxes and sleeps, and a fake list of host interfaces.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/host_interfaces.h"
#include "link/seams.h"
#include "link/tcp.h"

namespace zvk::test {

// Refuses any address outside 127.0.0.0/8: the test fails loudly and nothing is sent.
// Records the writes of every connection and fails connects or writes on request.
class LoopbackOnlyNetwork final : public Network {
 public:
  std::unique_ptr<TcpSocket> NewSocket() override;
  // Held while a connect or a write is counted: runs over many modules share the network.
  std::mutex mutex;
  int connects = 0;
  // The sizes of the writes of each connection, in connect order.
  std::vector<std::vector<std::size_t>> writes;
  int shutdowns = 0;  // sending sides closed (after a content)
  // Asked before each connect with its number (1 for the first); false fails it as refused.
  std::function<bool(int connect)> allow_connect;
  // Asked before each write with the connection's number and the write's number on it (both
  // from 1); false fails it as a broken connection would.
  std::function<bool(int connect, int write)> allow_write;
};

// Runs the scripted actions, one per call, while an exchange waits; then does nothing.
class ScriptedPump final : public EventPump {
 public:
  void ProcessEvents() override;
  bool QuitRequested() const override { return quit; }
  void Then(std::function<void()> action) { actions_.push_back(std::move(action)); }
  // Set (by a scripted action, say) when the program is to end.
  bool quit = false;
  // Runs `action` on every call (after the scripted ones are used up).
  std::function<void()> every_call;
  int calls = 0;

 private:
  std::deque<std::function<void()>> actions_;
};

class RecordingSleeper final : public Sleeper {
 public:
  void SleepMs(int ms) override {
    sleeps.push_back(ms);
    if (on_sleep) on_sleep(ms);
  }
  std::vector<int> sleeps;
  // Runs in place of each wait: what happens meanwhile.
  std::function<void(int ms)> on_sleep;
};

struct Box {
  std::string caption, text;
  MsgIcon icon;
  MsgButtons buttons;
};

class RecordingDialogs final : public Dialogs {
 public:
  MsgResult MessageBox(const std::string& caption, const std::string& text, MsgIcon icon,
                       MsgButtons buttons) override;
  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  std::optional<std::string> OpenFile(const std::string& filter) override {
    file_filters.push_back(filter);
    return open_file ? open_file(filter) : next_file;
  }

  std::vector<Box> boxes;
  std::vector<std::string> file_filters;  // the filter of each file dialog opened
  // Answers the file dialogs in place of next_file (a real dialog, in the Qt tests).
  std::function<std::optional<std::string>(const std::string& filter)> open_file;
  std::vector<std::string> errors;
  std::deque<MsgResult> answers;  // Yes/No answers in order; Yes when empty
  std::optional<std::string> next_file;
  // Runs while each box is up, to see the window behind it.
  std::function<void()> on_box;
};

class FakeHostInterfaces final : public HostInterfaces {
 public:
  std::optional<std::vector<AdapterInfo>> Adapters(std::string* error) override;
  std::optional<std::vector<WirelessInterface>> Wireless() override;

  // Successive scans take successive entries; the last entry repeats.
  std::deque<std::vector<AdapterInfo>> adapter_scans;
  std::deque<std::vector<WirelessInterface>> wireless_scans;
  bool adapter_query_fails = false;
  bool wireless_fails = false;
  int scans = 0;

  // One connected Wi-Fi interface with an address in the module's subnet.
  static std::unique_ptr<FakeHostInterfaces> OneMatch(const std::string& address = "192.168.77.23");
};

}  // namespace zvk::test
