// The MQTT sink's admission of modules, without a broker: the MAC names a module's topics, so a
// missing, all-zero or repeated one is left out with its reason, and a module taken is told with
// its topics.
#include "publish/mqtt_sink.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zvk::publish {
namespace {

TEST(publishMqttSink, AdmitsEachMacOnceAndTellsWhyAModuleIsLeftOut) {
  PublishSettings settings;
  settings.broker = ParseBrokerUrl("mqtt://127.0.0.1:1");  // never connected here
  settings.client_id = "hall-2";
  std::vector<std::string> told;
  MqttSink sink(settings, "mqtt://127.0.0.1:1", true,
                [&](std::optional<std::size_t> module, const std::string& line) {
                  told.push_back((module ? std::to_string(*module) : "gateway") + ": " + line);
                });
  const auto module = [](const std::string& mac) {
    return zvk::ModuleIdentity{0xB7, mac, "01.12", "Lab bench"};
  };
  EXPECT_EQ(sink.Admit(0, {"a", "127.0.0.1:40001"}, module("02:5A:51:36:00:01")), "");
  struct Case {
    const char* mac;
    std::string why;
  };
  const Case refused[] = {
      {"02:5A:51:36:00:01",
       "left out of the gateway: the module reports the MAC address 025a51360001 of the module at "
       "127.0.0.1:40001, which is published already"},
      {"", "left out of the gateway: the module reported no MAC address to publish under"},
      {"00:00:00:00:00:00",
       "left out of the gateway: the module reported the MAC address 00:00:00:00:00:00, which "
       "names no module"},
  };
  std::size_t index = 1;
  for (const Case& c : refused) {
    SCOPED_TRACE(c.mac);
    EXPECT_EQ(sink.Admit(index, {"b", "127.0.0.1:40002"}, module(c.mac)), c.why);
    EXPECT_EQ(sink.ModuleId(index), "");
    ++index;
  }
  EXPECT_EQ(sink.ModuleId(0), "025a51360001");
  EXPECT_EQ(told, std::vector<std::string>{"0: publishing zVK-QN6 025a51360001 to "
                                           "zvk/025a51360001/# (status zvk/025a51360001/status)"});
  EXPECT_EQ(sink.gateway().ModuleIds(), std::vector<std::string>{"025a51360001"});
}

}  // namespace
}  // namespace zvk::publish
