// A request to stop a run from outside: SIGINT or SIGTERM (on Windows also Ctrl+Break and
// closing the console). A wait between polls ends as soon as one comes; a second one ends the
// program at once, as if no handler were there.
//
// Long runs (log, publish, scan) take requests for their whole life (Install). A run that changes
// modules takes them while a StopScope lives: the work under way finishes its step (a file
// announced is also sent, a module being identified is not then written to) and the run says
// where it stopped. Outside of both, a signal ends the program as it always would.
#pragma once

#include <chrono>
#include <string>

#include "engine/run_limits.h"

namespace zvk::cli {

class StopRequest {
 public:
  // Installs the handlers (once per process), takes requests from now on and forgets earlier
  // ones.
  static StopRequest& Install();
  // The one instance, without installing anything or forgetting a request.
  static StopRequest& Get();
  // Whether a StopScope is open: the run stops where its steps allow, and asks requested().
  static bool Deferring();

  bool requested() const;
  // "SIGINT", "SIGTERM", or "a stop request" when Request() made it.
  std::string what() const;
  // Waits until `deadline` unless a stop is requested first; true when one was.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  // As if a signal had come (the tests, and the front ends that stop a run themselves).
  void Request();

 private:
  StopRequest() = default;
};

// The engine's view of the process's stop request.
class StopRequestSignal final : public engine::StopSignal {
 public:
  explicit StopRequestSignal(StopRequest& stop) : stop_(stop) {}
  bool WaitUntil(engine::Clock::time_point due) override { return stop_.WaitUntil(due); }
  bool requested() override { return stop_.requested(); }

 private:
  StopRequest& stop_;
};

// While one lives, SIGINT and SIGTERM are taken as requests (see above). The outermost one
// forgets earlier requests; nested ones (the run of each module of many) share them.
class StopScope {
 public:
  StopScope();
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;
  bool outermost() const { return outermost_; }

 private:
  bool outermost_ = false;
};

// While one lives, a signal ends the program at once even inside a StopScope: a question waits
// on the terminal, and nothing has been sent for it yet.
class StopAtOnce {
 public:
  StopAtOnce();
  ~StopAtOnce();
  StopAtOnce(const StopAtOnce&) = delete;
  StopAtOnce& operator=(const StopAtOnce&) = delete;
};

}  // namespace zvk::cli
