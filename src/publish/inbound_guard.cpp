#include "publish/inbound_guard.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace zvk::publish {

namespace {

// A broker that takes no bytes for this long is as good as gone.
constexpr int kWriteWaitMs = 30'000;
// The TLS handshake with the broker, at most.
constexpr int kHandshakeMs = 10'000;

std::string TlsError() {
  const unsigned long e = ERR_get_error();
  if (e == 0) return "the connection ended during the TLS handshake";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

}  // namespace

ssl_ctx_st* NewTlsContext(const std::string& cafile) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) throw std::runtime_error(TlsError());
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  const int loaded = cafile.empty()
                         ? SSL_CTX_load_verify_locations(context, nullptr, "/etc/ssl/certs")
                         : SSL_CTX_load_verify_locations(context, cafile.c_str(), nullptr);
  if (loaded != 1) {
    const std::string why = TlsError();
    SSL_CTX_free(context);
    throw std::runtime_error(why);
  }
  return context;
}

void FreeTlsContext(ssl_ctx_st* context) {
  SSL_CTX_free(context);
}

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

InboundGuard::InboundGuard(int fd, std::size_t largest_packet, GuardTls tls,
                           std::function<void(const std::string&)> refused)
    : tls_(std::move(tls)), frames_(largest_packet), refused_(std::move(refused)) {
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
  if (ssl_) SSL_free(ssl_);
  for (int fd : {broker_, client_, wake_[0], wake_[1]})
    if (fd >= 0) ::close(fd);
}

bool InboundGuard::WaitBroker(short events, int timeout_ms) {
  for (;;) {
    pollfd p[2] = {{broker_, events, 0}, {wake_[0], POLLIN, 0}};
    const int n = ::poll(p, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (p[1].revents & POLLIN) == 0;
  }
}

bool InboundGuard::FromBroker(const std::uint8_t* bytes, std::size_t count) {
  const std::size_t passing = frames_.Take(bytes, count);
  // What came before the refused packet (the broker's acceptance, say) still counts.
  if (!WriteAll(client_, bytes, passing)) return false;
  if (frames_.refusal().empty()) return true;
  refused_(frames_.refusal());
  return false;
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
  if (!WaitBroker(POLLOUT, -1)) {
    ::shutdown(client_, SHUT_RDWR);
    return;
  }
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(broker_, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    // libmosquitto sees its side closed, as a connection that failed.
    refused_("cannot reach the broker: " + std::generic_category().message(error));
  } else if (tls_.context) {
    RelayTls();
  } else {
    Relay();
  }
  // Both sides learn that the connection is over.
  ::shutdown(broker_, SHUT_RDWR);
  ::shutdown(client_, SHUT_RDWR);
}

void InboundGuard::Relay() {
  std::uint8_t buffer[16384];
  for (;;) {
    pollfd p[3] = {{broker_, POLLIN, 0}, {client_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::recv(broker_, buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0 || !FromBroker(buffer, static_cast<std::size_t>(n))) return;
    }
    if ((p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0 || !WriteAll(broker_, buffer, static_cast<std::size_t>(n))) return;
    }
    if ((p[2].revents & POLLIN) != 0) {
      // Told to end: what libmosquitto wrote last (its DISCONNECT) still goes out, or the
      // broker would publish the last will.
      for (;;) {
        const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0 || !WriteAll(broker_, buffer, static_cast<std::size_t>(n))) break;
      }
      return;
    }
  }
}

void InboundGuard::RelayTls() {
  ssl_ = SSL_new(tls_.context);
  if (!ssl_ || SSL_set_fd(ssl_, broker_) != 1) {
    refused_("TLS: " + TlsError());
    return;
  }
  // The certificate must name the broker as the URL does: its host name, or its address.
  unsigned char address[16];
  const bool literal = ::inet_pton(AF_INET, tls_.host.c_str(), address) == 1 ||
                       ::inet_pton(AF_INET6, tls_.host.c_str(), address) == 1;
  if (literal) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), tls_.host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, tls_.host.c_str());
    SSL_set1_host(ssl_, tls_.host.c_str());
  }
  ERR_clear_error();
  for (;;) {
    const int r = SSL_connect(ssl_);
    if (r == 1) break;
    const int e = SSL_get_error(ssl_, r);
    if ((e == SSL_ERROR_WANT_READ && WaitBroker(POLLIN, kHandshakeMs)) ||
        (e == SSL_ERROR_WANT_WRITE && WaitBroker(POLLOUT, kHandshakeMs)))
      continue;
    const long verified = SSL_get_verify_result(ssl_);
    refused_(verified != X509_V_OK ? std::string("TLS: the broker's certificate: ") +
                                         X509_verify_cert_error_string(verified)
                                   : "TLS: " + TlsError());
    return;
  }

  std::uint8_t buffer[16384];
  std::vector<std::uint8_t> out;  // from libmosquitto, not yet taken by TLS
  bool client_open = true;
  for (;;) {
    bool broker_wants_write = false;
    // Everything TLS has decrypted, before waiting again.
    for (;;) {
      const int n = SSL_read(ssl_, buffer, sizeof buffer);
      if (n > 0) {
        if (!FromBroker(buffer, static_cast<std::size_t>(n))) return;
        continue;
      }
      const int e = SSL_get_error(ssl_, n);
      if (e == SSL_ERROR_WANT_READ) break;
      if (e == SSL_ERROR_WANT_WRITE) {
        broker_wants_write = true;
        break;
      }
      return;  // closed, or broken
    }
    if (out.empty() && client_open) {
      const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) out.assign(buffer, buffer + n);
      if (n == 0) client_open = false;
    }
    if (!out.empty()) {
      const int n = SSL_write(ssl_, out.data(), static_cast<int>(out.size()));
      if (n > 0) {
        out.erase(out.begin(), out.begin() + n);
        continue;
      }
      const int e = SSL_get_error(ssl_, n);
      if (e == SSL_ERROR_WANT_WRITE) broker_wants_write = true;
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return;
    }
    if (!client_open && out.empty()) {
      // libmosquitto is done: its last bytes went out; a TLS goodbye, then the end.
      SSL_shutdown(ssl_);
      return;
    }
    pollfd p[3] = {{broker_, static_cast<short>(POLLIN | (broker_wants_write ? POLLOUT : 0)), 0},
                   {client_, static_cast<short>(out.empty() && client_open ? POLLIN : 0), 0},
                   {wake_[0], POLLIN, 0}};
    if (::poll(p, 3, -1) < 0 && errno != EINTR) return;
    if ((p[2].revents & POLLIN) != 0) {
      // Told to end: as above, libmosquitto's last bytes first.
      client_open = false;
      for (;;) {
        const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
      }
      while (!out.empty()) {
        const int n = SSL_write(ssl_, out.data(), static_cast<int>(out.size()));
        if (n <= 0) break;
        out.erase(out.begin(), out.begin() + n);
      }
      SSL_shutdown(ssl_);
      return;
    }
  }
}

}  // namespace zvk::publish
