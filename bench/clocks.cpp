#include "clocks.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

extern char** environ;

namespace zvk::bench {

namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

}  // namespace

double ThreadCpuSeconds() {
  // The thread's own CPU clock: the run time getrusage reports, but read up to this moment
  // rather than as of the last scheduler tick.
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::map<int, double> CpuByThread(int pid) {
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  std::map<int, double> seconds;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    long long run_ns = 0;
    if (schedstat >> run_ns)
      seconds[std::stoi(task.path().filename().string())] = static_cast<double>(run_ns) * 1e-9;
  }
  return seconds;
}

double CpuBetween(const std::map<int, double>& first, const std::map<int, double>& second) {
  double used = 0;
  for (const auto& [tid, seconds] : second) {
    const auto before = first.find(tid);
    used += seconds - (before == first.end() ? 0.0 : before->second);
  }
  return used;
}

int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> environment;
  for (char** e = environ; *e; ++e) environment.push_back(*e);
  for (const std::string& e : env) environment.push_back(const_cast<char*>(e.c_str()));
  environment.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "cannot start " + argv[0]);
  return pid;
}

ProcessRun Finish(int pid, double started) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "wait4");
  }
  ProcessRun run;
  run.wall_seconds = WallSeconds() - started;
  run.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.peak_rss_kib = usage.ru_maxrss;  // the kernel's high-water mark, the VmHWM of /proc
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

ProcessRun RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const double started = WallSeconds();
  return Finish(Spawn(argv, env), started);
}

}  // namespace zvk::bench
