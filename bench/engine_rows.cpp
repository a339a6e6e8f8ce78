#include "engine_rows.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "broker_process.h"
#include "clocks.h"
#include "util/file_writer.h"

extern char** environ;

namespace zvk::bench {

namespace {

constexpr double kIntervalSeconds = 3.1;  // the default interval of `log` and `publish`
constexpr double kCoreShareGoal = 0.10;
constexpr double kMemoryGoalBytes = 200e6;

// One zvk-sim serving `count` modules (voltage and thermistor modules by turns) on 127.0.0.1,
// 127.0.0.2, ... all on one port the kernel chose; stopped with the row.
class FleetSimulator {
 public:
  FleetSimulator(const std::filesystem::path& program, int count) {
    std::string models;
    for (int k = 0; k < count; ++k)
      models += std::string(k > 0 ? "," : "") + (k % 2 ? "qn6" : "km3");
    std::vector<std::string> argv = {
        program.string(), "--count", std::to_string(count), "--port", "0", "--model", models};
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
      throw std::system_error(errno, std::generic_category(), "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
    if (rc != 0) {
      ::close(stdout_);
      throw std::system_error(rc, std::generic_category(), "cannot start " + argv[0]);
    }
    // "zvk-sim: km3 listening on 127.0.0.1:PORT", one line a module once it serves.
    for (int served = 0; served < count;) {
      const std::optional<std::string> line = ReadLine(60000);
      if (!line) {
        Stop();
        throw std::runtime_error("zvk-sim served " + std::to_string(served) + " of " +
                                 std::to_string(count) + " modules");
      }
      const std::size_t at = line->find(" listening on ");
      if (at == std::string::npos) continue;
      inventory_ += line->substr(at + 14) + "\n";
      ++served;
    }
  }
  ~FleetSimulator() { Stop(); }
  FleetSimulator(const FleetSimulator&) = delete;
  FleetSimulator& operator=(const FleetSimulator&) = delete;

  // One "address:port" a line, for --hosts.
  const std::string& inventory() const { return inventory_; }

 private:
  // The next line of the simulator's output; none when it ended or said nothing for `wait_ms`.
  std::optional<std::string> ReadLine(int wait_ms) {
    for (;;) {
      const std::size_t end = buffered_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, wait_ms) <= 0) return std::nullopt;
      char chunk[4096];
      const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffered_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (stdout_ >= 0) ::close(stdout_);
    stdout_ = -1;
  }

  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string buffered_;
  std::string inventory_;
};

struct TimedRun {
  ProcessRun run;
  bool overran = false;  // still running at its deadline: stopped with SIGINT (SIGKILL after 15 s)
};

// Waits for `pid` to end for at most `ms`; true when it ended.
bool WaitEnd(int pidfd, int ms) {
  pollfd p{pidfd, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, ms);
    if (n >= 0) return n > 0;
    if (errno != EINTR) return false;
  }
}

// Starts `argv` with its standard output discarded and its standard error to `errors`.
int SpawnKeepingErrors(const std::vector<std::string>& argv, const std::filesystem::path& errors) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "cannot start " + argv[0]);
  return pid;
}

// The last line a run wrote to its standard error, made fit for a table cell.
std::string LastLine(const std::filesystem::path& errors) {
  std::ifstream in(errors);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  for (char& c : last)
    if (static_cast<unsigned char>(c) < 0x20 || c == '|' || c == 0x7F) c = ' ';
  if (last.size() > 160) last = last.substr(0, 160) + "...";
  return last;
}

TimedRun RunWithin(const std::vector<std::string>& argv, double seconds,
                   const std::filesystem::path& errors) {
  const double started = WallSeconds();
  const int pid = SpawnKeepingErrors(argv, errors);
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  TimedRun timed;
  if (pidfd >= 0) {
    if (!WaitEnd(pidfd, static_cast<int>(seconds * 1000))) {
      timed.overran = true;
      ::kill(pid, SIGINT);
      if (!WaitEnd(pidfd, 15000)) ::kill(pid, SIGKILL);
    }
    ::close(pidfd);
  }
  timed.run = Finish(pid, started);
  return timed;
}

std::string Fixed(double value, const char* format) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

Row EngineRow(const std::string& what, const std::vector<std::string>& argv, int rounds,
              const std::filesystem::path& errors) {
  const double allowed = rounds * kIntervalSeconds * 3 + 60;
  const TimedRun t = RunWithin(argv, allowed, errors);
  const ProcessRun& r = t.run;
  const double share = r.wall_seconds > 0 ? r.cpu_seconds / r.wall_seconds : 0;
  const double bytes = static_cast<double>(r.peak_rss_kib) * 1024.0;
  std::string measured = Fixed(share * 100, "%.1f %%") + " of one core; " +
                         Mebibytes(r.peak_rss_kib) + " peak; " + Fixed(r.wall_seconds, "%.1f s");
  bool ok = true;
  if (t.overran) {
    measured = "**not finished** within " + Fixed(allowed, "%.0f s") + ": " + measured;
    ok = false;
  } else if (r.exit_code != 0) {
    measured = "**failed** (exit " + std::to_string(r.exit_code) + ", \"" + LastLine(errors) +
               "\"): " + measured;
    ok = false;
  }
  Row row{what, measured, ""};
  row.goal = "< 10 % of one core, < 200 MB";
  row.met = ok && share < kCoreShareGoal && bytes < kMemoryGoalBytes;
  return row;
}

}  // namespace

std::vector<Row> EngineRows(const EngineProgramPaths& programs, bool quick) {
  const int rounds = quick ? 2 : 5;
  const std::string count = std::to_string(rounds);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zvk-bench-engine-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path inventory = dir / "modules.txt";
  const std::filesystem::path log = dir / "readings.csv";
  const std::filesystem::path errors = dir / "errors.txt";
  const bool broker_here = std::filesystem::exists(kMosquittoProgram);
  std::vector<Row> rows;
  for (const int modules : quick ? std::vector<int>{200} : std::vector<int>{200, 1000}) {
    std::cerr << "zvk_bench: fleet of " << modules << " modules\n";
    const FleetSimulator fleet(programs.simulator, modules);
    ReplaceFile(inventory, fleet.inventory());
    const std::string of = std::to_string(modules) + " modules, " + count + " rounds at 3.1 s";
    const std::vector<std::string> hosts = {programs.zvk.string(), "--hosts", inventory.string(),
                                            "--skip-wifi-check"};

    std::vector<std::string> logging = hosts;
    logging.insert(logging.end(), {"log", log.string(), "--count", count});
    rows.push_back(EngineRow("`zvk --hosts log`, " + of + " (CPU share; peak RSS; wall)", logging,
                             rounds, errors));
    std::filesystem::remove(log);

    const std::string publishing = "`zvk --hosts publish`, " + of + " (CPU share; peak RSS; wall)";
    if (!broker_here) {
      rows.push_back(
          {publishing,
           "not measured: no broker (" + std::string(kMosquittoProgram) + " is not installed)",
           ""});
      continue;
    }
    const BrokerProcess broker;
    std::vector<std::string> publish = hosts;
    publish.insert(publish.end(),
                   {"publish", "--broker", "mqtt://127.0.0.1:" + std::to_string(broker.port()),
                    "--count", count});
    rows.push_back(EngineRow(publishing, publish, rounds, errors));
  }
  std::filesystem::remove_all(dir);
  return rows;
}

}  // namespace zvk::bench
