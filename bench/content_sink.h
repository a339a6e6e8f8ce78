// A receiver for content streams on 127.0.0.1: takes every connection and reads it to its end,
// keeping nothing, the same for the utility's stream and for the bare one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace zvk::bench {

class ContentSink {
 public:
  ContentSink();  // throws std::runtime_error when it cannot listen
  ~ContentSink();
  ContentSink(const ContentSink&) = delete;
  ContentSink& operator=(const ContentSink&) = delete;

  std::uint16_t port() const { return port_; }
  std::size_t bytes() const { return bytes_; }

 private:
  void Serve();

  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<std::size_t> bytes_{0};
  std::thread thread_;
};

}  // namespace zvk::bench
