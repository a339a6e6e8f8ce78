// Answers the next modal file dialog the way a user would: once it is open, `answer` picks or
// types a file and accepts it (QDialog::accept, as the Open button does), or rejects it.
#pragma once

#include <QApplication>
#include <QFileDialog>
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

}  // namespace zvk::gui
