#include "gui/log_window_view.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/qt_seams.h"
#include "record/recorder.h"
#include "state/app.h"
#include "util/file_writer.h"

namespace zvk::gui {

namespace {
// As many lines as the log keeps.
constexpr int kShownLines = 10'000;
}  // namespace

LogWindowView::LogWindowView(const App& app, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app) {
  setObjectName(QStringLiteral("LogWindow"));
  setWindowTitle(QStringLiteral("Communication log"));
  resize(560, 420);
  choose_file = [this](const QString& caption, const QString& filter, bool) {
    return QFileDialog::getSaveFileName(this, caption, QString(), filter);
  };
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

void LogWindowView::Reload() {
  pending_.clear();
  QStringList lines;
  for (const std::string& line : app_.log_lines) lines << QString::fromStdString(line);
  text_->setPlainText(lines.join('\n'));
  text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

void LogWindowView::Append(const std::string& line) {
  // Hidden, the window reads the whole log again when it is shown.
  if (!isVisible()) return;
  pending_ << QString::fromStdString(line);
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
  for (const std::string& line : app_.log_lines) text += line + '\n';
  try {
    ReplaceFile(PathFromUtf8(path.toStdString()), text);
  } catch (const FileWriteError& e) {
    show_error(QStringLiteral("Save log"), QString::fromStdString(e.what()));
  }
}

}  // namespace zvk::gui
