#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "support/child_process.h"

namespace zvk::test {

struct ChildProcess::Impl {
  pid_t pid = -1;
  int out = -1;
  std::optional<int> exit_code;
};

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& args, ChildStreams streams)
    : impl_(std::make_unique<Impl>()) {
  std::vector<char*> argv;
  std::string name = program.filename().string();
  argv.push_back(name.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    if (streams.errors_in_output) ::dup2(pipe_fds[1], STDERR_FILENO);
    if (streams.null_input) {
      const int null = ::open("/dev/null", O_RDONLY);
      if (null < 0) ::_exit(127);
      ::dup2(null, STDIN_FILENO);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  impl_->pid = pid;
  impl_->out = pipe_fds[0];
}

ChildProcess::~ChildProcess() {
  if (!impl_->exit_code) {
    ::kill(impl_->pid, SIGKILL);
    Wait();
  }
  ::close(impl_->out);
}

bool ChildProcess::Fill() {
  if (at_end_) return false;
  char chunk[4096];
  ssize_t n;
  do {
    n = ::read(impl_->out, chunk, sizeof chunk);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    at_end_ = true;
    return false;
  }
  buffered_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

bool ChildProcess::RequestStop() {
  return !impl_->exit_code && ::kill(impl_->pid, SIGTERM) == 0;
}

int ChildProcess::Wait() {
  if (impl_->exit_code) return *impl_->exit_code;
  int status = 0;
  while (::waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
  }
  impl_->exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return *impl_->exit_code;
}

}  // namespace zvk::test

#endif  // _WIN32
