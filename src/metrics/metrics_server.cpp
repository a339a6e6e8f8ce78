#include "metrics/metrics_server.h"

#include <httplib.h>

#include <chrono>

#ifndef _WIN32
#include <sys/socket.h>
#endif

namespace zvk::metrics {

namespace {

// A scrape is one small request: what a client keeps open or sends slowly is cut short.
constexpr int kTimeoutSeconds = 2;
constexpr std::size_t kLargestRequest = 8 * 1024;
constexpr std::size_t kThreads = 2;
// How often the end asks the server to stop until its thread has ended: the first time it
// runs, the server may not be listening yet and would miss the request.
constexpr std::chrono::milliseconds kStopRetry{50};

}  // namespace

struct MetricsServer::Impl {
  httplib::Server server;
};

MetricsServer::MetricsServer(const std::string& host, std::uint16_t port, Render render,
                             std::string content_type)
    : impl_(std::make_unique<Impl>()) {
  httplib::Server& server = impl_->server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  // The library's default also shares the port with any other program that asks (SO_REUSEPORT):
  // a second run on the same port must be refused, not take every other scrape.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  });
  server.set_read_timeout(kTimeoutSeconds, 0);
  server.set_write_timeout(kTimeoutSeconds, 0);
  // One request a connection: a connection kept open would hold the end of the run for as long
  // as the server waits for its next request, and scrapes come seconds apart anyway.
  server.set_keep_alive_max_count(1);
  server.set_payload_max_length(kLargestRequest);
  server.Get("/metrics", [render = std::move(render), content_type = std::move(content_type)](
                             const httplib::Request&, httplib::Response& response) {
    response.set_content(render(), content_type.c_str());
  });
  const int bound =
      port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0)
    throw MetricsServerError("cannot serve the metrics at " + host + ":" + std::to_string(port) +
                             " (the port is taken, or the address is none of this machine's)");
  port_ = static_cast<std::uint16_t>(bound);
  thread_ = std::thread([this] {
    impl_->server.listen_after_bind();
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    done_cv_.notify_all();
  });
}

MetricsServer::~MetricsServer() {
  std::unique_lock<std::mutex> lock(mutex_);
  do {
    impl_->server.stop();
  } while (!done_cv_.wait_for(lock, kStopRetry, [this] { return done_; }));
  lock.unlock();
  thread_.join();
}

}  // namespace zvk::metrics
