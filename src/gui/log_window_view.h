// The communication log window: the hidden log of the main window (Memo1) made visible on
// request, its newest lines live, and saved to a file. It only shows; what the log records
// is the core's business.
#pragma once

#include <QStringList>
#include <QWidget>
#include <string>

#include "gui/trend_window_view.h"

class QPlainTextEdit;

namespace zvk {
class App;
}

namespace zvk::gui {

class LogWindowView final : public QWidget {
  Q_OBJECT

 public:
  explicit LogWindowView(const App& app, QWidget* parent = nullptr);

  // A line the log has just recorded; shown at once while the window is open.
  void Append(const std::string& line);
  // Writes the lines the log keeps to a file chosen by the user.
  void Save();

  SaveFileChooser choose_file;
  ErrorReporter show_error;

  QPlainTextEdit* text() const { return text_; }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void Reload();
  void Flush();

  const App& app_;
  QPlainTextEdit* text_ = nullptr;
  QStringList pending_;
  bool flush_queued_ = false;
};

}  // namespace zvk::gui
