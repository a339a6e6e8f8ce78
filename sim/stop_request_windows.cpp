#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "sim/stop_request.h"

namespace zvk::sim {

namespace {

std::mutex stop_mutex;
std::condition_variable stop_asked;
bool stopping = false;

// Runs on a thread the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      std::lock_guard lock(stop_mutex);
      stopping = true;
      stop_asked.notify_all();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

StopRequests::StopRequests() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void StopRequests::Wait() {
  std::unique_lock lock(stop_mutex);
  stop_asked.wait(lock, [] { return stopping; });
}

}  // namespace zvk::sim

#endif  // _WIN32
