// The seams of the core, served by Qt: the event pump that keeps the window alive inside a
// blocking exchange, and the message boxes and file dialog.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "link/seams.h"

class QWidget;

namespace zvk::gui {

class QtEventPump final : public EventPump {
 public:
  // Called before the events are processed; the view mirrors the model's changes here so the
  // window shows the progress of a long exchange.
  std::function<void()> before_events;

  void ProcessEvents() override;
  bool QuitRequested() const override { return quit_requested_; }
  // The program is ending: an exchange waiting inside a handler gives up at once, so control
  // gets back to the event loop that ends.
  void RequestQuit() { quit_requested_ = true; }

 private:
  bool quit_requested_ = false;
};

// "bin|*.bin|all|*.*" becomes "bin (*.bin);;all (*.*)".
QString QtFileFilter(const std::string& filter);

class QtDialogs final : public Dialogs {
 public:
  // The window the boxes are centred on; none before it exists.
  void SetParent(QWidget* parent) { parent_ = parent; }
  // While set, error boxes go here instead of the screen (the command line's --host check).
  std::function<void(const std::string&)> error_sink;
  // Runs before a box is shown, so the windows behind it show what the model has changed
  // (buttons disabled for the operation that asks).
  std::function<void()> before_box;

  MsgResult MessageBox(const std::string& caption, const std::string& text, MsgIcon icon,
                       MsgButtons buttons) override;
  void ErrorBox(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& filter) override;

 private:
  QWidget* parent_ = nullptr;
};

}  // namespace zvk::gui
