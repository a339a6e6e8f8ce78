#include "content_sink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zvk::bench {

ContentSink::ContentSink() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 8) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listen_fd_ >= 0) ::close(listen_fd_);
    throw std::runtime_error("the content sink cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ContentSink::~ContentSink() {
  ::shutdown(listen_fd_, SHUT_RDWR);  // ends the accept below
  thread_.join();
  ::close(listen_fd_);
}

void ContentSink::Serve() {
  static std::uint8_t chunk[65536];
  for (;;) {
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
      bytes_ += static_cast<std::size_t>(n);
    ::close(fd);
  }
}

}  // namespace zvk::bench
