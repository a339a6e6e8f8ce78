// SIGHUP as a request to reopen the file being recorded to, as programs whose logs logrotate
// moves away take it: the next row goes to a file at the recording's name. Windows has no such
// signal; there nothing ever asks.
#pragma once

namespace zvk::cli {

class ReopenRequest {
 public:
  // Takes SIGHUP as a request from now on (instead of the end of the program), forgetting
  // earlier ones.
  static void Install();
  // Whether one came since the last call; the call clears it.
  static bool Take();
};

}  // namespace zvk::cli
