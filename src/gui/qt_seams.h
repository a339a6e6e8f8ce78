// The seams of the core, served by Qt: the event pump that keeps the window alive inside a
// blocking exchange, and the message boxes and file dialog.
#pragma once

#include <QMessageBox>
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

// A modal box whose text is shown as it stands: module texts, typed texts and file names may
// hold '<' or '&', which an automatic text format would take for markup.
int ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// "bin|*.bin|all|*.*" becomes "bin (*.bin);;all (*.*)".
QString QtFileFilter(const std::string& filter);
// The extension a typed name without one gets: "bin" for "bin|*.bin"; none for "all|*.*".
QString DefaultSuffix(const std::string& filter);

// Asks for a file to write: the caption, the filter, and whether an existing file is to be
// continued (no question about replacing it). Empty when the user cancelled.
using SaveFileChooser =
    std::function<QString(const QString& caption, const QString& filter, bool continue_existing)>;
// Shows an error: caption and text.
using ErrorReporter = std::function<void(const QString& caption, const QString& text)>;

// The save dialog: a name typed without an extension gets the one of the filter chosen ("rec"
// with "CSV files (*.csv)" is rec.csv, and is what the overwrite question asks about); none under
// "All files (*)".
SaveFileChooser SaveFileDialog(QWidget* parent);
// The extension of a filter's first pattern: "csv" for "CSV files (*.csv)"; none for "(*)".
QString FilterSuffix(const QString& filter);

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
  // A modal file dialog named "OpenDialog", for an existing file, with the filter's first
  // pattern as the default extension.
  std::optional<std::string> OpenFile(const std::string& filter) override;

 private:
  QWidget* parent_ = nullptr;
};

}  // namespace zvk::gui
