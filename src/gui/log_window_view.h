// The communication log window: the hidden log of the main window (Memo1) made visible on
// request, its newest lines live, each with the time it was logged, and saved to a file. It only
// shows; what the log records is the core's business.
#pragma once

#include <QStringList>
#include <QWidget>
#include <deque>
#include <string>

#include "gui/trend_window_view.h"
#include "record/sample.h"

class QPlainTextEdit;

namespace zvk {
class App;
}

namespace zvk::gui {

// When each line of the log was logged: the newest lines' times, oldest first, as many as the
// log keeps (App::kLogLines). They belong to the last lines of App::log_lines; lines logged
// before the times were taken have none.
using LogTimes = std::deque<TimePoint>;

// "2026-12-11 10:06:05.123  Re-Get Device..": the local time and the line as logged; a line of
// no known time is indented as far.
QString TimedLogLine(const TimePoint* time, const std::string& line);

class LogWindowView final : public QWidget {
  Q_OBJECT

 public:
  LogWindowView(const App& app, const LogTimes& times, QWidget* parent = nullptr);

  // A line the log has just recorded at `time`; shown at once while the window is open.
  void Append(TimePoint time, const std::string& line);
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

  QStringList TimedLines() const;

  const App& app_;
  const LogTimes& times_;
  QPlainTextEdit* text_ = nullptr;
  QStringList pending_;
  bool flush_queued_ = false;
};

}  // namespace zvk::gui
