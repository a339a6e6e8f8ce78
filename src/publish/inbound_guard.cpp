#include "publish/inbound_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace zvk::publish {

namespace {

// A broker that takes no bytes for this long is as good as gone.
constexpr int kWriteWaitMs = 30'000;

}  // namespace

std::size_t InboundFrames::Take(const std::uint8_t* bytes, std::size_t count) {
  if (!refusal_.empty()) return 0;
  std::size_t packet_start = 0;  // where the packet under way began in these bytes
  for (std::size_t i = 0; i < count && refusal_.empty();) {
    switch (part_) {
      case Part::Type:
        packet_start = i;
        part_ = Part::Length;
        length_ = 0;
        length_bytes_ = 0;
        ++i;
        break;
      case Part::Length: {
        const std::uint8_t b = bytes[i++];
        length_ |= static_cast<std::size_t>(b & 0x7F) << (7 * length_bytes_);
        ++length_bytes_;
        if ((b & 0x80) != 0 && length_bytes_ == 4) {
          refusal_ = "the broker sent a packet with a malformed length";
          break;
        }
        if ((b & 0x80) != 0) break;
        const std::size_t whole = 1 + static_cast<std::size_t>(length_bytes_) + length_;
        if (whole > largest_) {
          refusal_ = "the broker sent a packet of " + std::to_string(whole) +
                     " bytes; the gateway takes " + std::to_string(largest_) + " at most";
          break;
        }
        body_left_ = length_;
        part_ = body_left_ > 0 ? Part::Body : Part::Type;
        break;
      }
      case Part::Body: {
        const std::size_t n = std::min(body_left_, count - i);
        body_left_ -= n;
        i += n;
        if (body_left_ == 0) part_ = Part::Type;
        break;
      }
    }
  }
  return refusal_.empty() ? count : packet_start;
}

InboundGuard::InboundGuard(int fd, std::size_t largest_packet,
                           std::function<void(const std::string&)> refused)
    : frames_(largest_packet), refused_(std::move(refused)) {
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    ::close(pair[0]);
    ::close(pair[1]);
    return;
  }
  broker_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  // libmosquitto's socket is non-blocking, and its number is the one it keeps using.
  ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
  if (broker_ < 0 || ::dup3(pair[0], fd, O_CLOEXEC) < 0) {
    if (broker_ >= 0) ::close(broker_);
    broker_ = -1;
    ::close(pair[0]);
    ::close(pair[1]);
    return;
  }
  ::close(pair[0]);
  client_ = pair[1];
  ::fcntl(client_, F_SETFL, ::fcntl(client_, F_GETFL) | O_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

InboundGuard::~InboundGuard() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int fd : {broker_, client_, wake_[0], wake_[1]})
    if (fd >= 0) ::close(fd);
}

bool InboundGuard::WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (n > 0) {
      bytes += n;
      count -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p[2] = {{fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(p, 2, kWriteWaitMs) <= 0 || (p[1].revents & POLLIN) != 0) return false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

void InboundGuard::Run() {
  // The connection may still be under way: nothing goes to the broker before it is made.
  for (;;) {
    pollfd p[2] = {{broker_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno == EINTR) continue;
    if ((p[1].revents & POLLIN) != 0) break;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(broker_, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
      // libmosquitto sees its side closed, as a connection that failed.
      refused_("cannot reach the broker: " + std::generic_category().message(error));
      ::shutdown(client_, SHUT_RDWR);
      return;
    }
    if ((p[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) break;
  }
  std::uint8_t buffer[16384];
  for (;;) {
    pollfd p[3] = {{broker_, POLLIN, 0}, {client_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::recv(broker_, buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) break;
      const std::size_t passing = frames_.Take(buffer, static_cast<std::size_t>(n));
      // What came before the refused packet (the broker's acceptance, say) still counts.
      if (!WriteAll(client_, buffer, passing)) break;
      if (!frames_.refusal().empty()) {
        refused_(frames_.refusal());
        break;
      }
    }
    if ((p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) break;
      if (!WriteAll(broker_, buffer, static_cast<std::size_t>(n))) break;
    }
    if ((p[2].revents & POLLIN) != 0) {
      // Told to end: what libmosquitto wrote last (its DISCONNECT) still goes out, or the
      // broker would publish the last will.
      for (;;) {
        const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0 || !WriteAll(broker_, buffer, static_cast<std::size_t>(n))) break;
      }
      break;
    }
  }
  // Both sides learn that the connection is over.
  ::shutdown(broker_, SHUT_RDWR);
  ::shutdown(client_, SHUT_RDWR);
}

}  // namespace zvk::publish
