// `zvk publish` against the simulator and a real Mosquitto broker on loopback, with a real
// subscriber: every channel's readings with units and states, retained; gaps as states; the
// module's status and the gateway's; the queue across a broker restart; discovery; many modules
// through one connection; and the one-line failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/mqtt_publish.h"
#include "cli/publish_backend.h"
#include "cli/session.h"
#include "cli/term/stop_request.h"
#include "cli/zvk_cli.h"
#include "link/wire.h"
#include "publish/broker.h"
#include "publish/broker_url.h"
#include "publish/gateway_publisher.h"
#include "sim/simulator.h"
#include "support/child_process.h"
#include "support/rig.h"
#include "support/test_seams.h"

namespace zvk::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Broker;
using test::Received;
using test::Subscriber;

const std::string kQn6 = "025a51360001";  // the simulated modules' MACs
const std::string kKm3 = "025a4b330001";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

// The payloads of one topic, in the order received.
std::vector<json> Payloads(const std::vector<Received>& messages) {
  std::vector<json> payloads;
  for (const Received& r : messages) payloads.push_back(json::parse(r.payload));
  return payloads;
}

std::vector<std::string> Texts(const std::vector<Received>& messages) {
  std::vector<std::string> texts;
  for (const Received& r : messages) texts.push_back(r.payload);
  return texts;
}

// Consecutive repeats folded into one.
template <typename T>
std::vector<T> Runs(std::vector<T> values) {
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

std::size_t CountOn(const std::vector<Received>& all, const std::string& topic) {
  return static_cast<std::size_t>(
      std::count_if(all.begin(), all.end(), [&](const Received& r) { return r.topic == topic; }));
}

class publishGateway : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::MosquittoProgram())
      GTEST_SKIP() << "the mosquitto broker is not installed (scripts/bootstrap installs it)";
    // The process too: runs of the suite side by side must not share a broker's files (its
    // persistent sessions would deliver one run's readings to the other).
    dir = fs::temp_directory_path() /
          ("zvk-publish-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (sim) sim->Stop();
    broker.reset();
    fs::remove_all(dir);
  }

  void StartModule(sim::Model model) {
    sim::Options options;
    options.model = model;
    sim = std::make_unique<sim::Simulator>(options);
    sim->Start();
    sleeper.on_sleep = [this](int) { test::WaitForAnnouncedContent(*sim); };
  }
  void StartBroker(Broker::Options options = {}) {
    broker = std::make_unique<Broker>(dir / "broker", options);
    broker->Start();
  }

  std::vector<std::string> Args(const std::vector<std::string>& publish_args,
                                std::string broker_url = "") const {
    if (broker_url.empty()) broker_url = broker->url();
    std::vector<std::string> args{
        "--host",  "127.0.0.1", "--port",  std::to_string(sim->Port()), "--skip-wifi-check",
        "publish", "--broker",  broker_url};
    args.insert(args.end(), publish_args.begin(), publish_args.end());
    return args;
  }

  Result Run(const std::vector<std::string>& args) {
    CliEnv env{.network = network, .hosts = &hosts, .sleeper = &sleeper};
    env.publish = &gateway;
    std::ostringstream out, err;
    Result r;
    r.status = RunZvk(args, out, err, env);
    r.out = out.str();
    r.err = err.str();
    return r;
  }
  Result Publish(const std::vector<std::string>& publish_args) { return Run(Args(publish_args)); }

  fs::path dir;
  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  test::RecordingSleeper sleeper;
  MqttPublish gateway;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<Broker> broker;
};

TEST_F(publishGateway, EveryThermistorChannelWithItsUnitAndStateRetained) {
  StartModule(sim::Model::Qn6);
  sim->SetThermistorOhms(1, 1.0);  // far too hot for its curve
  sim->SetFahrenheit(2, true);
  sim->SetSensorType(3, 0);  // off: "Disable"
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");

  const Result r = Publish({"--count", "2", "--interval", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2 polls: 16 published, 0 not delivered, 0 polls dropped\n");

  const std::string base = "zvk/" + kQn6 + "/";
  ASSERT_TRUE(live.WaitFor([&](const auto& all) {
    return CountOn(all, base + "status") >= 2 && CountOn(all, base + "TH7") >= 2;
  }));
  EXPECT_EQ(Runs(Texts(live.On(base + "status"))), (std::vector<std::string>{"online", "offline"}));
  std::map<std::string, std::string> states, units;
  for (int ch = 0; ch < 8; ++ch) {
    const std::string topic = base + "TH" + std::to_string(ch);
    const std::vector<json> p = Payloads(live.On(topic));
    ASSERT_EQ(p.size(), 2u) << topic;
    for (const json& j : p) {
      SCOPED_TRACE(topic + " " + j.dump());
      EXPECT_EQ(j.at("state").is_string(), true);
      EXPECT_EQ(j.at("value").is_number(), j.at("state") == "OK") << "a number exactly when OK";
      EXPECT_TRUE(j.at("time").is_string());
    }
    states["TH" + std::to_string(ch)] = p.back().at("state");
    units["TH" + std::to_string(ch)] = p.back().at("unit");
  }
  EXPECT_EQ(states["TH0"], "OK");
  EXPECT_EQ(states["TH1"], "Over Range");
  EXPECT_EQ(states["TH3"], "Disable");
  EXPECT_EQ(units["TH0"], "\u00B0C");
  EXPECT_EQ(units["TH2"], "\u00B0F");

  // A subscriber that comes later gets the last reading of every channel, and the statuses of
  // the module and of the gateway (named by its client id).
  Subscriber late(broker->port(), "zvk/#");
  ASSERT_TRUE(late.WaitFor([](const auto& all) { return all.size() >= 10; }));
  const std::vector<Received> retained = late.Messages();
  EXPECT_EQ(retained.size(), 10u);
  for (const Received& m : retained) EXPECT_TRUE(m.retain) << m.topic;
  EXPECT_EQ(Texts(late.On(base + "status")), std::vector<std::string>{"offline"});
  EXPECT_EQ(Texts(late.On("zvk/gateway/zvk-" + kQn6 + "/status")),
            std::vector<std::string>{"offline"});
  EXPECT_EQ(late.On(base + "TH0").at(0).payload, live.On(base + "TH0").back().payload);
}

TEST_F(publishGateway, VoltageChannelsInVolts) {
  StartModule(sim::Model::Km3);
  sim->SetAnalogVolts(0, 1.25);
  StartBroker();
  Subscriber live(broker->port(), "plant/#");
  const Result r = Publish({"--count", "1", "--interval", "0", "--topic-prefix", "plant/hall 2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string base = "plant/hall 2/" + kKm3 + "/";
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, base + "AI4") == 1; }));
  for (int ch = 0; ch < 5; ++ch) {
    const auto p = Payloads(live.On(base + "AI" + std::to_string(ch)));
    ASSERT_EQ(p.size(), 1u) << ch;
    EXPECT_EQ(p[0].at("unit"), "V");
    EXPECT_EQ(p[0].at("state"), "OK");
  }
  EXPECT_NEAR(Payloads(live.On(base + "AI0"))[0].at("value").get<double>(), 1.25, 0.01);
}

TEST_F(publishGateway, AModuleThatStopsAnsweringIsPublishedAsGapsAndOffline) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");
  const std::string base = "zvk/" + kQn6 + "/";
  auto run = std::async(std::launch::async, [&] {
    return Publish({"--count", "10", "--interval", "0.1"});
  });
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, base + "TH0") >= 1; }));
  sim->InjectFault(sim::Fault::Refuse, 2, wire::CMD_READ_DATA);
  const Result r = run.get();
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, base + "TH0") == 10; }));

  std::vector<std::string> states;
  for (const json& j : Payloads(live.On(base + "TH0"))) {
    states.push_back(j.at("state"));
    if (j.at("state") == "No Reading") {
      EXPECT_TRUE(j.at("value").is_null());
    }
  }
  EXPECT_EQ(Runs(states), (std::vector<std::string>{"OK", "No Reading", "OK"}));
  EXPECT_EQ(Texts(live.On(base + "status")),
            (std::vector<std::string>{"online", "offline", "online", "offline"}));
}

// A data poll answered with another command's reply (the identity record, which the window would
// decode as 5.2710E+272) holds no readings: "No Reading" and offline, never a value from it.
TEST_F(publishGateway, AReplyToAnotherCommandIsNoReadingAndOffline) {
  StartModule(sim::Model::Km3);
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");
  const std::string base = "zvk/" + kKm3 + "/";
  auto run = std::async(std::launch::async, [&] {
    return Publish({"--count", "4", "--interval", "0.1"});
  });
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, base + "AI4") >= 1; }));
  sim->InjectFault(sim::Fault::OtherReply, 1000, wire::CMD_READ_DATA);
  const Result r = run.get();
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, base + "AI4") == 4; }))
      << r.err;
  for (int ch = 0; ch < 5; ++ch) {
    std::vector<std::string> states;
    for (const json& j : Payloads(live.On(base + "AI" + std::to_string(ch)))) {
      states.push_back(j.at("state"));
      if (j.at("state") != "OK") {
        EXPECT_TRUE(j.at("value").is_null()) << ch;
      }
    }
    EXPECT_EQ(Runs(states), (std::vector<std::string>{"OK", "No Reading"})) << ch;
  }
  EXPECT_EQ(Runs(Texts(live.On(base + "status"))), (std::vector<std::string>{"online", "offline"}));
  EXPECT_NE(r.err.find("the reply is for command 33, not 216"), std::string::npos) << r.err;
}

// Runs a gateway of `count` polls and stops the broker once the first readings arrived, until
// the module was polled `outage_polls` more times; what the persistent subscriber then got.
struct Restart {
  Result result;
  std::vector<json> th0;
};

class publishAcrossRestart : public publishGateway {
 protected:
  Restart Run(const std::string& queue, int count, int outage_polls) {
    StartModule(sim::Model::Qn6);
    StartBroker({.persistence = true});
    const std::string base = "zvk/" + kQn6 + "/";
    Restart out;
    {
      Subscriber live(broker->port(), "zvk/+/TH0", "restart-watcher");
      auto run = std::async(std::launch::async, [&] {
        return Publish({"--count", std::to_string(count), "--interval", "0.1", "--queue", queue});
      });
      EXPECT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, base + "TH0") >= 2; }));
      broker->Stop();
      sim->ClearFrames();
      // Each poll is one data request once the module is known.
      EXPECT_TRUE(sim->WaitForFrames(outage_polls, std::chrono::seconds(30)));
      broker->Start();
      out.result = run.get();

      // Every poll the broker acknowledged reaches the subscriber, some perhaps twice.
      std::size_t polls = 0, published = 0;
      std::sscanf(out.result.out.c_str(), "%zu polls: %zu published", &polls, &published);
      live.WaitFor(
          [&](const auto& all) {
            std::set<std::string> distinct;
            for (const Received& m : all)
              if (m.topic == base + "TH0") distinct.insert(json::parse(m.payload).at("time"));
            return distinct.size() >= published / 8;
          },
          std::chrono::seconds(10));
      out.th0 = Payloads(live.On(base + "TH0"));
    }
    return out;
  }
};

// Each value at its first arrival; a later copy is a redelivery.
std::vector<std::string> FirstSeen(const std::vector<std::string>& values) {
  std::vector<std::string> first;
  std::set<std::string> seen;
  for (const std::string& v : values)
    if (seen.insert(v).second) first.push_back(v);
  return first;
}

std::vector<std::string> Times(const std::vector<json>& payloads) {
  std::vector<std::string> times;
  for (const json& j : payloads) times.push_back(j.at("time"));
  return times;
}

TEST_F(publishAcrossRestart, NothingWithinTheQueueIsLostAndOrderIsKept) {
  // 40 polls of 100 ms leave the gateway three seconds after the restart to reconnect, on a
  // loaded machine too.
  const Restart r = Run("1000", 40, 8);
  ASSERT_EQ(r.result.status, 0) << r.result.err;
  EXPECT_EQ(r.result.out, "40 polls: 320 published, 0 not delivered, 0 polls dropped\n");
  EXPECT_NE(r.result.err.find("the broker is lost"), std::string::npos) << r.result.err;
  EXPECT_NE(r.result.err.find("the broker is connected again"), std::string::npos);
  // QoS 1 may bring a message again across a reconnection; never one out of order or none.
  const std::vector<std::string> times = FirstSeen(Times(r.th0));
  EXPECT_EQ(times.size(), 40u);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << ::testing::PrintToString(Times(r.th0));
}

TEST_F(publishAcrossRestart, AFullQueueDropsTheOldestPollsAndSaysSo) {
  const Restart r = Run("3", 30, 12);
  ASSERT_EQ(r.result.status, 0) << r.result.err;
  EXPECT_NE(r.result.err.find("the queue is full: the oldest poll was dropped"), std::string::npos)
      << r.result.err;
  std::size_t polls = 0, published = 0, dropped = 0;
  ASSERT_EQ(std::sscanf(r.result.out.c_str(), "%zu polls: %zu published, 0 not delivered, %zu",
                        &polls, &published, &dropped),
            3)
      << r.result.out;
  EXPECT_EQ(polls, 30u);
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(published + dropped * 8, 240u) << "every poll is either published or dropped whole";
  const std::vector<std::string> times = FirstSeen(Times(r.th0));
  EXPECT_EQ(times.size(), 30u - dropped);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << ::testing::PrintToString(Times(r.th0));
}

TEST_F(publishGateway, DiscoveryConfigurationIsRetainedPerChannel) {
  StartModule(sim::Model::Qn6);
  sim->SetFahrenheit(5, true);
  StartBroker();
  const Result r = Publish({"--count", "1", "--interval", "0", "--discovery"});
  ASSERT_EQ(r.status, 0) << r.err;
  Subscriber late(broker->port(), "homeassistant/#");
  ASSERT_TRUE(late.WaitFor([](const auto& all) { return all.size() >= 8; }));
  const std::vector<Received> configs = late.Messages();
  ASSERT_EQ(configs.size(), 8u);
  for (int ch = 0; ch < 8; ++ch) {
    const std::string name = "TH" + std::to_string(ch);
    const auto on = late.On("homeassistant/sensor/zvk_" + kQn6 + "/" + name + "/config");
    ASSERT_EQ(on.size(), 1u) << name;
    EXPECT_TRUE(on[0].retain);
    const json c = json::parse(on[0].payload);
    EXPECT_EQ(c.at("state_topic"), "zvk/" + kQn6 + "/" + name);
    EXPECT_EQ(c.at("availability_mode"), "all");
    ASSERT_EQ(c.at("availability").size(), 2u);
    EXPECT_EQ(c.at("availability")[0].at("topic"), "zvk/gateway/zvk-" + kQn6 + "/status");
    EXPECT_EQ(c.at("availability")[1].at("topic"), "zvk/" + kQn6 + "/status");
    EXPECT_EQ(c.at("device_class"), "temperature");
    EXPECT_EQ(c.at("unit_of_measurement"), ch == 5 ? "\u00B0F" : "\u00B0C");
    // The module as the window shows it: its location names it, its firmware is the version.
    EXPECT_EQ(c.at("device").at("name"), "Lab bench 1");
    EXPECT_EQ(c.at("device").at("model"), "zVK-QN6");
    EXPECT_EQ(c.at("device").at("sw_version"), "V01.12");
  }
}

TEST_F(publishGateway, DiscoveryFollowsAUnitAndABrokerThatLostItsRetainedMessages) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  const std::string config = "homeassistant/sensor/zvk_" + kQn6 + "/TH2/config";
  const std::string status = "zvk/" + kQn6 + "/status";
  auto run = std::async(std::launch::async, [&] {
    return Publish({"--count", "300", "--interval", "0.1", "--discovery"});
  });
  {
    Subscriber live(broker->port(), "homeassistant/#");
    ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, config) >= 1; }));
    sim->SetFahrenheit(2, true);
    ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, config) >= 2; }));
    const std::vector<json> p = Payloads(live.On(config));
    EXPECT_EQ(p.front().at("unit_of_measurement"), "\u00B0C");
    EXPECT_EQ(p.back().at("unit_of_measurement"), "\u00B0F");
  }
  // Restarted without persistence, the broker knows no retained message of the gateway.
  broker->Stop();
  broker->Start();
  Subscriber late(broker->port(), "#");
  const bool again = late.WaitFor([&](const auto& all) {
    return CountOn(all, status) >= 1 && CountOn(all, config) >= 1 &&
           CountOn(all, "homeassistant/sensor/zvk_" + kQn6 + "/TH7/config") >= 1;
  });
  StopRequest::Install().Request();
  const Result r = run.get();
  ASSERT_TRUE(again) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(late.On(status).front().payload, "online");
  EXPECT_EQ(json::parse(late.On(config).front().payload).at("unit_of_measurement"), "\u00B0F");
}

TEST_F(publishGateway, PollsAreATenthOfASecondApartAtLeast) {
  StartModule(sim::Model::Km3);
  StartBroker();
  const auto start = std::chrono::steady_clock::now();
  const Result r = Publish({"--count", "4", "--interval", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Faster, the polls would only pile up in the queue while the broker is there.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(publishGateway, BrokerFailuresEndWithOneLineAndTheirExitStatus) {
  StartModule(sim::Model::Qn6);
  StartBroker({.user = "gateway", .password = "s3cret word"});
  std::ofstream(dir / "right") << "s3cret word\n";
  std::ofstream(dir / "wrong") << "guess\n";
  const std::string closed = "mqtt://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort());
  const std::string refused = "zvk: the broker " + broker->url() + " refused the connection: ";
  struct Case {
    const char* what;
    std::string broker;  // empty: the test's broker
    std::vector<std::string> args;
    int status;
    std::string line;  // the start of the one line on standard error
  };
  const Case cases[] = {
      {"bad url", "http://127.0.0.1", {}, 2, "zvk: publish: the broker is mqtt://"},
      {"bad port", "mqtt://127.0.0.1:99999", {}, 2, "zvk: publish: the broker port"},
      {"cafile without tls", "", {"--cafile", "ca.pem"}, 2, "zvk: publish: --cafile needs"},
      {"bad queue", "", {"--queue", "0"}, 2, "zvk: publish: --queue must be"},
      {"bad prefix", "", {"--topic-prefix", "zvk/#"}, 2, "zvk: publish: --topic-prefix"},
      {"unreachable", closed, {}, 1, "zvk: cannot reach the broker " + closed + ": "},
      {"no credentials", "", {}, 1, refused},
      {"wrong password",
       "",
       {"--username", "gateway", "--password-file", (dir / "wrong").string()},
       1,
       refused},
      {"no password file",
       "",
       {"--username", "gateway", "--password-file", (dir / "missing").string()},
       1,
       "zvk: cannot read the password file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim->ClearFrames();
    std::vector<std::string> args = Args({"--count", "1", "--interval", "0"}, c.broker);
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
    EXPECT_EQ(r.ErrLines()[0].rfind(c.line, 0), 0u) << r.err;
    if (c.status == 2) {
      EXPECT_TRUE(sim->Frames().empty()) << "a usage error sends nothing";
    }
  }

  const Result ok = Run([&] {
    auto args = Args({"--count", "1", "--interval", "0", "--username", "gateway", "--password-file",
                      (dir / "right").string()});
    return args;
  }());
  EXPECT_EQ(ok.status, 0) << ok.err;

  ::setenv(kPasswordVariable, "s3cret word", 1);
  const Result from_environment =
      Publish({"--count", "1", "--interval", "0", "--username", "gateway"});
  ::unsetenv(kPasswordVariable);
  EXPECT_EQ(from_environment.status, 0) << from_environment.err;
}

TEST_F(publishGateway, SeveralModulesEachWithTheirOwnTopicsAndStatusThroughOneClient) {
  StartModule(sim::Model::Qn6);
  sim::Options km3_options;
  km3_options.model = sim::Model::Km3;
  sim::Simulator km3(km3_options);
  km3.Start();
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");

  const Result r =
      Run({"--host", "127.0.0.1:" + std::to_string(sim->Port()), "--host",
           "127.0.0.1:" + std::to_string(km3.Port()), "--skip-wifi-check", "publish", "--broker",
           broker->url(), "--count", "2", "--interval", "0", "--client-id", "hall-2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2 polls: 26 published, 0 not delivered, 0 polls dropped\n") << r.err;
  km3.Stop();

  ASSERT_TRUE(live.WaitFor([&](const auto& all) {
    return CountOn(all, "zvk/" + kQn6 + "/status") == 2 &&
           CountOn(all, "zvk/" + kKm3 + "/status") == 2 &&
           CountOn(all, "zvk/gateway/hall-2/status") == 2;
  }));
  // --client-id names the one connection as given.
  EXPECT_EQ(Texts(live.On("zvk/gateway/hall-2/status")),
            (std::vector<std::string>{"online", "offline"}));
  for (const std::string& module : {kQn6, kKm3})
    EXPECT_EQ(Texts(live.On("zvk/" + module + "/status")),
              (std::vector<std::string>{"online", "offline"}))
        << module;
  EXPECT_EQ(live.On("zvk/" + kQn6 + "/TH7").size(), 2u);
  EXPECT_EQ(live.On("zvk/" + kKm3 + "/AI4").size(), 2u);
}

// How many times the broker let a client with an id starting with `id_prefix` in.
std::size_t ConnectionsOf(const fs::path& log, const std::string& id_prefix) {
  std::ifstream in(log);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find("New client connected") != std::string::npos &&
        line.find(" as " + id_prefix) != std::string::npos)
      ++n;
  return n;
}

TEST_F(publishGateway, TwoHundredModulesPublishThroughOneConnection) {
  constexpr int kModules = 200;
  std::vector<std::unique_ptr<sim::Simulator>> fleet;
  std::string inventory;
  for (int k = 0; k < kModules; ++k) {
    sim::Options options;
    options.model = k % 2 == 0 ? sim::Model::Qn6 : sim::Model::Km3;
    options.unit = k + 1;  // its own MAC
    fleet.push_back(std::make_unique<sim::Simulator>(options));
    fleet.back()->Start();
    inventory += "127.0.0.1:" + std::to_string(fleet.back()->Port()) + "\n";
  }
  const fs::path hosts_file = dir / "modules.txt";
  std::ofstream(hosts_file) << inventory;
  StartBroker();
  Subscriber live(broker->port(), "zvk/+/status");

  const Result r = Run({"--hosts", hosts_file.string(), "--skip-wifi-check", "publish", "--broker",
                        broker->url(), "--count", "2", "--interval", "0"});
  for (const auto& module : fleet) module->Stop();
  EXPECT_EQ(r.status, 0) << r.err;
  // 100 thermistor modules of 8 channels and 100 voltage modules of 5, twice.
  EXPECT_EQ(r.out, "2 polls: 2600 published, 0 not delivered, 0 polls dropped\n") << r.err;
  // Every module went online and offline under its own status topic...
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return all.size() >= 2 * kModules; }));
  std::map<std::string, std::vector<std::string>> statuses;
  for (const Received& m : live.Messages()) statuses[m.topic].push_back(m.payload);
  EXPECT_EQ(statuses.size(), static_cast<std::size_t>(kModules));
  for (const auto& [topic, texts] : statuses)
    EXPECT_EQ(texts, (std::vector<std::string>{"online", "offline"})) << topic;
  // ...through the gateway's one connection, under the inventory's own client id.
  EXPECT_EQ(ConnectionsOf(broker->log_file(), "zvk-"), 1u);
  EXPECT_EQ(ConnectionsOf(broker->log_file(), "zvk-gw-"), 1u);
}

TEST_F(publishGateway, AnInventoryPublishesEveryModuleThatAnswersAndFailsForTheOthers) {
  StartModule(sim::Model::Qn6);
  sim::Options km3_options;
  km3_options.model = sim::Model::Km3;
  sim::Simulator km3(km3_options);
  km3.Start();
  // A second module reporting the first one's MAC: under it, both would share topics and client.
  sim::Simulator twin(sim::Options{});
  twin.Start();
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");

  const std::string qn6_at = "127.0.0.1:" + std::to_string(sim->Port());
  const std::string km3_at = "127.0.0.1:" + std::to_string(km3.Port());
  const std::string twin_at = "127.0.0.1:" + std::to_string(twin.Port());
  const Result r = Run({"--host", qn6_at, "--host", km3_at, "--host", "127.0.0.1:1", "--host",
                        twin_at, "--skip-wifi-check", "publish", "--broker", broker->url(),
                        "--count", "2", "--interval", "0"});
  km3.Stop();
  twin.Stop();
  // The silent module and the twin are said once, under their names, and fail the run; the
  // others published, each said under its own address.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("127.0.0.1:1: zvk: left out of the gateway: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(twin_at +
                       ": zvk: left out of the gateway: the module reports the MAC "
                       "address " +
                       kQn6 + " of the module at " + qn6_at + ", which is published already\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(qn6_at + ": zvk: publishing zVK-QN6 " + kQn6 + " to zvk/" + kQn6 + "/#"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(km3_at + ": zvk: publishing zVK-KM3 " + kKm3 + " to zvk/" + kKm3 + "/#"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "2 polls: 26 published, 0 not delivered, 0 polls dropped\n") << r.err;
  ASSERT_TRUE(live.WaitFor([&](const auto& all) {
    return CountOn(all, "zvk/" + kQn6 + "/status") == 2 &&
           CountOn(all, "zvk/" + kKm3 + "/status") == 2;
  }));
  EXPECT_EQ(live.On("zvk/" + kQn6 + "/TH0").size(), 2u) << "the twin's readings are not mixed in";
  EXPECT_EQ(live.On("zvk/" + kKm3 + "/AI0").size(), 2u);
}

TEST_F(publishGateway, AModuleDownAtTheStartIsPublishedOnceItComesUp) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");
  sim::Options late_options;
  late_options.model = sim::Model::Km3;
  late_options.port = test::ClosedLoopbackPort();
  sim::Simulator late(late_options);
  const std::string late_at = "127.0.0.1:" + std::to_string(late_options.port);
  const std::string late_status = "zvk/" + kKm3 + "/status";

  // As a gateway that boots after a power cut: no --count, one module not up yet.
  auto run = std::async(std::launch::async, [&] {
    return Run({"--host", "127.0.0.1:" + std::to_string(sim->Port()), "--host", late_at,
                "--skip-wifi-check", "publish", "--broker", broker->url(), "--interval", "0.1"});
  });
  ASSERT_TRUE(
      live.WaitFor([&](const auto& all) { return CountOn(all, "zvk/" + kQn6 + "/TH0") >= 3; }));
  late.Start();
  const bool published =
      live.WaitFor([&](const auto& all) { return CountOn(all, "zvk/" + kKm3 + "/AI4") >= 1; });
  StopRequest::Install().Request();
  const Result r = run.get();
  late.Stop();
  ASSERT_TRUE(published) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(late_at + ": zvk: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(late_at + ": zvk: not answering yet ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(late_at + ": zvk: publishing zVK-KM3 " + kKm3), std::string::npos) << r.err;
  // Nothing was said of it before it described itself; then it is online, and offline at the end.
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, late_status) == 2; }));
  EXPECT_EQ(Texts(live.On(late_status)), (std::vector<std::string>{"online", "offline"}));
}

TEST_F(publishGateway, AnotherClientWithTheSameIdIsToldOnceAndEndsTheRun) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");
  auto run = std::async(std::launch::async, [&] {
    return Publish({"--count", "600", "--interval", "0.1"});
  });
  ASSERT_TRUE(
      live.WaitFor([&](const auto& all) { return CountOn(all, "zvk/" + kQn6 + "/TH0") >= 1; }));
  // A second gateway with zvk's default id for the module; it reconnects every second when it
  // loses the session, as a client left at its library's defaults does.
  Subscriber rival(broker->port(), "rival/#", "zvk-" + kQn6);
  const Result r = run.get();
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = r.ErrLines();
  const std::string told =
      "another client with the client id \"zvk-" + kQn6 + "\" took the session";
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.find(told) != std::string::npos; }),
            1)
      << r.err;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "zvk: the broker " + broker->url() +
                              " gave the session to another client with the client id \"zvk-" +
                              kQn6 +
                              "\" 3 times in a row; give each gateway a client id of its own")
      << r.err;
  // The gateway left: the module's status does not stay "online" behind it.
  Subscriber late(broker->port(), "zvk/" + kQn6 + "/status");
  ASSERT_TRUE(late.WaitFor([](const auto& all) { return !all.empty(); }));
  EXPECT_EQ(late.Messages().at(0).payload, "offline");
}

TEST_F(publishGateway, TheDesktopProgramAndZvkPublishTheSameModuleSideBySide) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  publish::PublishSettings desktop_settings;
  desktop_settings.broker = publish::ParseBrokerUrl(broker->url());
  desktop_settings.client_id = publish::DesktopClientId(kQn6);
  publish::GatewayPublisher desktop(desktop_settings);
  desktop.Add({kQn6, "zVK-QN6", "Lab bench 1", "V01.12"});
  desktop.Connect(std::chrono::seconds(10));
  const Result r = Publish({"--count", "5", "--interval", "0.1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.ErrLines().size(), 1u) << "only the publishing line: " << r.err;
  EXPECT_TRUE(desktop.Status().connected);
  EXPECT_EQ(desktop.Status().takeovers, 0u);
}

TEST_F(publishGateway, TlsChecksTheBrokersCertificateAgainstTheCaFile) {
  StartModule(sim::Model::Km3);
  StartBroker({.tls = true});
  const Result trusted =
      Publish({"--count", "1", "--interval", "0", "--cafile", broker->ca_file().string()});
  EXPECT_EQ(trusted.status, 0) << trusted.err;
  EXPECT_EQ(trusted.out, "1 poll: 5 published, 0 not delivered, 0 polls dropped\n");

  struct Case {
    const char* what;
    std::string url;
    std::vector<std::string> args;
  };
  const std::string port = std::to_string(broker->port());
  const Case refusals[] = {
      {"the system's certificates know nothing of the test's CA", broker->url(), {}},
      // The certificate names 127.0.0.1, not this name of the same machine.
      {"another name", "mqtts://localhost:" + port, {"--cafile", broker->ca_file().string()}},
  };
  for (const Case& c : refusals) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = Args({"--count", "1", "--interval", "0"}, c.url);
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result untrusted = Run(args);
    EXPECT_EQ(untrusted.status, 1);
    ASSERT_EQ(untrusted.ErrLines().size(), 1u) << untrusted.err;
    EXPECT_EQ(untrusted.ErrLines()[0].rfind("zvk: ", 0), 0u);
    EXPECT_EQ(untrusted.ErrLines()[0].rfind("zvk: cannot connect to the broker " + c.url, 0), 0u)
        << untrusted.err;
    EXPECT_NE(untrusted.err.find("certificate"), std::string::npos) << untrusted.err;
  }
}

// The built program, as a person runs it: zvk hands the command to zvk-publish.
class publishProcess : public publishGateway {
 protected:
  std::unique_ptr<test::ChildProcess> Start(const std::vector<std::string>& extra = {}) {
    const auto zvk = test::BuiltProgram("zvk");
    EXPECT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
    if (!zvk) return nullptr;
    std::vector<std::string> args = Args({"--interval", "0.2"});
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<test::ChildProcess>(*zvk, args);
  }
};

TEST_F(publishProcess, KilledOutrightTheGatewaysStatusFlipsToOfflineByTheLastWill) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");
  const std::string gateway_status = "zvk/gateway/zvk-" + kQn6 + "/status";
  const std::string module_status = "zvk/" + kQn6 + "/status";
  auto child = Start({"--discovery"});
  ASSERT_TRUE(child);
  ASSERT_TRUE(live.WaitFor([&](const auto& all) {
    return CountOn(all, gateway_status) == 1 && CountOn(all, module_status) == 1 &&
           CountOn(all, "zvk/" + kQn6 + "/TH0") >= 1;
  }));
  child.reset();  // SIGKILL: no chance to say goodbye
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, gateway_status) == 2; }));
  EXPECT_EQ(Texts(live.On(gateway_status)), (std::vector<std::string>{"online", "offline"}));
  Subscriber late(broker->port(), gateway_status);
  ASSERT_TRUE(late.WaitFor([](const auto& all) { return !all.empty(); }));
  EXPECT_EQ(late.Messages().at(0).payload, "offline");
  EXPECT_TRUE(late.Messages().at(0).retain);
  // The module's status stays as the gateway last said it; every sensor needs both to be
  // "online", so the will makes them all unavailable.
  EXPECT_EQ(Texts(live.On(module_status)), std::vector<std::string>{"online"});
  Subscriber config(broker->port(), "homeassistant/sensor/zvk_" + kQn6 + "/TH0/config");
  ASSERT_TRUE(config.WaitFor([](const auto& all) { return !all.empty(); }));
  const json c = json::parse(config.Messages().at(0).payload);
  EXPECT_EQ(c.at("availability_mode"), "all");
  std::set<std::string> topics;
  for (const json& a : c.at("availability")) topics.insert(a.at("topic").get<std::string>());
  EXPECT_EQ(topics, (std::set<std::string>{gateway_status, module_status}));
}

TEST_F(publishProcess, StoppedBySigtermItDeliversWhatItPolledAndExitsCleanly) {
  StartModule(sim::Model::Qn6);
  StartBroker();
  Subscriber live(broker->port(), "zvk/#");
  const std::string th0 = "zvk/" + kQn6 + "/TH0";
  auto child = Start();
  ASSERT_TRUE(child);
  ASSERT_TRUE(live.WaitFor([&](const auto& all) { return CountOn(all, th0) >= 2; }));
  ASSERT_TRUE(child->RequestStop());
  const std::string out = child->ReadAll();
  EXPECT_EQ(child->Wait(), 0);
  std::size_t polls = 0, published = 0;
  ASSERT_EQ(std::sscanf(out.c_str(), "%zu polls: %zu published, 0 not delivered, 0 polls dropped",
                        &polls, &published),
            2)
      << out;
  EXPECT_EQ(published, polls * 8);
  ASSERT_TRUE(live.WaitFor([&](const auto& all) {
    return CountOn(all, th0) == polls && CountOn(all, "zvk/" + kQn6 + "/status") == 2;
  }));
  EXPECT_EQ(live.On("zvk/" + kQn6 + "/status").back().payload, "offline");
}

}  // namespace
}  // namespace zvk::cli
