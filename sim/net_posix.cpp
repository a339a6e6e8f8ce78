#ifndef _WIN32

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "sim/net.h"

namespace zvk::sim::net {

namespace {

int Fd(const Socket& socket) {
  return static_cast<int>(socket.get());
}

long ErrorCode() {
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kWouldBlock;
  if (errno == ECONNRESET || errno == EPIPE) return kReset;
  return kFailed;
}

}  // namespace

void Socket::Close() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

void Socket::Abort() {
  if (handle_ == kNoHandle) return;
  const linger reset{1, 0};
  ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  Close();
}

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text) {
  in_addr addr{};
  if (::inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
  std::array<std::uint8_t, 4> octets;
  static_assert(sizeof addr == octets.size());
  std::memcpy(octets.data(), &addr, octets.size());  // network order: first octet first
  return octets;
}

Socket Listen(const std::string& ipv4, std::uint16_t port, std::uint16_t* bound_port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + ipv4);
  }
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener.valid()) throw std::system_error(errno, std::generic_category(), "socket");
  const int on = 1;
  ::setsockopt(Fd(listener), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  socklen_t len = sizeof addr;
  if (::bind(Fd(listener), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(Fd(listener), SOMAXCONN) != 0 ||
      ::getsockname(Fd(listener), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "listen on " + ipv4 + ":" + std::to_string(port));
  }
  *bound_port = ntohs(addr.sin_port);
  return listener;
}

Socket Accept(const Socket& listener, bool* back_off) {
  Socket accepted(::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  *back_off = !accepted.valid() && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
              errno != ECONNABORTED;
  return accepted;
}

Socket ConnectLoopback(std::uint16_t port) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return socket;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    socket.Close();
  }
  return socket;
}

void SetNonBlocking(const Socket& socket) {
  const int flags = ::fcntl(Fd(socket), F_GETFL);
  if (flags >= 0) ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK);
}

long Receive(const Socket& socket, std::uint8_t* out, std::size_t capacity) {
  const ssize_t n = ::recv(Fd(socket), out, capacity, 0);
  return n >= 0 ? static_cast<long>(n) : ErrorCode();
}

long Send(const Socket& socket, const std::uint8_t* data, std::size_t size) {
  const ssize_t n = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
  return n >= 0 ? static_cast<long>(n) : ErrorCode();
}

bool Poll(std::vector<PollItem>& items, int timeout_ms) {
  std::vector<pollfd> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const PollItem& item = items[i];
    fds[i] = {static_cast<int>(item.handle),
              static_cast<short>((item.want_read ? POLLIN : 0) | (item.want_write ? POLLOUT : 0)),
              0};
  }
  const int rc = ::poll(fds.data(), fds.size(), timeout_ms);
  if (rc < 0) return errno == EINTR;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const short revents = fds[i].revents;
    items[i].readable = (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    items[i].writable = (revents & (POLLOUT | POLLERR)) != 0;
  }
  return true;
}

Waker::Waker() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe");
  }
  read_ = Socket(fds[0]);
  write_ = Socket(fds[1]);
}

void Waker::Wake() {
  const std::uint8_t byte = 1;
  while (::write(static_cast<int>(write_.get()), &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace zvk::sim::net

#endif  // _WIN32
