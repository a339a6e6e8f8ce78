#include "broker_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "util/file_writer.h"

extern char** environ;

namespace zvk::bench {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

BrokerProcess::BrokerProcess()
    : dir_(std::filesystem::temp_directory_path() /
           ("zvk-bench-broker-" + std::to_string(::getpid()))) {
  std::filesystem::create_directories(dir_);
  port_ = FreeLoopbackPort();
  const std::string conf = (dir_ / "mosquitto.conf").string();
  ReplaceFile(conf, "listener " + std::to_string(port_) +
                        " 127.0.0.1\nallow_anonymous true\nuser root\n"
                        "log_dest none\nset_tcp_nodelay true\n");
  std::string program = kMosquittoProgram, c = "-c", path = conf;
  char* argv[] = {program.data(), c.data(), path.data(), nullptr};
  if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0)
    throw std::runtime_error("cannot start mosquitto");
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!Accepts(port_)) {
    if (Clock::now() > deadline) throw std::runtime_error("mosquitto did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

BrokerProcess::~BrokerProcess() {
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace zvk::bench
