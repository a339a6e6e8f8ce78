#include "harness/reply_watch.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZVK_HARNESS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZVK_HARNESS_ASAN 1
#endif

#ifdef ZVK_HARNESS_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace zvk::harness {

namespace {

void Poison([[maybe_unused]] const std::uint8_t* at, [[maybe_unused]] std::size_t n) {
#ifdef ZVK_HARNESS_ASAN
  __asan_poison_memory_region(at, n);
#endif
}

void Unpoison([[maybe_unused]] const std::uint8_t* at, [[maybe_unused]] std::size_t n) {
#ifdef ZVK_HARNESS_ASAN
  __asan_unpoison_memory_region(at, n);
#endif
}

}  // namespace

bool ReplyWatch::poisoning() const {
#ifdef ZVK_HARNESS_ASAN
  return true;
#else
  return false;
#endif
}

void ReplyWatch::Attach(std::uint8_t* buffer, std::size_t size) {
  Release();
  buffer_ = buffer;
  size_ = size;
}

void ReplyWatch::Expect() {
  if (buffer_ == nullptr) return;
  arrived_ = 0;
  expecting_ = true;
  Poison(buffer_, size_);
}

void ReplyWatch::Arrived(const std::uint8_t* at, std::size_t n) {
  if (!expecting_ || at < buffer_ || at >= buffer_ + size_) return;
  const std::size_t offset = static_cast<std::size_t>(at - buffer_);
  if (n > size_ - offset) n = size_ - offset;
  Unpoison(at, n);
  // Replies are read front to back; the readable part stays one prefix.
  if (offset + n > arrived_) arrived_ = offset + n;
}

void ReplyWatch::Release() {
  if (buffer_ != nullptr && expecting_) Unpoison(buffer_, size_);
  expecting_ = false;
}

}  // namespace zvk::harness
