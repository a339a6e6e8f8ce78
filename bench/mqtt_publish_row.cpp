#include "mqtt_publish_row.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "publish/gateway_publisher.h"
#include "publish/messages.h"
#include "side_by_side.h"

extern char** environ;

namespace zvk::bench {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// Mosquitto on a loopback port, bound to 127.0.0.1 only, for the length of the row.
class BrokerProcess {
 public:
  BrokerProcess() : dir_(std::filesystem::temp_directory_path() / "zvk-bench-broker") {
    std::filesystem::create_directories(dir_);
    port_ = FreeLoopbackPort();
    const std::string conf = (dir_ / "mosquitto.conf").string();
    std::ofstream(conf) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\nuser root\n"
                        << "log_dest none\nset_tcp_nodelay true\n";
    std::string program = "/usr/sbin/mosquitto", c = "-c", path = conf;
    char* argv[] = {program.data(), c.data(), path.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0)
      throw std::runtime_error("cannot start mosquitto");
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!Accepts(port_)) {
      if (Clock::now() > deadline) throw std::runtime_error("mosquitto did not start");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~BrokerProcess() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    std::filesystem::remove_all(dir_);
  }
  std::uint16_t port() const { return port_; }

 private:
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// The baseline: libmosquitto with its own network thread, publishing prepared payloads at QoS 1
// and waiting for their acknowledgements.
class BareClient {
 public:
  explicit BareClient(std::uint16_t port) {
    client_ = mosquitto_new("zvk-bench-bare", true, this);
    mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int) {
      auto* b = static_cast<BareClient*>(self);
      {
        std::lock_guard<std::mutex> lock(b->mutex_);
        ++b->acked_;
      }
      b->changed_.notify_all();
    });
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);  // as the gateway
    if (mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
      throw std::runtime_error("the bare client cannot connect");
    mosquitto_loop_start(client_);
  }
  ~BareClient() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  bool PublishAll(const std::vector<publish::Message>& messages) {
    for (const publish::Message& m : messages) {
      if (mosquitto_publish(client_, nullptr, m.topic.c_str(), static_cast<int>(m.payload.size()),
                            m.payload.data(), 1, m.retain) != MOSQ_ERR_SUCCESS)
        return false;
      ++sent_;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return acked_ == sent_; });
  }

 private:
  mosquitto* client_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t sent_ = 0;
  std::size_t acked_ = 0;
};

}  // namespace

Row PublishRow(bool quick) {
  mosquitto_lib_init();
  BrokerProcess broker;
  publish::PublishSettings settings;
  settings.broker = {false, "127.0.0.1", broker.port()};
  settings.topic_prefix = "bench";
  settings.client_id = publish::DesktopClientId("025a51360001");
  publish::GatewayPublisher gateway(settings);
  gateway.Add({"025a51360001", "zVK-QN6", "bench", "V01.12"});
  gateway.Connect(std::chrono::seconds(10));
  // A thermistor module's poll: numbers in both units, and two channels without one.
  const auto number = [](const char* channel, double value, ReadingUnit unit, const char* text) {
    return Reading{channel, value, unit, ReadingState::Ok, text};
  };
  const auto without = [](const char* channel, ReadingState state, const char* text) {
    return Reading{channel, std::nullopt, ReadingUnit::Celsius, state, text};
  };
  Sample sample{std::chrono::system_clock::now(),
                SampleKind::Readings,
                {number("TH0", 24.9, ReadingUnit::Celsius, "24.9\u2103"),
                 number("TH1", 20.1, ReadingUnit::Celsius, "20.1\u2103"),
                 number("TH2", 86.2, ReadingUnit::Fahrenheit, "86.2\u2109"),
                 number("TH3", 23.7, ReadingUnit::Celsius, "23.7\u2103"),
                 number("TH4", 28.0, ReadingUnit::Celsius, "28.0\u2103"),
                 number("TH5", 77.7, ReadingUnit::Fahrenheit, "77.7\u2109"),
                 without("TH6", ReadingState::OverRange, "Over Range"),
                 without("TH7", ReadingState::Disable, "Disable")}};
  publish::ReadingMessages bare_messages(publish::Topics("bare", "025a51360001"));
  const std::vector<publish::Message> payloads = bare_messages.For(sample);
  BareClient bare(broker.port());
  int failures = 0;
  const Comparison c = SideBySide(
      [&] {
        gateway.Submit("025a51360001", sample);
        if (!gateway.WaitDelivered(Clock::now() + std::chrono::seconds(10))) ++failures;
      },
      [&] {
        if (!bare.PublishAll(payloads)) ++failures;
      },
      quick ? 20 : 100, quick ? 4 : 15);
  if (failures > 0) throw std::runtime_error(std::to_string(failures) + " publications failed");
  gateway.Finish(Clock::now() + std::chrono::seconds(5));
  Row row{"Publishing one poll of 8 channels, QoS 1, to a broker on loopback (CPU per poll; wall)",
          Micros(c.measured_cpu) + "; " + Micros(c.measured_wall),
          Micros(c.baseline_cpu) + "; " + Micros(c.baseline_wall) +
              " (bare libmosquitto client, same payloads)"};
  row.ratio = c.ratio;
  return row;
}

}  // namespace zvk::bench
