#include "bare_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zvk::bench {

namespace {

// A connected socket to 127.0.0.1:`port`, or -1.
int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only, by construction
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

constexpr int kDeliveryWaitMs = 10000;

}  // namespace

bool BareStream(std::uint16_t port, const std::uint8_t* data, std::size_t length,
                std::size_t piece) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t offset = 0; ok && offset < length; offset += piece) {
    // Each piece its own segment from the second on, as the utility sends them: the same
    // writes on the wire, so the comparison is of what happens around them.
    if (offset == piece) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    const std::size_t size = length - offset < piece ? length - offset : piece;
    for (std::size_t sent = 0; ok && sent < size;) {
      const ssize_t n = ::send(fd, data + offset + sent, size - sent, MSG_NOSIGNAL);
      ok = n > 0;
      if (ok) sent += static_cast<std::size_t>(n);
    }
  }
  // Done once the receiver closed its side after everything, as the utility waits for it.
  if (ok) {
    ::shutdown(fd, SHUT_WR);
    std::uint8_t byte = 0;
    pollfd p{fd, POLLIN, 0};
    ok = ::poll(&p, 1, kDeliveryWaitMs) == 1 && ::recv(fd, &byte, 1, 0) == 0;
  }
  ::close(fd);
  return ok;
}

long BareExchange(std::uint16_t port, const std::uint8_t* frame, std::size_t length,
                  std::uint8_t* reply, std::size_t capacity, std::size_t expected) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only, by construction
  long received = -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, frame, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length)) {
    received = 0;
    while (static_cast<std::size_t>(received) < expected &&
           static_cast<std::size_t>(received) < capacity) {
      const ssize_t n = ::recv(fd, reply + received, capacity - received, 0);
      if (n < 0) received = -1;
      if (n <= 0) break;
      received += n;
    }
  }
  ::close(fd);
  return received;
}

}  // namespace zvk::bench
