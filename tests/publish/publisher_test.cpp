// A gateway's publisher against a broker of the test's own that does what a real one will not:
// never acknowledge, drop the gateway again and again, refuse a reconnection, know only MQTT
// 3.1.1. What is delivered, how the back-off grows, and that the gateway keeps trying.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "publish/broker.h"
#include "publish/gateway_publisher.h"
#include "support/readings.h"

namespace zvk::publish {
namespace {

using namespace std::chrono_literals;
using test::ScriptedBroker;
using Clock = std::chrono::steady_clock;

const ModuleIdentity kModule{"025a51360001", "zVK-QN6", "Lab bench 1", "V01.12"};

PublishSettings Settings(const ScriptedBroker& broker) {
  PublishSettings s;
  s.broker = ParseBrokerUrl(broker.url());
  s.client_id = DesktopClientId(kModule.id);
  return s;
}

Sample Poll() {
  return Sample{std::chrono::system_clock::now(), SampleKind::Readings,
                test::Named({"TH0", "TH1"}, {test::C(24.9), test::Without(ReadingState::Disable)})};
}

// Waits until `done` holds for the publisher's status, woken by its changes.
bool WaitFor(GatewayPublisher& p, const std::function<bool(const PublisherStatus&)>& done,
             std::chrono::milliseconds limit = 10s) {
  std::mutex m;
  std::condition_variable changed;
  p.OnChange([&] {
    std::lock_guard<std::mutex> lock(m);
    changed.notify_all();
  });
  std::unique_lock<std::mutex> lock(m);
  const bool ok = changed.wait_for(lock, limit, [&] { return done(p.Status()); });
  lock.unlock();
  p.OnChange(nullptr);
  return ok;
}

TEST(publishPublisher, WhatTheBrokerDidNotAcknowledgeIsNeitherPublishedNorDelivered) {
  ScriptedBroker broker([](ScriptedBroker::Connection& c, int) {
    if (c.Accept() != 0) c.Serve(false);
  });
  GatewayPublisher p(Settings(broker));
  p.Add(kModule);
  p.Connect(5s);
  p.Submit(kModule.id, Poll());
  // Handed to the client at once (the queue is empty), yet still counted as queued.
  PublisherStatus st = p.Status();
  EXPECT_EQ(st.queued_polls, 0u);
  EXPECT_EQ(st.queued, 2u);
  EXPECT_FALSE(p.WaitDelivered(Clock::now() + 300ms));
  EXPECT_FALSE(p.Finish(Clock::now() + 300ms)) << "nothing was acknowledged";
  st = p.Status();
  EXPECT_EQ(st.published, 0u);
  EXPECT_EQ(st.queued, 2u);
}

TEST(publishPublisher, ReconnectsWithAGrowingBackOffAndTriesARefusalAgain) {
  ScriptedBroker broker([](ScriptedBroker::Connection& c, int index) {
    if (index == 0) c.Accept();      // accepted, then dropped at once
    if (index == 3) c.Accept(0x87);  // refused: not authorised
    if (index >= 4 && c.Accept() != 0) c.Serve();
    // 1 and 2: dropped before any answer
  });
  PublishSettings settings = Settings(broker);
  settings.reconnect_first = 100ms;
  GatewayPublisher p(settings);
  p.Add(kModule);
  p.Connect(5s);
  // The refusal is what the status says while the gateway waits to try again.
  EXPECT_TRUE(WaitFor(p, [](const PublisherStatus& s) {
    return s.last_error == "refused: Connection Refused: not authorised.";
  })) << p.Status().last_error;
  ASSERT_TRUE(WaitFor(p, [](const PublisherStatus& s) { return s.connected && s.reconnects == 1; }))
      << p.Status().last_error;
  EXPECT_FALSE(p.Status().refused) << "a refused reconnection is tried again";
  const auto at = broker.Accepted();
  ASSERT_EQ(at.size(), 5u);
  // 100, 200, 400, 800 ms: each wait twice the one before.
  for (std::size_t i = 2; i < at.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_GE(at[i] - at[i - 1], 100ms * (1 << (i - 1)) * 9 / 10);
  }
  p.Submit(kModule.id, Poll());
  EXPECT_TRUE(p.WaitDelivered(Clock::now() + 10s));
  EXPECT_TRUE(p.Finish(Clock::now() + 10s));
}

TEST(publishPublisher, SpeaksMqtt311ToABrokerThatKnowsNoLaterVersion) {
  std::mutex m;
  std::vector<int> levels;
  ScriptedBroker broker([&](ScriptedBroker::Connection& c, int) {
    const auto connect = c.Read();
    if (!connect || connect->body.size() < 7) return;
    const int level = connect->body[6];
    {
      std::lock_guard<std::mutex> lock(m);
      levels.push_back(level);
    }
    // A 3.1.1 broker answers any other level with its refusal of the version, in 3.1.1.
    c.Send({0x20, 0x02, 0x00, static_cast<std::uint8_t>(level == 4 ? 0 : 1)});
    if (level == 4) c.Serve();
  });
  GatewayPublisher p(Settings(broker));
  p.Add(kModule);
  p.Connect(5s);
  p.Submit(kModule.id, Poll());
  EXPECT_TRUE(p.WaitDelivered(Clock::now() + 10s));
  EXPECT_TRUE(p.Finish(Clock::now() + 10s));
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(levels, (std::vector<int>{5, 4}));
}

// A broker that acknowledges every publish and keeps each one's topic and payload, in order.
class RecordingBroker {
 public:
  RecordingBroker()
      : broker_([this](ScriptedBroker::Connection& c, int) {
          if (c.Accept() == 0) return;
          while (const auto packet = c.Read(std::chrono::hours(1))) {
            if (packet->type == 14) return;
            if (packet->type == 12) c.Send({0xD0, 0x00});
            if (packet->type != 3) continue;
            // The topic with its length, the packet id, then (MQTT 5) the properties' length, 0.
            const auto& b = packet->body;
            const std::size_t n = (std::size_t{b[0]} << 8) | b[1];
            {
              std::lock_guard<std::mutex> lock(mutex_);
              topics_.emplace_back(b.begin() + 2, b.begin() + 2 + n);
              payloads_.emplace_back(b.begin() + 2 + n + 3, b.end());
            }
            c.Send({0x40, 0x02, b[n + 2], b[n + 3]});
          }
        }) {}
  const ScriptedBroker& broker() const { return broker_; }
  std::vector<std::string> topics() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return topics_;
  }
  std::vector<std::string> payloads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return payloads_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> topics_;
  std::vector<std::string> payloads_;
  ScriptedBroker broker_;  // last: its thread ends before the rest goes
};

TEST(publishPublisher, EachModuleHasItsOwnQueueAndTheQueuesGoOutInTurn) {
  RecordingBroker recording;
  const ScriptedBroker& broker = recording.broker();
  PublishSettings settings = Settings(broker);
  settings.queue_polls = 2;
  GatewayPublisher p(settings);
  const ModuleIdentity other{"025a4b330002", "zVK-QN6", "Lab bench 2", "V01.12"};
  ASSERT_TRUE(p.Add(kModule));
  ASSERT_TRUE(p.Add(other));
  EXPECT_FALSE(p.Add(kModule)) << "a module is added once";
  // Queued before the broker is there: one poll more than the first module's queue holds.
  for (int i = 0; i < 3; ++i) p.Submit(kModule.id, Poll());
  p.Submit(other.id, Poll());
  EXPECT_EQ(p.Status(kModule.id).dropped_polls, 1u);
  EXPECT_EQ(p.Status(other.id).dropped_polls, 0u)
      << "one module's backlog drops nothing of another";
  p.Connect(5s);
  ASSERT_TRUE(p.WaitDelivered(Clock::now() + 10s));
  EXPECT_EQ(p.Status(kModule.id).published, 4u);
  EXPECT_EQ(p.Status(other.id).published, 2u);
  EXPECT_EQ(p.Status().published, 6u);
  ASSERT_TRUE(p.Finish(Clock::now() + 10s));

  const std::string gateway = GatewayStatusTopic("zvk", p.client_id());
  const std::string a = "zvk/" + kModule.id + "/", b = "zvk/" + other.id + "/";
  const std::vector<std::string> topics = recording.topics();
  ASSERT_EQ(topics.size(), 1u + 2u + 6u + 3u) << ::testing::PrintToString(topics);
  // The gateway's status first, then each module's; the readings of both modules in turn.
  EXPECT_EQ(topics[0], gateway);
  EXPECT_EQ(std::vector<std::string>(topics.begin() + 1, topics.begin() + 3),
            (std::vector<std::string>{a + "status", b + "status"}));
  EXPECT_EQ(
      std::vector<std::string>(topics.begin() + 3, topics.begin() + 9),
      (std::vector<std::string>{a + "TH0", b + "TH0", a + "TH1", b + "TH1", a + "TH0", a + "TH1"}));
  // At the finish every module goes offline, and the gateway last.
  EXPECT_EQ(std::vector<std::string>(topics.begin() + 9, topics.end()),
            (std::vector<std::string>{a + "status", b + "status", gateway}));
}

TEST(publishPublisher, AModuleLeftGoesOfflineAndPublishesNoMore) {
  RecordingBroker recording;
  GatewayPublisher p(Settings(recording.broker()));
  p.Add(kModule);
  p.Connect(5s);
  p.Submit(kModule.id, Poll());
  p.Remove(kModule.id);
  p.Submit(kModule.id, Poll());  // too late: nothing more of it
  ASSERT_TRUE(p.WaitDelivered(Clock::now() + 10s));
  EXPECT_EQ(p.Status(kModule.id).published, 2u);
  const std::string status = "zvk/" + kModule.id + "/status";
  ASSERT_TRUE(p.Finish(Clock::now() + 10s));
  std::vector<std::string> said;
  const std::vector<std::string> topics = recording.topics(), payloads = recording.payloads();
  for (std::size_t i = 0; i < topics.size(); ++i)
    if (topics[i] == status) said.push_back(payloads[i]);
  // Online with its readings, offline when left, and again at the finish.
  EXPECT_EQ(said, (std::vector<std::string>{"online", "offline", "offline"}));
}

// Over plain TCP and over TLS, where the guard is the TLS client.
TEST(publishPublisher, APacketLargerThanTheGatewayTakesEndsTheConnection) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zvk-publish-flood-" + std::to_string(::getpid()));
  // Only for its certificates: a TLS broker's files, made for 127.0.0.1 by a CA of the test's own.
  test::Broker certificates(dir, {.tls = true});
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "mqtts" : "mqtt");
    std::atomic<std::size_t> sent{0};
    ScriptedBroker broker(
        [&](ScriptedBroker::Connection& c, int index) {
          if (c.Accept() == 0) return;
          if (index > 0) return c.Serve();
          // A PUBLISH announcing 256 MiB (the gateway subscribes to nothing), and its bytes.
          if (!c.Send({0x30, 0xFF, 0xFF, 0xFF, 0x7F})) return;
          const std::vector<std::uint8_t> chunk(64 * 1024, 0);
          while (sent < (std::size_t{256} << 20) && c.Send(chunk)) sent += chunk.size();
        },
        tls ? dir : std::filesystem::path());
    PublishSettings settings = Settings(broker);
    settings.cafile = (dir / "ca.pem").string();
    GatewayPublisher p(settings);
    p.Add(kModule);
    p.Connect(5s);
    ASSERT_TRUE(WaitFor(p, [](const PublisherStatus& s) {
      return s.last_error.find("the gateway takes 4096 at most") != std::string::npos;
    })) << p.Status().last_error;
    // Refused at its header: no more than the sockets' buffers ever left the broker.
    EXPECT_LT(sent.load(), std::size_t{32} << 20);
    // The connection is made again and works, and the refusal is no takeover.
    ASSERT_TRUE(WaitFor(p, [](const PublisherStatus& s) { return s.connected; }));
    EXPECT_EQ(p.Status().takeovers, 0u);
    p.Submit(kModule.id, Poll());
    EXPECT_TRUE(p.Finish(Clock::now() + 10s));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zvk::publish
