#ifndef _WIN32

#include <pthread.h>

#include <csignal>

#include "sim/stop_request.h"

namespace zvk::sim {

namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

StopRequests::StopRequests() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void StopRequests::Wait() {
  const sigset_t signals = StopSignals();
  int signal = 0;
  while (sigwait(&signals, &signal) != 0) {
  }
}

}  // namespace zvk::sim

#endif  // _WIN32
