// The HTTP endpoint a Prometheus server scrapes: GET /metrics answered with the text a callback
// renders, on a thread of the server's own, from construction to destruction.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace zvk::metrics {

class MetricsServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MetricsServer {
 public:
  using Render = std::function<std::string()>;
  // Listens on `host` (a dotted IPv4 address) and `port` (0: one the system chooses). `render`
  // is called on the server's threads, once per scrape; `content_type` goes with its text.
  // Throws MetricsServerError when the address cannot be listened on.
  MetricsServer(const std::string& host, std::uint16_t port, Render render,
                std::string content_type);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
};

}  // namespace zvk::metrics
