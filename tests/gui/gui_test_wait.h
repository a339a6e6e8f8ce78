// Waiting in the Qt tests: the event loop (and so the windows' timers) runs meanwhile.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace zvk::gui {

// Runs the event loop until `done` holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  QDeadlineTimer deadline(timeout_ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace zvk::gui
