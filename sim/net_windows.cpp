#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "sim/net.h"

namespace zvk::sim::net {

namespace {

SOCKET Raw(const Socket& socket) {
  return static_cast<SOCKET>(socket.get());
}

Socket Own(SOCKET raw) {
  return raw == INVALID_SOCKET ? Socket() : Socket(static_cast<Handle>(raw));
}

// Not inherited by child processes, as SOCK_CLOEXEC on POSIX: a program a test starts must not
// keep the simulator's port open.
Socket NewSocket() {
  return Own(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

// Winsock is started once for the process and left running until it exits.
void Startup() {
  static std::once_flag once;
  static int error = 0;
  std::call_once(once, [] {
    WSADATA data;
    error = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (error != 0) throw std::system_error(error, std::system_category(), "WSAStartup");
}

long ErrorCode() {
  switch (::WSAGetLastError()) {
    case WSAEWOULDBLOCK:
    case WSAEINTR:
      return kWouldBlock;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return kReset;
    default:
      return kFailed;
  }
}

std::system_error LastError(const std::string& what) {
  return std::system_error(::WSAGetLastError(), std::system_category(), what);
}

}  // namespace

void Socket::Close() {
  if (handle_ != kNoHandle) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = kNoHandle;
}

void Socket::Abort() {
  if (handle_ == kNoHandle) return;
  const linger reset{1, 0};
  ::setsockopt(static_cast<SOCKET>(handle_), SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char*>(&reset), sizeof reset);
  Close();
}

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text) {
  Startup();
  in_addr addr{};
  if (::inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
  std::array<std::uint8_t, 4> octets;
  static_assert(sizeof addr == octets.size());
  std::memcpy(octets.data(), &addr, octets.size());  // network order: first octet first
  return octets;
}

Socket Listen(const std::string& ipv4, std::uint16_t port, std::uint16_t* bound_port) {
  Startup();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + ipv4);
  }
  Socket listener = NewSocket();
  if (!listener.valid()) throw LastError("socket");
  // Without it a second server could take the port while this one listens.
  const BOOL on = TRUE;
  ::setsockopt(Raw(listener), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
  int len = sizeof addr;
  if (::bind(Raw(listener), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(Raw(listener), SOMAXCONN) != 0 ||
      ::getsockname(Raw(listener), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw LastError("listen on " + ipv4 + ":" + std::to_string(port));
  }
  SetNonBlocking(listener);
  *bound_port = ntohs(addr.sin_port);
  return listener;
}

Socket Accept(const Socket& listener, bool* back_off) {
  Socket accepted = Own(::accept(Raw(listener), nullptr, nullptr));
  if (accepted.valid()) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(Raw(accepted)), HANDLE_FLAG_INHERIT, 0);
    SetNonBlocking(accepted);
    *back_off = false;
  } else {
    const int error = ::WSAGetLastError();
    *back_off = error != WSAEWOULDBLOCK && error != WSAEINTR && error != WSAECONNRESET;
  }
  return accepted;
}

Socket ConnectLoopback(std::uint16_t port) {
  Startup();
  Socket socket = NewSocket();
  if (!socket.valid()) return socket;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(Raw(socket), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    socket.Close();
  }
  return socket;
}

void SetNonBlocking(const Socket& socket) {
  u_long on = 1;
  ::ioctlsocket(Raw(socket), FIONBIO, &on);
}

long Receive(const Socket& socket, std::uint8_t* out, std::size_t capacity) {
  const int n = ::recv(Raw(socket), reinterpret_cast<char*>(out), static_cast<int>(capacity), 0);
  return n >= 0 ? static_cast<long>(n) : ErrorCode();
}

long Send(const Socket& socket, const std::uint8_t* data, std::size_t size) {
  const int n = ::send(Raw(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
  return n >= 0 ? static_cast<long>(n) : ErrorCode();
}

bool Poll(std::vector<PollItem>& items, int timeout_ms) {
  std::vector<WSAPOLLFD> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const PollItem& item = items[i];
    // Winsock refuses POLLPRI and the band flags; the normal-data ones are what it takes.
    fds[i].fd = static_cast<SOCKET>(item.handle);
    fds[i].events =
        static_cast<SHORT>((item.want_read ? POLLRDNORM : 0) | (item.want_write ? POLLWRNORM : 0));
    fds[i].revents = 0;
  }
  if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout_ms) == SOCKET_ERROR) {
    return ::WSAGetLastError() == WSAEINTR;
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    const SHORT revents = fds[i].revents;
    items[i].readable = (revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
    items[i].writable = (revents & (POLLWRNORM | POLLERR)) != 0;
  }
  return true;
}

Waker::Waker() {
  std::uint16_t port = 0;
  Socket listener = Listen("127.0.0.1", 0, &port);
  write_ = ConnectLoopback(port);
  if (!write_.valid()) throw LastError("waker connect");
  sockaddr_in own{};
  int own_len = sizeof own;
  ::getsockname(Raw(write_), reinterpret_cast<sockaddr*>(&own), &own_len);
  // Another local program could connect to the port in between: take only our own connection.
  for (int attempt = 0; attempt < 8 && !read_.valid(); ++attempt) {
    std::vector<PollItem> wait{{listener.get(), true}};
    Poll(wait, 1000);
    bool back_off = false;
    Socket accepted = Accept(listener, &back_off);
    sockaddr_in peer{};
    int peer_len = sizeof peer;
    if (accepted.valid() &&
        ::getpeername(Raw(accepted), reinterpret_cast<sockaddr*>(&peer), &peer_len) == 0 &&
        peer.sin_port == own.sin_port) {
      read_ = std::move(accepted);
    }
  }
  if (!read_.valid()) throw LastError("waker accept");
}

void Waker::Wake() {
  const std::uint8_t byte = 1;
  Send(write_, &byte, 1);
}

}  // namespace zvk::sim::net

#endif  // _WIN32
