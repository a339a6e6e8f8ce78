// Clocks for side-by-side measurements: CPU time of the calling thread, of the threads of a
// running process (/proc) and of a finished child process (wait4), its peak resident memory,
// and wall time.
#pragma once

#include <map>
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

// CPU time each thread of a running process has used so far, in seconds, by thread id (the
// kernel's run time accounting, to the nanosecond). Empty when it cannot be read.
std::map<int, double> CpuByThread(int pid);
// CPU time a process used between two readings of CpuByThread. A thread that ended in
// between (an idle pool thread expiring) counts with nothing more than it had at the first.
double CpuBetween(const std::map<int, double>& first, const std::map<int, double>& second);

// Starts a program with `env` added to the environment and its output discarded.
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Waits for a spawned program and reports what it used.
ProcessRun Finish(int pid, double started);
// Spawn and Finish.
ProcessRun RunProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env = {});

}  // namespace zvk::bench
