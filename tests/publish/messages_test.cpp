// What the gateway publishes, without a broker: broker URLs, channel payloads from the readings,
// gaps, the queue's drop rule and the discovery configuration.
#include "publish/messages.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

#include "publish/broker_url.h"
#include "publish/inbound_guard.h"
#include "publish/outbox.h"
#include "record/timestamp.h"
#include "support/readings.h"

namespace zvk::publish {
namespace {

using nlohmann::json;
using std::chrono::seconds;

using test::C;
using test::F;
using test::V;
using test::Without;

const TimePoint kT0 = TimePoint(seconds(1'790'000'000));

TEST(publishBrokerUrl, AcceptsTheBrokerForms) {
  struct Case {
    const char* url;
    bool tls;
    const char* host;
    std::uint16_t port;
  };
  for (const Case& c :
       {Case{"mqtt://127.0.0.1", false, "127.0.0.1", 1883},
        Case{"mqtt://broker.plant-7.lan:1884", false, "broker.plant-7.lan", 1884},
        Case{"mqtts://broker.lan", true, "broker.lan", 8883},
        Case{"mqtts://10.0.0.5:8884/", true, "10.0.0.5", 8884},
        Case{"mqtt://[::1]:1885", false, "::1", 1885}, Case{"mqtt://[::1]", false, "::1", 1883},
        Case{"mqtt://broker:65535", false, "broker", 65535},
        Case{"mqtt://broker:1", false, "broker", 1}}) {
    SCOPED_TRACE(c.url);
    const BrokerAddress a = ParseBrokerUrl(c.url);
    EXPECT_EQ(a.tls, c.tls);
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
  }
}

TEST(publishBrokerUrl, RefusesWhatNamesNoBroker) {
  for (const char* url :
       {"", "127.0.0.1:1883", "http://broker", "mqtt://", "mqtt://:1883",
        "mqtt://broker:", "mqtt://broker:0", "mqtt://broker:65536", "mqtt://broker:18x3",
        "mqtt://broker:-1", "mqtt://broker/topic", "mqtt://user:pw@broker", "mqtt://bro ker",
        "mqtt://[::1", "mqtt://[::1]x", "mqtt://[]:1883", "MQTT://broker"}) {
    SCOPED_TRACE(url);
    EXPECT_THROW(ParseBrokerUrl(url), BrokerUrlError);
  }
}

TEST(publishChannel, ValuesUnitsAndStatesOfTheReadings) {
  struct Case {
    Reading reading;
    std::optional<double> value;
    const char* unit;
    const char* state;
  };
  const Reading range_unknown{"AI1", std::nullopt, ReadingUnit::Volt, ReadingState::Unreadable,
                              "Range?"};
  for (const Case& c : {
           Case{V(1.2346), 1.2346, "V", "OK"},
           Case{V(-7.5171), -7.5171, "V", "OK"},
           Case{V(0.0), 0.0, "V", "OK"},
           Case{range_unknown, std::nullopt, "V", "Range?"},
           Case{C(24.9), 24.9, "\u00B0C", "OK"},
           Case{C(-0.5), -0.5, "\u00B0C", "OK"},
           Case{F(77.7), 77.7, "\u00B0F", "OK"},
           Case{Without(ReadingState::Disable), std::nullopt, "\u00B0C", "Disable"},
           // A channel without a number keeps the unit it is set to.
           Case{Without(ReadingState::OverRange, ReadingUnit::Fahrenheit), std::nullopt, "\u00B0F",
                "Over Range"},
           Case{Without(ReadingState::UnderRange), std::nullopt, "\u00B0C", "Under Range"},
           Case{Without(ReadingState::NoReading), std::nullopt, "\u00B0C", "No Reading"},
       }) {
    SCOPED_TRACE(c.reading.text);
    const ChannelReading r = Published(c.reading);
    EXPECT_EQ(r.value, c.value);
    EXPECT_EQ(r.unit, c.unit);
    EXPECT_EQ(r.state, c.state);
  }
}

TEST(publishChannel, PayloadIsJsonWithTheCsvTime) {
  const json with_value = json::parse(ReadingPayload(Published(V(1.2346)), LocalTimestamp(kT0)));
  EXPECT_EQ(
      with_value,
      (json{{"value", 1.2346}, {"unit", "V"}, {"time", LocalTimestamp(kT0)}, {"state", "OK"}}));
  // The number goes out as the window shows it, not as a longer binary fraction.
  EXPECT_NE(ReadingPayload(Published(V(1.2346)), LocalTimestamp(kT0)).find("\"value\":1.2346,"),
            std::string::npos);
  EXPECT_NE(ReadingPayload(Published(V(1.23456789)), LocalTimestamp(kT0)).find("\"value\":1.2346,"),
            std::string::npos);
  const json without =
      json::parse(ReadingPayload(Published(Without(ReadingState::OverRange)), LocalTimestamp(kT0)));
  EXPECT_TRUE(without.at("value").is_null());
  EXPECT_EQ(without.at("state"), "Over Range");
  // Zero is a reading; what is no number never goes out as one.
  const json zero = json::parse(ReadingPayload(Published(V(0.0)), LocalTimestamp(kT0)));
  EXPECT_TRUE(zero.at("value").is_number());
  EXPECT_EQ(zero.at("value"), 0);
  for (const double odd :
       {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    ChannelReading r = Published(V(1.0));
    r.value = odd;
    EXPECT_TRUE(json::parse(ReadingPayload(r, LocalTimestamp(kT0))).at("value").is_null());
  }
}

TEST(publishModuleId, AModuleIsPublishedUnderAWholeMacOnly) {
  struct Case {
    const char* id;
    bool publishable;
  };
  for (const Case& c : {Case{"025a51360001", true}, Case{"ffffffffffff", true},
                        Case{"000000000000", false}, Case{"", false}, Case{"025a5136000", false},
                        Case{"025a513600011", false}, Case{"025a5136000g", false}}) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(UnpublishableId(c.id).empty(), c.publishable) << UnpublishableId(c.id);
  }
}

Sample Readings(TimePoint t, std::vector<std::string> names, std::vector<Reading> readings) {
  return Sample{t, SampleKind::Readings, test::Named(names, std::move(readings))};
}

TEST(publishReadings, GapsArePublishedAsStatesOfTheLastChannels) {
  ReadingMessages messages(Topics("plant/zvk", "025a51360001"));
  EXPECT_TRUE(messages.For(Sample{kT0, SampleKind::Gap, {}}).empty())
      << "no channels are known before the first readings";

  const auto first =
      messages.For(Readings(kT0, {"TH0", "TH1"}, {F(77.7), Without(ReadingState::Disable)}));
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].topic, "plant/zvk/025a51360001/TH0");
  EXPECT_TRUE(first[0].retain);
  EXPECT_EQ(json::parse(first[1].payload).at("unit"), "\u00B0C");

  EXPECT_TRUE(messages.For(Sample{kT0 + seconds(3), SampleKind::Pause, {}}).empty());

  const auto gap = messages.For(Sample{kT0 + seconds(6), SampleKind::Gap, {}});
  ASSERT_EQ(gap.size(), 2u);
  for (std::size_t i = 0; i < gap.size(); ++i) {
    const json p = json::parse(gap[i].payload);
    EXPECT_EQ(gap[i].topic, std::string("plant/zvk/025a51360001/TH") + std::to_string(i));
    EXPECT_TRUE(p.at("value").is_null()) << "a gap is never a made-up value";
    EXPECT_EQ(p.at("state"), kStateNoReading);
    EXPECT_EQ(p.at("time"), LocalTimestamp(kT0 + seconds(6)));
    EXPECT_TRUE(gap[i].retain) << "a late subscriber learns of the gap too";
  }
  EXPECT_EQ(json::parse(gap[0].payload).at("unit"), "\u00B0F") << "the channel's last unit";

  // Another model at the address: its channels from then on.
  const auto other = messages.For(Readings(kT0 + seconds(9), {"AI0"}, {V(0.5)}));
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(messages.For(Sample{kT0 + seconds(12), SampleKind::Gap, {}}).size(), 1u);
}

std::vector<Message> Poll(int n, std::size_t channels = 2) {
  std::vector<Message> poll;
  for (std::size_t ch = 0; ch < channels; ++ch)
    poll.push_back({"t/" + std::to_string(ch), std::to_string(n), true});
  return poll;
}

std::vector<std::string> Drain(Outbox& box) {
  std::vector<std::string> taken;
  while (const Message* m = box.Front()) {
    taken.push_back(m->topic + "=" + m->payload);
    box.Pop();
  }
  return taken;
}

TEST(publishOutbox, KeepsOrderAndDropsTheOldestPollWhenFull) {
  Outbox box(3);
  for (int n = 1; n <= 5; ++n) box.Push(Poll(n));
  EXPECT_EQ(box.polls(), 3u);
  EXPECT_EQ(box.dropped_polls(), 2u);
  EXPECT_EQ(box.dropped_messages(), 4u);
  EXPECT_EQ(Drain(box),
            (std::vector<std::string>{"t/0=3", "t/1=3", "t/0=4", "t/1=4", "t/0=5", "t/1=5"}));
  EXPECT_TRUE(box.empty());
}

TEST(publishOutbox, APartlyHandedPollIsDroppedByItsRemainder) {
  Outbox box(2);
  box.Push(Poll(1, 3));
  box.Push(Poll(2, 3));
  box.Pop();  // t/0=1 went to the broker
  EXPECT_EQ(box.messages(), 5u);
  box.Push(Poll(3, 3));
  EXPECT_EQ(box.dropped_polls(), 1u);
  EXPECT_EQ(box.dropped_messages(), 2u);
  EXPECT_EQ(Drain(box).front(), "t/0=2");
  box.Push({});
  EXPECT_TRUE(box.empty()) << "a poll without messages takes no place";
}

TEST(publishInboundFrames, LetsAcknowledgementsThroughAndRefusesALargePacketAtItsHeader) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::uint8_t>> chunks;  // as the connection brings them
    std::size_t passing;                            // bytes let through
  };
  const std::vector<std::uint8_t> publish_4096 = [] {
    std::vector<std::uint8_t> p{0x30, 0xFD, 0x1F};  // 1 + 2 + 4093 bytes
    p.resize(4096, 0x41);
    return p;
  }();
  const Case cases[] = {
      {"connack, acknowledgements, ping",
       {{0x20, 0x03, 0x00, 0x00, 0x00, 0x40, 0x02, 0x00, 0x01, 0xD0, 0x00}},
       11},
      {"a header split across reads", {{0x40}, {0x02, 0x00}, {0x01, 0x40, 0x02}, {0x00, 0x02}}, 8},
      {"a packet of the largest size", {publish_4096, {0xD0, 0x00}}, 4098},
      {"one byte more", {{0x30, 0xFE, 0x1F}}, 0},
      // The acknowledgement before it passes, and the start of a header whose length is not
      // whole yet (nothing is allocated for it); nothing after the length does.
      {"256 MiB announced", {{0x40, 0x02, 0x00, 0x01, 0x30, 0xFF, 0xFF}, {0xFF, 0x7F, 0x00}}, 7},
      {"a length of five bytes", {{0x30, 0x80, 0x80, 0x80, 0x80, 0x01}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InboundFrames frames(4096);
    std::size_t passing = 0;
    std::size_t total = 0;
    for (const auto& chunk : c.chunks) {
      passing += frames.Take(chunk.data(), chunk.size());
      total += chunk.size();
    }
    EXPECT_EQ(passing, c.passing) << frames.refusal();
    EXPECT_EQ(frames.refusal().empty(), c.passing == total);
  }
}

TEST(publishDiscovery, OneSensorConfigPerChannel) {
  const Topics topics("zvk", "025a51360001");
  const ModuleIdentity module{"025a51360001", "zVK-QN6", "Lab bench 1", "V01.12"};
  const auto configs = DiscoveryMessages("homeassistant", "zvk/gateway/hall-2/status", topics,
                                         module, {"TH0", "TH5", "AI0"},
                                         {{"TH0", "\u00B0C"}, {"TH5", "\u00B0F"}, {"AI0", "V"}});
  ASSERT_EQ(configs.size(), 3u);
  struct Expected {
    const char* topic;
    const char* unit;
    const char* device_class;
  };
  const Expected expected[] = {
      {"homeassistant/sensor/zvk_025a51360001/TH0/config", "\u00B0C", "temperature"},
      {"homeassistant/sensor/zvk_025a51360001/TH5/config", "\u00B0F", "temperature"},
      {"homeassistant/sensor/zvk_025a51360001/AI0/config", "V", "voltage"}};
  for (std::size_t i = 0; i < configs.size(); ++i) {
    SCOPED_TRACE(expected[i].topic);
    EXPECT_EQ(configs[i].topic, expected[i].topic);
    EXPECT_TRUE(configs[i].retain);
    const json c = json::parse(configs[i].payload);
    EXPECT_EQ(c.at("unit_of_measurement"), expected[i].unit);
    EXPECT_EQ(c.at("device_class"), expected[i].device_class);
    EXPECT_EQ(c.at("state_topic"), topics.Channel(c.at("name")));
    // Unavailable when either says so: the module, or the gateway whose last will fired.
    const json availability = {{{"topic", "zvk/gateway/hall-2/status"},
                                {"payload_available", "online"},
                                {"payload_not_available", "offline"}},
                               {{"topic", "zvk/025a51360001/status"},
                                {"payload_available", "online"},
                                {"payload_not_available", "offline"}}};
    EXPECT_EQ(c.at("availability"), availability);
    EXPECT_EQ(c.at("availability_mode"), "all");
    EXPECT_EQ(c.at("unique_id"), "zvk_025a51360001_" + c.at("name").get<std::string>());
    EXPECT_EQ(c.at("device").at("name"), "Lab bench 1");
    EXPECT_EQ(c.at("device").at("sw_version"), "V01.12");
    EXPECT_EQ(c.at("device").at("identifiers"), json::array({"zvk_025a51360001"}));
    const std::string id = "zvk_025a51360001_" + c.at("name").get<std::string>();
    EXPECT_EQ(c.at("default_entity_id"), "sensor." + id);
    EXPECT_FALSE(c.contains("object_id")) << "deprecated in favour of default_entity_id";
    // A null value renders as None, which a numeric sensor takes as unknown; a text it refuses.
    EXPECT_EQ(c.at("value_template"), "{{ value_json.value }}");
    // The state's payload carries a new time every poll: no attributes from it.
    EXPECT_FALSE(c.contains("json_attributes_topic"));
    EXPECT_EQ(c.at("origin").at("name"), "zVK-Analog");
    EXPECT_FALSE(c.at("origin").at("sw_version").get<std::string>().empty());
  }
}

}  // namespace
}  // namespace zvk::publish
