// Keeps the bytes of the reply buffer that did not arrive in the current reply unreadable: under
// AddressSanitizer they are poisoned, so a handler that reads one fails at once with a report;
// without it the arrived length is still kept for the harnesses' own checks. Only the network
// seam of a harness drives it; the link itself is untouched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvk::harness {

class ReplyWatch {
 public:
  ReplyWatch() = default;
  ReplyWatch(const ReplyWatch&) = delete;
  ReplyWatch& operator=(const ReplyWatch&) = delete;
  ~ReplyWatch() { Release(); }

  // The buffer replies are read into (the link's ReplyBuffer).
  void Attach(std::uint8_t* buffer, std::size_t size);
  // A reply is awaited: nothing of it has arrived, so no byte of the buffer may be read.
  void Expect();
  // Bytes written by the socket at `at`: readable again when they lie in the buffer.
  void Arrived(const std::uint8_t* at, std::size_t n);
  // Everything readable again (a new exchange starts, the run ends).
  void Release();

  // Bytes of the current reply that arrived, counted from the start of the buffer.
  std::size_t arrived() const { return arrived_; }
  bool poisoning() const;

 private:
  std::uint8_t* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::size_t arrived_ = 0;
  bool expecting_ = false;
};

}  // namespace zvk::harness
