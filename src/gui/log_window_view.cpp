#include "gui/log_window_view.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "gui/qt_seams.h"
#include "record/recorder.h"
#include "state/app.h"
#include "util/file_writer.h"

namespace zvk::gui {

namespace {
// As many lines as the log keeps.
constexpr int kShownLines = 10'000;
}  // namespace

QString TimedLogLine(const TimePoint* time, const std::string& line) {
  static const QString kFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
  const QString stamp =
      time ? QDateTime::fromMSecsSinceEpoch(
                 std::chrono::duration_cast<std::chrono::milliseconds>(time->time_since_epoch())
                     .count())
                 .toString(kFormat)
           : QString(kFormat.size(), u' ');
  return stamp + QStringLiteral("  ") + QString::fromStdString(line);
}

LogWindowView::LogWindowView(const App& app, const LogTimes& times, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app), times_(times) {
  setObjectName(QStringLiteral("LogWindow"));
  setWindowTitle(QStringLiteral("Communication log"));
  resize(640, 420);
  choose_file = SaveFileDialog(this);
  show_error = [this](const QString& caption, const QString& text) {
    ShowBox(this, QMessageBox::Warning, caption, text);
  };

  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("LogText"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setMaximumBlockCount(kShownLines);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  auto* save = new QPushButton(QStringLiteral("Save\u2026"), this);
  save->setObjectName(QStringLiteral("SaveLogButton"));
  connect(save, &QPushButton::clicked, this, [this] { Save(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addLayout(buttons);
}

void LogWindowView::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Reload();
}

QStringList LogWindowView::TimedLines() const {
  const std::vector<std::string>& lines = app_.log_lines;
  // The times belong to the newest lines.
  const std::size_t timed = std::min(lines.size(), times_.size());
  const std::size_t first_timed = lines.size() - timed;
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(lines.size()));
  for (std::size_t i = 0; i < lines.size(); ++i)
    shown << TimedLogLine(
        i < first_timed ? nullptr : &times_[times_.size() - timed + (i - first_timed)], lines[i]);
  return shown;
}

void LogWindowView::Reload() {
  pending_.clear();
  text_->setPlainText(TimedLines().join('\n'));
  text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

void LogWindowView::Append(TimePoint time, const std::string& line) {
  // Hidden, the window reads the whole log again when it is shown.
  if (!isVisible()) return;
  pending_ << TimedLogLine(&time, line);
  if (flush_queued_) return;
  flush_queued_ = true;
  // Lines come in bursts inside an exchange; they are added together once it lets events run.
  QTimer::singleShot(0, this, [this] { Flush(); });
}

void LogWindowView::Flush() {
  flush_queued_ = false;
  if (pending_.isEmpty()) return;
  QScrollBar* bar = text_->verticalScrollBar();
  // Someone reading older lines keeps their place; otherwise the newest stay in view.
  const bool follow = bar->value() == bar->maximum();
  text_->appendPlainText(pending_.join('\n'));
  pending_.clear();
  if (follow) bar->setValue(bar->maximum());
}

void LogWindowView::Save() {
  const QString path =
      choose_file(QStringLiteral("Save the communication log"),
                  QStringLiteral("Text files (*.txt *.log);;All files (*)"), false);
  if (path.isEmpty()) return;
  std::string text;
  for (const QString& line : TimedLines()) text += line.toStdString() + '\n';
  try {
    ReplaceFile(PathFromUtf8(path.toStdString()), text);
  } catch (const FileWriteError& e) {
    show_error(QStringLiteral("Save log"), QString::fromStdString(e.what()));
  }
}

}  // namespace zvk::gui
