// Seams to the outside that the link and the windows use: the event pump that keeps the
// interface serviced inside blocking waits, plain waits, and message boxes.
#pragma once

#include <optional>
#include <string>

namespace zvk {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs pending ticks and clicks; called inside every blocking wait of an exchange.
  virtual void ProcessEvents() = 0;
  // True once the program is ending (its window closed, a timed run over): a wait of the link
  // gives up at once instead of running out, and nothing more is sent.
  virtual bool QuitRequested() const { return false; }
  // False for a pump that never has anything to run (a front end without windows): a wait of
  // the link then blocks at once instead of first looking whether it needs to pump at all.
  virtual bool RunsEvents() const { return true; }
};

class NullPump final : public EventPump {
 public:
  void ProcessEvents() override {}
  bool RunsEvents() const override { return false; }
};

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void SleepMs(int ms) = 0;
};

class RealSleeper final : public Sleeper {
 public:
  void SleepMs(int ms) override;
};

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual MsgResult MessageBox(const std::string& caption, const std::string& text, MsgIcon icon,
                               MsgButtons buttons) = 0;
  // An OK box telling that something failed: an input refused, a command the module did not
  // take. A front end without windows sends these to its error stream, whatever their icon.
  virtual void FailureBox(const std::string& caption, const std::string& text, MsgIcon icon) {
    MessageBox(caption, text, icon, MsgButtons::Ok);
  }
  // The toolkit's box for an error that escaped a handler (conversion errors and the like).
  virtual void ErrorBox(const std::string& text) = 0;
  virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
};

}  // namespace zvk
