#include "bare_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zvk::bench {

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
