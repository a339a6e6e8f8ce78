// The program's wait for a request to stop: SIGINT or SIGTERM on POSIX; Ctrl+C, Ctrl+Break, the
// console closing, log-off or shut-down on Windows.
#pragma once

namespace zvk::sim {

class StopRequests {
 public:
  // Construct before any other thread starts: on POSIX the signals are blocked here, so that
  // every thread inherits the mask and only Wait takes them.
  StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Returns once a stop has been asked for (at once when it already was).
  void Wait();
};

}  // namespace zvk::sim
