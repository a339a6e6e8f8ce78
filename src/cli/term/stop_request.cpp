#include "cli/term/stop_request.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <condition_variable>
#include <mutex>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zvk::cli {

namespace {

// Written by the handlers: a lock-free flag, and on POSIX the write end of a pipe that wakes the
// wait (the only thing a handler may safely do to another part of the program).
std::atomic<int> g_signals{0};
std::atomic<bool> g_requested{false};
std::atomic<int> g_signal{0};       // the signal that asked; 0: Request()
std::atomic<bool> g_always{false};  // a long run took requests (Install)
std::atomic<int> g_scopes{0};       // StopScopes open
std::atomic<int> g_at_once{0};      // StopAtOnce open
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "signal handlers may only touch lock-free atomics");

// Whether a signal now is a request rather than the end of the program.
bool Catching() {
  return (g_always || g_scopes > 0) && g_at_once == 0;
}

void Forget() {
  g_requested = false;
  g_signals = 0;
  g_signal = 0;
}

#ifdef _WIN32
std::mutex g_mutex;
std::condition_variable g_wake;

void Wake() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_wake.notify_all();
}

void OnSignal(int signal) {
  if (!Catching() || g_signals.fetch_add(1) > 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_signal = signal;
  g_requested = true;
  std::signal(signal, OnSignal);  // the C runtime resets the handler before calling it
  Wake();
}

// Runs on a thread of its own, so it may take the lock.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (!Catching() || g_signals.fetch_add(1) > 0) return FALSE;  // the default: the process ends
  g_signal = event == CTRL_CLOSE_EVENT ? SIGTERM : SIGINT;
  g_requested = true;
  Wake();
  return TRUE;
}

void InstallHandlers() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  std::signal(SIGTERM, OnSignal);
}
#else
int g_pipe[2] = {-1, -1};

void OnSignal(int signal) {
  const int saved = errno;
  if (!Catching() || g_signals.fetch_add(1) > 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  } else {
    g_signal = signal;
    g_requested = true;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_pipe[1], &byte, 1);
  }
  errno = saved;
}

void InstallHandlers() {
  if (::pipe(g_pipe) == 0) {
    for (int fd : g_pipe) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

void DrainPipe() {
  char buffer[16];
  while (g_pipe[0] >= 0 && ::read(g_pipe[0], buffer, sizeof buffer) > 0) {
  }
}
#endif

}  // namespace

StopRequest& StopRequest::Get() {
  static StopRequest instance;
  static const bool installed = (InstallHandlers(), true);
  (void)installed;
  return instance;
}

StopRequest& StopRequest::Install() {
  StopRequest& instance = Get();
  Forget();
#ifndef _WIN32
  DrainPipe();
#endif
  g_always = true;
  return instance;
}

bool StopRequest::Deferring() {
  return g_scopes > 0;
}

bool StopRequest::requested() const {
  return g_requested;
}

std::string StopRequest::what() const {
  switch (g_signal.load()) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "a stop request";
  }
}

StopScope::StopScope() {
  StopRequest::Get();
  outermost_ = g_scopes.fetch_add(1) == 0;
  if (!outermost_) return;
  Forget();
#ifndef _WIN32
  DrainPipe();
#endif
}

StopScope::~StopScope() {
  --g_scopes;
}

StopAtOnce::StopAtOnce() {
  ++g_at_once;
}

StopAtOnce::~StopAtOnce() {
  --g_at_once;
}

void StopRequest::Request() {
  g_signal = 0;
  g_requested = true;
#ifdef _WIN32
  Wake();
#else
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(g_pipe[1], &byte, 1);
#endif
}

bool StopRequest::WaitUntil(std::chrono::steady_clock::time_point deadline) {
#ifdef _WIN32
  std::unique_lock<std::mutex> lock(g_mutex);
  return g_wake.wait_until(lock, deadline, [] { return g_requested.load(); });
#else
  while (!g_requested) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{g_pipe[0], POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (n > 0) DrainPipe();
  }
  return true;
#endif
}

}  // namespace zvk::cli
