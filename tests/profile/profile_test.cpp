// Profiles of simulated modules: the JSON keeps every setting through a round trip, a file that
// is not a complete profile is refused with what is wrong, and the comparison sees exactly the
// settings a restore would write.
#include "profile/profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/rig.h"

namespace zvk {
namespace {

Profile ProfileOf(sim::Model model, bool with_keys,
                  const std::function<void(sim::Simulator&)>& setup = nullptr) {
  test::Rig rig({.model = model});
  if (setup) setup(*rig.sim);
  rig.Start();
  EXPECT_TRUE(rig.TickUntilIdentified());
  return ProfileOfModule(*rig.app, rig.form(), with_keys);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(profileJson, KeepsEverySettingThroughARoundTrip) {
  for (const sim::Model model : {sim::Model::Qn6, sim::Model::Km3}) {
    const Profile p = ProfileOf(model, true, [](sim::Simulator& m) {
      m.SetLocation("Tank \xE4 4");  // Windows-1252 a-umlaut
      m.SetSensorType(7, 0x6A);
      m.SetFahrenheit(2, true);
      m.SetRangeCode(1, 2);
    });
    EXPECT_EQ(p.location, "Tank ä 4");
    const std::string json = ProfileToJson(p);
    EXPECT_EQ(ProfileToJson(ProfileFromJson(json)), json);
    EXPECT_TRUE(DiffProfiles(p, ProfileFromJson(json)).empty());
  }
}

TEST(profileJson, RefusesWhatIsNotACompleteProfile) {
  const std::string qn6 = ProfileToJson(ProfileOf(sim::Model::Qn6, false));
  const std::string km3 = ProfileToJson(ProfileOf(sim::Model::Km3, false));
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"{", "not JSON"},
      {"[1, 2]", "not a module profile"},
      {Replaced(qn6, "zVK-Analog module profile", "something else"), "not a module profile"},
      {Replaced(qn6, "\"version\": 1", "\"version\": 2"),
       "profile version 2; this program reads 1"},
      {Replaced(qn6, "\"version\": 1", "\"version\": \"1\""), "profile.version: is not a whole"},
      {Replaced(qn6, "\"model\": \"zVK-QN6\"", "\"model\": \"zVK-XX9\""),
       "profile.model: 'zVK-XX9' is not a known model"},
      {Replaced(qn6, "\"location\": \"Lab bench 1\"", "\"location\": \"\xE6\x97\xA5\""),
       "profile.location: "},
      {Replaced(qn6, "\"location\": \"Lab bench 1\"",
                "\"location\": \"" + std::string(32, 'x') + "\""),
       "profile.location: is longer than the module's 31 bytes"},
      {Replaced(qn6, "\"wifi_mode\": \"ap\"", "\"wifi_mode\": \"mesh\""),
       "profile.wifi_mode: is \"ap\" or \"station\""},
      {Replaced(qn6, "\"address\": \"192.168.1.100\"", "\"address\": \"192.168.1\""),
       "profile.static_ip.address: '192.168.1' is not a dotted address"},
      {Replaced(qn6, "\"port\": 502", "\"port\": 70000"), "profile.modbus.port: 70000 is not 0 to"},
      {Replaced(qn6, "\"modbus\"", "\"modbus_settings\""), "profile: has no \"modbus\""},
      {Replaced(qn6, "\"offset\": 0", "\"offset\": 200"),
       "profile.channels[0].offset: 200 is not -128 to 127"},
      {Replaced(qn6, "\"sensor_type\": \"60\"", "\"sensor_type\": \"6G\""),
       "profile.channels[0].sensor_type: is not 1 bytes in hex"},
      {Replaced(qn6, "\"channel\": \"TH1\"", "\"channel\": \"TH2\""),
       "profile.channels[1].channel: is not TH1"},
      {Replaced(qn6, "\"unit\": \"C\"", "\"unit\": \"K\""), "profile.channels[0].unit"},
      {Replaced(qn6, "\"curve\": 1", "\"curve\": 5"), "profile.user_curves[1].curve: is not 1"},
      {Replaced(km3, "\"range\": 0", "\"range\": 4"), "profile.channels[0].range: 4 is not 0 to 3"},
      {Replaced(km3, "\"sampling\": \"normal\"", "\"sampling\": \"slow\""), "profile.sampling"},
      {Replaced(km3, "\"analog_reference_block\": \"", "\"analog_reference_block\": \"00"),
       "profile.analog_reference_block: is not 160 bytes in hex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      ProfileFromJson(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const ProfileError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(profileDiff, ComparesKeysOnlyWhenTheFileHoldsThemAndStaticIpOnlyWhenOn) {
  const Profile module = ProfileOf(sim::Model::Qn6, true);
  struct Case {
    const char* name;
    std::function<void(Profile&)> change;
    std::vector<std::string> settings;
  };
  const Case cases[] = {
      {"nothing", [](Profile&) {}, {}},
      {"keys left out", [](Profile& p) { p.station.key.reset(); }, {}},
      {"another key", [](Profile& p) { p.station.key = "other-key"; }, {"station"}},
      {"addresses of an IP that is off", [](Profile& p) { p.static_ip[3] = 9; }, {}},
      {"IP on", [](Profile& p) { p.static_ip_enabled = true; }, {"static IP"}},
      {"channel and mode",
       [](Profile& p) {
         p.offsets[6] = -3;
         p.wifi_mode = 0;
         p.user_curves[20] ^= 1;
       },
       {"TH6 offset", "user curve 2", "Wi-Fi mode"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Profile file = module;
    c.change(file);
    std::vector<std::string> settings;
    for (const ProfileChange& change : DiffProfiles(module, file))
      settings.push_back(change.setting);
    EXPECT_EQ(settings, c.settings);
  }
}

}  // namespace
}  // namespace zvk
