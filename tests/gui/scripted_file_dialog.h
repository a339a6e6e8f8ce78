// Answers the next modal file dialog the way a user would: once it is open, `answer` types a
// file's name (ChooseFile) or cancels it.
#pragma once

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace zvk::gui {

inline void AnswerNextFileDialog(std::function<void(QFileDialog&)> answer) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer = std::move(answer)] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    answer(*dialog);
  });
  timer->start();
}

// Puts `name` (a path, or a name in the dialog's folder) into the dialog's file name box and
// clicks Open (Save in a save dialog). (Typed key by key, the name would bring up the box's
// completion list, which takes the Enter key.) A name the dialog does not take brings up its
// warning box, which is closed after a while, and the dialog is cancelled: the test then fails
// instead of waiting.
inline void ChooseFile(QFileDialog& dialog, const QString& name) {
  QTimer::singleShot(2000, &dialog, [] {
    QWidget* box = QApplication::activeModalWidget();
    if (box && !qobject_cast<QFileDialog*>(box)) box->close();
  });
  auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  QPushButton* open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
  if (!open && buttons) open = buttons->button(QDialogButtonBox::Save);
  if (edit && open) {
    edit->setText(name);
    QTest::mouseClick(open, Qt::LeftButton);
  }
  if (dialog.isVisible()) dialog.reject();
}

}  // namespace zvk::gui
