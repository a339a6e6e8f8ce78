// A request to stop a long run from outside: SIGINT or SIGTERM (on Windows also Ctrl+Break and
// closing the console). A wait between polls ends as soon as one comes; a second one ends the
// program at once, as if no handler were there.
#pragma once

#include <chrono>

namespace zvk::cli {

class StopRequest {
 public:
  // Installs the handlers (once per process) and forgets earlier requests.
  static StopRequest& Install();

  bool requested() const;
  // Waits until `deadline` unless a stop is requested first; true when one was.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  // As if a signal had come (the tests, and the front ends that stop a run themselves).
  void Request();

 private:
  StopRequest() = default;
};

}  // namespace zvk::cli
