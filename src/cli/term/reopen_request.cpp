#include "cli/term/reopen_request.h"

#include <atomic>
#include <csignal>

namespace zvk::cli {

namespace {

std::atomic<bool> g_reopen{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

#ifndef _WIN32
void OnHangup(int) {
  g_reopen = true;
}
#endif

}  // namespace

void ReopenRequest::Install() {
  g_reopen = false;
#ifndef _WIN32
  struct sigaction action {};
  action.sa_handler = OnHangup;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGHUP, &action, nullptr);
#endif
}

bool ReopenRequest::Take() {
  return g_reopen.exchange(false);
}

}  // namespace zvk::cli
