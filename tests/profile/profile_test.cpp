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
      {Replaced(qn6, "\"address\": \"192.168.1.100\"", "\"address\": \"192.168.1.256\""),
       "profile.static_ip.address: '192.168.1.256' is not a dotted address"},
      {Replaced(qn6, "\"gateway\": \"192.168.1.1\"", "\"gateway\": \"300.168.1.1\""),
       "profile.static_ip.gateway: '300.168.1.1' is not a dotted address"},
      {Replaced(qn6, "\"wifi_mode\": \"ap\"", "\"wifi_mode\": \"ap\", \"location\": \"Elsewhere\""),
       "the name \"location\" appears twice in one object"},
      {Replaced(qn6, "\"port\": 502", "\"port\": 502, \"port\": 1502"),
       "the name \"port\" appears twice in one object"},
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
  Profile qn6 = ProfileOf(sim::Model::Qn6, true);
  qn6.station = {"Plant net", 2, "secret123"};
  const Profile km3 = ProfileOf(sim::Model::Km3, true);
  struct Case {
    const char* name;
    std::function<void(Profile&)> change;
    std::vector<std::string> settings;
    std::function<void(Profile&)> module_change = nullptr;
    bool voltage = false;
  };
  const Case cases[] = {
      {"nothing", [](Profile&) {}, {}},
      {"keys left out", [](Profile& p) { p.station.key.reset(); }, {}},
      {"another key", [](Profile& p) { p.station.key = "other-key"; }, {"station"}},
      {"a key of 16 bytes whose first 14 the module reports",
       [](Profile& p) { p.station.key = "abcdefghijklmnop"; },
       {},
       [](Profile& m) { m.station.key = "abcdefghijklmn"; }},
      {"a key of 15 bytes against a module's of 13",
       [](Profile& p) { p.station.key = "abcdefghijklmno"; },
       {"station"},
       [](Profile& m) { m.station.key = "abcdefghijklm"; }},
      {"a key in the file for an open group",
       [](Profile& p) { p.access_point.key = "whatever1"; },
       {}},
      {"station never set up",
       [](Profile& p) {
         p.station = {"", 0, ""};
       },
       {"station"}},
      {"addresses of an IP that is off", [](Profile& p) { p.static_ip[3] = 9; }, {}},
      {"IP on", [](Profile& p) { p.static_ip_enabled = true; }, {"static IP"}},
      {"channel and mode",
       [](Profile& p) {
         p.offsets[6] = -3;
         p.wifi_mode = 0;
         p.user_curves[20] ^= 1;
       },
       {"TH6 offset", "user curve 2", "Wi-Fi mode"}},
      {"the last channel and the last curve",
       [](Profile& p) {
         p.offsets[7] = 9;
         p.user_curves[48 + 2 * 32 + 7 * 4] ^= 1;  // curve 7's low resistance
       },
       {"TH7 offset", "user curve 7"}},
      {"the last analog input", [](Profile& p) { p.ranges[4] = 3; }, {"AI4 range"}, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Profile module = c.voltage ? km3 : qn6;
    if (c.module_change) c.module_change(module);
    Profile file = module;
    c.change(file);
    std::vector<std::string> settings;
    for (const ProfileChange& change : DiffProfiles(module, file)) {
      settings.push_back(change.setting);
      // A key is never shown, only that it differs.
      for (const std::string* value : {&change.module_value, &change.file_value})
        for (const char* key : {"secret", "other-key", "abcdefghijklm"})
          EXPECT_EQ(value->find(key), std::string::npos) << *value;
    }
    EXPECT_EQ(settings, c.settings);
  }
}

// The rules of the commands that write each setting, applied to a whole profile: every field that
// fails is named, and what a module reports when never set up passes.
TEST(profileCheck, NamesEverySettingTheWriteCommandsWouldRefuse) {
  const Profile qn6 = ProfileOf(sim::Model::Qn6, true);
  const Profile km3 = ProfileOf(sim::Model::Km3, true);
  ASSERT_EQ(ProfileProblems(qn6), std::vector<std::string>{});
  ASSERT_EQ(ProfileProblems(km3), std::vector<std::string>{});
  const auto curve_point = [](Profile& p, int curve, int point, std::int32_t tenths) {
    // The record keeps the resistances after the 48 bytes of temperatures: Hi, Mid, Low blocks.
    const std::size_t at = 48 + static_cast<std::size_t>(point) * 32 + 4 * curve;
    for (int b = 0; b < 4; ++b)
      p.user_curves[at + static_cast<std::size_t>(b)] =
          static_cast<std::uint8_t>(static_cast<std::uint32_t>(tenths) >> (8 * b));
  };
  struct Case {
    const char* name;
    std::function<void(Profile&)> change;
    std::vector<std::string> problems;  // the start of each message, in order
    bool voltage = false;
  };
  const Case cases[] = {
      {"offset -128",
       [](Profile& p) { p.offsets[7] = -128; },
       {"profile.channels[7].offset: -128 is not -127 to 127"}},
      {"offsets at the limits",
       [](Profile& p) {
         p.offsets = {-127, 127};
       },
       {}},
      {"Modbus port 0 and idle timeout 65001",
       [](Profile& p) {
         p.modbus_port = 0;
         p.idle_timeout = 65001;
       },
       {"profile.modbus.port: 0 is not 1 to 65535",
        "profile.modbus.idle_timeout: 65001 is not 1 to 65000"}},
      {"Modbus on the command port",
       [](Profile& p) { p.modbus_port = 13577; },
       {"profile.modbus.port: 13577 is the module's own"}},
      {"Modbus on the web port",
       [](Profile& p) { p.modbus_port = 80; },
       {"profile.modbus.port: 80 is the module's own"}},
      {"Modbus at the limits",
       [](Profile& p) {
         p.modbus_port = 65535;
         p.idle_timeout = 1;
       },
       {}},
      {"escape sequence in the location",
       [](Profile& p) { p.location = "\x1B]0;x\x07\x1B[2J"; },
       {"profile.location: holds a control character"}},
      {"location of 31 bytes",
       [](Profile& p) { p.location = std::string(30, 'x') + "\xC3\xA4"; },
       {}},
      {"empty location",
       [](Profile& p) { p.location.clear(); },
       {"profile.location: is 0 bytes in the module's code, not 1 to 31"}},
      {"line break in the SSIDs",
       [](Profile& p) {
         p.access_point.ssid = "Plant\nnet";
         p.station = {"Plant\tnet", 2, "secret123"};
       },
       {"profile.access_point.ssid: holds a control character",
        "profile.station.ssid: holds a control character"}},
      {"station never set up",
       [](Profile& p) {
         p.station = {"", 0, ""};
       },
       {}},
      {"station without SSID but keyed",
       [](Profile& p) {
         p.station = {"", 2, "secret123"};
       },
       {"profile.station.ssid: is 0 bytes"}},
      {"station key type 3",
       [](Profile& p) {
         p.station = {"Plant", 3, std::nullopt};
       },
       {"profile.station.key_type: 3 is not 0 (open), 1 (WEP) or 2 (WPA/WPA2)"}},
      {"access point key type 1",
       [](Profile& p) {
         p.access_point = {"AP", 1, "12345678"};
       },
       {"profile.access_point.key_type: 1 is not 0 (open) or 2"}},
      {"keys of 7 and 17 bytes",
       [](Profile& p) {
         p.access_point = {"AP", 2, "1234567"};
         p.station = {"Plant", 1, std::string(17, 'k')};
       },
       {"profile.access_point.key: is 7 bytes in the module's code, not 8 to 16",
        "profile.station.key: is 17 bytes in the module's code, not 8 to 16"}},
      {"keys of 8 and 16 bytes, and a key of an open group left alone",
       [](Profile& p) {
         p.access_point = {"AP", 2, "12345678"};
         p.station = {"Plant", 2, std::string(16, 'k')};
       },
       {}},
      {"keys left out",
       [](Profile& p) {
         p.station = {"Plant", 2, std::nullopt};
       },
       {}},
      {"user curve 7 with a resistance of 0 and one below",
       [&](Profile& p) {
         curve_point(p, 7, 0, 6800);
         curve_point(p, 7, 1, 0);
         curve_point(p, 7, 2, -5);
       },
       {"profile.user_curves[7].mid.tenths_of_ohm: 0 is not above 0",
        "profile.user_curves[7].low.tenths_of_ohm: -5 is not above 0"}},
      {"user curve defined",
       [&](Profile& p) {
         for (int pt = 0; pt < 3; ++pt) curve_point(p, 0, pt, 1);
       },
       {}},
      {"voltage module: no thermistor rules",
       [](Profile& p) { p.idle_timeout = 0; },
       {"profile.modbus.idle_timeout: 0 is not 1 to 65000"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Profile p = c.voltage ? km3 : qn6;
    c.change(p);
    const std::vector<std::string> problems = ProfileProblems(p);
    ASSERT_EQ(problems.size(), c.problems.size()) << ::testing::PrintToString(problems);
    for (std::size_t i = 0; i < problems.size(); ++i)
      EXPECT_TRUE(problems[i].starts_with(c.problems[i])) << problems[i];
  }
}

}  // namespace
}  // namespace zvk
