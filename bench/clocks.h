// Clocks for side-by-side measurements: CPU time of the calling thread and of finished child
// processes (getrusage / wait4), wall time, and peak resident memory.
#pragma once

#include <string>
#include <vector>

namespace zvk::bench {

// CPU time (user plus system) of the calling thread, in seconds.
double ThreadCpuSeconds();
double WallSeconds();

struct ProcessRun {
  double cpu_seconds = 0;   // user plus system time of the process
  double wall_seconds = 0;  // from the spawn to its end
  long peak_rss_kib = 0;    // its VmHWM when it ended
  int exit_code = -1;       // -1 when it did not exit normally
};

// Starts a program with `env` added to the environment and its output discarded.
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Waits for a spawned program and reports what it used.
ProcessRun Finish(int pid, double started);
// Spawn and Finish.
ProcessRun RunProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env = {});

}  // namespace zvk::bench
