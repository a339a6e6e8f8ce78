// The few socket calls the simulator makes, the same on POSIX and on Winsock: IPv4 TCP sockets,
// one poll over many of them, and a waker another thread trips to end a poll at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zvk::sim::net {

// A descriptor (POSIX) or a SOCKET (Winsock); kNoHandle when there is none.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// Owns one socket and closes it when destroyed.
class Socket {
 public:
  Socket() = default;
  explicit Socket(Handle handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, kNoHandle);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Close(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != kNoHandle; }
  void Close();
  // Closes with a reset (RST) instead of an orderly close.
  void Abort();

 private:
  Handle handle_ = kNoHandle;
};

// The octets of IPv4 text as the system reads it (inet_pton); nullopt when it is not IPv4 text.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text);

// A non-blocking listening socket on an IPv4 address; port 0 takes an ephemeral one. The port it
// got goes to *bound_port. Throws std::invalid_argument for an address that is not IPv4 text and
// std::system_error when the socket cannot listen.
Socket Listen(const std::string& ipv4, std::uint16_t port, std::uint16_t* bound_port);

// Takes a pending connection as a non-blocking socket. An invalid socket when there is none; then
// *back_off tells whether the failure lasts (out of descriptors and the like), so the caller waits
// a little instead of polling a listener that stays readable.
Socket Accept(const Socket& listener, bool* back_off);

// A blocking connection to 127.0.0.1:port; an invalid socket when it is refused.
Socket ConnectLoopback(std::uint16_t port);

void SetNonBlocking(const Socket& socket);

inline constexpr long kWouldBlock = -1;
inline constexpr long kReset = -2;
inline constexpr long kFailed = -3;

// Reads what is buffered: the byte count (> 0), 0 at an orderly close, or one of the codes above.
long Receive(const Socket& socket, std::uint8_t* out, std::size_t capacity);
// Sends what the stack takes now: the byte count, or one of the codes above. Never raises SIGPIPE.
long Send(const Socket& socket, const std::uint8_t* data, std::size_t size);

struct PollItem {
  Handle handle = kNoHandle;
  bool want_read = false;
  bool want_write = false;
  bool readable = false;  // also on a hang-up or an error: the next Receive tells which
  bool writable = false;
};

// Waits up to timeout_ms (-1: without limit) until an item is ready; false when the poll itself
// failed. An interrupted wait returns true with nothing ready.
bool Poll(std::vector<PollItem>& items, int timeout_ms);

// A handle another thread makes readable to end a Poll at once: a pipe on POSIX, a connected
// loopback socket pair on Winsock (whose poll takes sockets only).
class Waker {
 public:
  Waker();  // throws std::system_error
  Handle handle() const { return read_.get(); }
  void Wake();

 private:
  Socket read_;
  Socket write_;
};

}  // namespace zvk::sim::net
