#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/seams.h"
#include "link/tcp.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace zvk {

void RealSleeper::SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#ifndef _WIN32
namespace {

class PosixSocket final : public TcpSocket {
 public:
  ~PosixSocket() override { Close(); }

  IoStatus BeginConnect(const std::string& host, std::uint16_t port) override {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
      error_ = "invalid address " + host;
      return IoStatus::Failed;
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return Fail();
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      return IoStatus::Done;
    }
    if (errno == EINPROGRESS) return IoStatus::Pending;
    return Fail();
  }

  IoStatus PollConnect(int timeout_ms) override {
    pollfd p{fd_, POLLOUT, 0};
    int n = ::poll(&p, 1, timeout_ms);
    if (n < 0) return errno == EINTR ? IoStatus::Pending : Fail();
    if (n == 0) return IoStatus::Pending;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return Fail();
    if (err != 0) {
      errno = err;
      return Fail();
    }
    return IoStatus::Done;
  }

  bool WriteAll(const std::uint8_t* data, std::size_t length) override {
    std::size_t sent = 0;
    while (sent < length) {
      ssize_t n = ::send(fd_, data + sent, length - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 3000) <= 0) {
          error_ = "write timed out";
          return false;
        }
        continue;
      }
      Fail();
      return false;
    }
    return true;
  }

  IoStatus WaitReadable(int timeout_ms) override {
    pollfd p{fd_, POLLIN, 0};
    int n = ::poll(&p, 1, timeout_ms);
    if (n < 0) return errno == EINTR ? IoStatus::Pending : Fail();
    return n == 0 ? IoStatus::Pending : IoStatus::Done;
  }

  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    ssize_t n = ::recv(fd_, out, capacity, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return -2;
    Fail();
    return -1;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::string LastError() const override { return error_; }

 private:
  IoStatus Fail() {
    error_ = std::strerror(errno);
    return IoStatus::Failed;
  }

  int fd_ = -1;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> SystemNetwork::NewSocket() { return std::make_unique<PosixSocket>(); }
#endif

}  // namespace zvk
