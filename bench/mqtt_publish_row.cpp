#include "mqtt_publish_row.h"

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "broker_process.h"
#include "publish/gateway_publisher.h"
#include "publish/messages.h"
#include "side_by_side.h"

namespace zvk::bench {

namespace {

using Clock = std::chrono::steady_clock;

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
