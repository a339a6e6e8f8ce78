#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/seams.h"
#include "link/tcp.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif
#endif

namespace zvk {

void RealSleeper::SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

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
    // Writable with no error flag: connected. Only a failed connect needs asking why.
    if (!(p.revents & (POLLERR | POLLHUP))) return IoStatus::Done;
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
    // A lone command frame goes out at once anyway; a stream of chunks must not wait for the
    // acknowledgement of the previous one, so the delay is switched off from the second write on.
    if (++writes_ == 2) {
      int one = 1;
      ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
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

  bool ShutdownWrite() override {
    if (::shutdown(fd_, SHUT_WR) == 0) return true;
    Fail();
    return false;
  }

  IoStatus WaitPeerClose(int timeout_ms) override {
    if (!peer_closed_) {
      pollfd p{fd_, POLLIN, 0};
      const int n = ::poll(&p, 1, timeout_ms);
      if (n < 0) return errno == EINTR ? IoStatus::Pending : Fail();
      if (n == 0) return IoStatus::Pending;
      std::uint8_t dropped[1024];
      const ssize_t got = ::recv(fd_, dropped, sizeof dropped, 0);
      if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return IoStatus::Pending;
        return Fail();
      }
      if (got > 0) return IoStatus::Pending;
      peer_closed_ = true;
    }
    // The far end's close acknowledges what it received. Bytes still unacknowledged after it
    // (beyond the one our own close takes) never reached it: the reset for them is on its way.
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) {
      errno = error;
      return Fail();
    }
    const long unacknowledged = Unacknowledged();
    if (unacknowledged <= 1) return IoStatus::Done;
    // Nothing to poll for once the far end has closed: wait out the slice, then look again.
    ::poll(nullptr, 0, timeout_ms);
    return IoStatus::Pending;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::string LastError() const override { return error_; }
  std::int64_t PollHandle() const override { return fd_; }

 private:
  IoStatus Fail() {
    error_ = std::strerror(errno);
    return IoStatus::Failed;
  }

  // Sequence space written and not yet acknowledged by the far end (our close counts one).
  long Unacknowledged() const {
#ifdef __linux__
    int pending = 0;
    if (::ioctl(fd_, SIOCOUTQ, &pending) == 0) return pending;
#endif
    return 0;
  }

  int fd_ = -1;
  int writes_ = 0;
  bool peer_closed_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> SystemNetwork::NewSocket() {
  return std::make_unique<PosixSocket>();
}
#else
namespace {

// Winsock keeps its own reference count; one start-up per socket object keeps it simple.
class WinsockSocket final : public TcpSocket {
 public:
  WinsockSocket() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSocket() override {
    Close();
    if (started_) WSACleanup();
  }

  IoStatus BeginConnect(const std::string& host, std::uint16_t port) override {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (!started_ || inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
      error_ = "invalid address " + host;
      return IoStatus::Failed;
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd_ == INVALID_SOCKET) return Fail();
    u_long non_blocking = 1;
    ioctlsocket(fd_, FIONBIO, &non_blocking);
    BOOL one = TRUE;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return IoStatus::Done;
    if (WSAGetLastError() == WSAEWOULDBLOCK) return IoStatus::Pending;
    return Fail();
  }

  IoStatus PollConnect(int timeout_ms) override {
    WSAPOLLFD p{fd_, POLLWRNORM, 0};
    int n = WSAPoll(&p, 1, timeout_ms);
    if (n < 0) return Fail();
    if (n == 0) return IoStatus::Pending;
    if (p.revents & (POLLERR | POLLHUP)) {
      error_ = "connection refused";
      return IoStatus::Failed;
    }
    return IoStatus::Done;
  }

  bool WriteAll(const std::uint8_t* data, std::size_t length) override {
    std::size_t sent = 0;
    while (sent < length) {
      int n = ::send(fd_, reinterpret_cast<const char*>(data + sent),
                     static_cast<int>(length - sent), 0);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        WSAPOLLFD p{fd_, POLLWRNORM, 0};
        if (WSAPoll(&p, 1, 3000) <= 0) {
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
    WSAPOLLFD p{fd_, POLLRDNORM, 0};
    int n = WSAPoll(&p, 1, timeout_ms);
    if (n < 0) return Fail();
    return n == 0 ? IoStatus::Pending : IoStatus::Done;
  }

  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    int n = ::recv(fd_, reinterpret_cast<char*>(out), static_cast<int>(capacity), 0);
    if (n >= 0) return n;
    if (WSAGetLastError() == WSAEWOULDBLOCK) return -2;
    Fail();
    return -1;
  }

  bool ShutdownWrite() override {
    if (::shutdown(fd_, SD_SEND) == 0) return true;
    Fail();
    return false;
  }

  // Winsock cannot tell what the far end acknowledged: its orderly close is taken as the answer.
  IoStatus WaitPeerClose(int timeout_ms) override {
    WSAPOLLFD p{fd_, POLLRDNORM, 0};
    const int n = WSAPoll(&p, 1, timeout_ms);
    if (n < 0) return Fail();
    if (n == 0) return IoStatus::Pending;
    char dropped[1024];
    const int got = ::recv(fd_, dropped, static_cast<int>(sizeof dropped), 0);
    if (got == 0) return IoStatus::Done;
    if (got > 0 || WSAGetLastError() == WSAEWOULDBLOCK) return IoStatus::Pending;
    return Fail();
  }

  void Close() override {
    if (fd_ != INVALID_SOCKET) closesocket(fd_);
    fd_ = INVALID_SOCKET;
  }

  std::string LastError() const override { return error_; }
  std::int64_t PollHandle() const override {
    return fd_ == INVALID_SOCKET ? -1 : static_cast<std::int64_t>(fd_);
  }

 private:
  IoStatus Fail() {
    error_ = "socket error " + std::to_string(WSAGetLastError());
    return IoStatus::Failed;
  }

  bool started_ = false;
  SOCKET fd_ = INVALID_SOCKET;
  std::string error_;
};

}  // namespace

std::unique_ptr<TcpSocket> SystemNetwork::NewSocket() {
  return std::make_unique<WinsockSocket>();
}
#endif

}  // namespace zvk
