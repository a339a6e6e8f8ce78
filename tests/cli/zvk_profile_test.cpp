// backup and restore against simulated modules: a profile brings every reported setting back
// byte for byte after a reset to defaults, clones onto several modules, and is refused with
// nothing sent by the other model.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fleet_fixture.h"
#include "link/wire.h"
#include "sim/simulator.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace d = wire::devinfo;

const Bytes kGetDevice{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0x00, 0x00};

// The identity record's settings: every field the module reports about its configuration.
struct Field {
  const char* name;
  std::size_t offset, width;
};
constexpr Field kCommonFields[] = {
    {"model", d::kModel, 1},
    {"address", d::kAddress, 4},
    {"MAC", d::kMac, 6},
    {"firmware", d::kFwMajor, 2},
    {"location", d::kLocation, d::kLocationWidth},
    {"AP SSID", d::kApSsid, d::kSsidWidth},
    {"AP key type", d::kApKeyType, 1},
    {"AP key", d::kApKey, d::kKeyWidth},
    {"station SSID", d::kStaSsid, d::kSsidWidth},
    {"station key type", d::kStaKeyType, 1},
    {"station key", d::kStaKey, d::kKeyWidth},
    {"Wi-Fi mode", d::kWifiMode, 1},
    {"Modbus port", d::kModbusPort, 2},
    {"static IP on", d::kStaticIpEnabled, 1},
    {"static IP", d::kStaticIp, 4},
    {"subnet mask", d::kSubnetMask, 4},
    {"gateway", d::kGateway, 4},
    {"Modbus idle timeout", d::kIdleTimeout, 2},
};
constexpr Field kKm3Fields[] = {
    {"sampling", d::kKm3SamplingMode, 1},
    {"ranges", d::kKm3RangeCodes, wire::kAnalogChannels},
    {"analog reference block", d::kKm3AnalogRef, wire::kAnalogRefBlockSize},
};
constexpr Field kQn6Fields[] = {
    {"reference count", d::kQn6RefCount, 2},
    {"sensor types", d::kQn6SensorTypes, 8},
    {"units", d::kQn6Fahrenheit, 8},
    {"offsets", d::kQn6Offsets, 8},
    {"user curves", d::kQn6UserCurves, wire::kUserCurveRecordSize},
};

std::vector<Field> FieldsOf(sim::Model model) {
  std::vector<Field> fields(std::begin(kCommonFields), std::end(kCommonFields));
  if (model == sim::Model::Km3)
    fields.insert(fields.end(), std::begin(kKm3Fields), std::end(kKm3Fields));
  else
    fields.insert(fields.end(), std::begin(kQn6Fields), std::end(kQn6Fields));
  return fields;
}

Bytes FieldOf(const Bytes& record, const Field& f) {
  return Bytes(record.begin() + static_cast<std::ptrdiff_t>(f.offset),
               record.begin() + static_cast<std::ptrdiff_t>(f.offset + f.width));
}

// Names of the fields in which two records differ.
std::vector<std::string> Differing(sim::Model model, const Bytes& a, const Bytes& b) {
  std::vector<std::string> names;
  for (const Field& f : FieldsOf(model))
    if (FieldOf(a, f) != FieldOf(b, f)) names.push_back(f.name);
  return names;
}

std::vector<std::uint8_t> Codes(const sim::Simulator& module) {
  std::vector<std::uint8_t> codes;
  for (const Bytes& frame : module.Frames()) codes.push_back(frame.size() > 4 ? frame[4] : 0);
  return codes;
}

class profileRestore : public FleetTest {
 protected:
  Bytes Identity(sim::Simulator& module) { return module.BuildReply(kGetDevice); }
  std::vector<std::string> On(std::size_t i, std::vector<std::string> args) {
    args.insert(args.begin(), {"--host", Label(i), "--skip-wifi-check", "--yes"});
    return args;
  }
  void MustRun(const std::vector<std::string>& args) {
    const Result r = Run(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }

  // Settings away from the defaults everywhere a profile reaches, set as a user would.
  void Configure(std::size_t i, sim::Model model) {
    sim::Simulator& m = *modules[i];
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"setup", "location", "Tank ä 4"},
             {"setup", "ap", "--ssid", "zVK-Tank4", "--key", "apkey1234"},
             {"setup", "station", "--ssid", "Plant net", "--key", "secret123", "--type", "wpa"},
             {"setup", "static-ip", "10.1.2.3", "255.255.0.0", "10.1.0.1"},
             {"setup", "modbus", "1502", "60"},
             {"reboot"}})
      MustRun(On(i, args));
    if (model == sim::Model::Km3) {
      MustRun(On(i, {"set-range", "AI1", "2"}));
      MustRun(On(i, {"set-sampling", "fast"}));
      Bytes record = Identity(m);
      std::array<std::uint8_t, wire::kAnalogRefBlockSize> block{};
      std::copy_n(record.begin() + d::kKm3AnalogRef, block.size(), block.begin());
      block[wire::kActiveRefOffset + 8 * 2 + 3] ^= 0x5A;  // AI2 calibrated
      m.SetAnalogRefBlock(block);
    } else {
      MustRun(On(i, {"set-offset", "TH2", "-5"}));
      MustRun(On(i, {"set-unit", "TH3", "F"}));
      MustRun(On(i, {"set-sensor", "TH7", "6A"}));
      MustRun(On(
          i, {"user-curve", "3", "--hi", "100:680.5", "--mid", "25:10000", "--low", "-40:336000"}));
    }
  }

  // Back to the defaults: the reset of the network settings, and the channels as they were.
  void Reset(std::size_t i, sim::Model model, const Bytes& initial) {
    sim::Simulator& m = *modules[i];
    MustRun(On(i, {"reset-defaults"}));
    if (model == sim::Model::Km3) {
      MustRun(On(i, {"set-range", "AI1", "0"}));
      MustRun(On(i, {"set-sampling", "normal"}));
      std::array<std::uint8_t, wire::kAnalogRefBlockSize> block{};
      std::copy_n(initial.begin() + d::kKm3AnalogRef, block.size(), block.begin());
      m.SetAnalogRefBlock(block);
    } else {
      MustRun(On(i, {"set-offset", "TH2", "0"}));
      MustRun(On(i, {"set-unit", "TH3", "C"}));
      MustRun(On(i, {"set-sensor", "TH7", "00"}));
      std::array<std::uint8_t, wire::kUserCurveRecordSize> curves{};
      std::copy_n(initial.begin() + d::kQn6UserCurves, curves.size(), curves.begin());
      m.SetUserCurveRecord(curves);
    }
  }
};

TEST_F(profileRestore, BackupResetRestoreBringsEverySettingBackByteForByte) {
  for (const sim::Model model : {sim::Model::Qn6, sim::Model::Km3}) {
    SCOPED_TRACE(model == sim::Model::Km3 ? "KM3" : "QN6");
    const std::size_t i = modules.size();
    sim::Simulator& m = AddModule(model);
    const Bytes initial = Identity(m);
    Configure(i, model);
    const Bytes configured = Identity(m);
    const std::string profile = PathOf("module" + std::to_string(i) + ".json");
    MustRun(On(i, {"backup", profile, "--with-keys"}));
    Reset(i, model, initial);
    ASSERT_EQ(Differing(model, Identity(m), initial), std::vector<std::string>{});

    const Result r = Run(On(i, {"restore", profile}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differing(model, Identity(m), configured), std::vector<std::string>{}) << r.out;
    EXPECT_NE(r.out.find("Restored: the module restarted and reports every setting of"),
              std::string::npos)
        << r.out;

    // Restored, the module differs in nothing: a second restore sends only the identity request.
    m.ClearFrames();
    const Result again = Run(On(i, {"restore", profile}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(Codes(m), Bytes{wire::CMD_GET_DEVICE});
  }
}

TEST_F(profileRestore, WritesOnlyWhatDiffers) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"set-offset", "TH4", "12"}));
  m.ClearFrames();
  const Result r = Run(On(0, {"restore", profile}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  TH4 offset: 12 -> 0\n"), std::string::npos) << r.out;
  // Identity, the channel setting, identity to check; no file, no restart.
  EXPECT_EQ(Codes(m), Bytes({wire::CMD_GET_DEVICE, wire::CMD_GET_DEVICE, wire::CMD_SET_TH_CONFIG,
                             wire::CMD_GET_DEVICE}));
  EXPECT_EQ(m.Snapshot().offsets[4], 0);
}

TEST_F(profileRestore, ProfileOfTheOtherModelIsRefusedWithNothingSent) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Km3);
  const std::string profile = PathOf("qn6.json");
  MustRun(On(0, {"backup", profile}));
  modules[1]->ClearFrames();
  const Result r = Run(On(1, {"restore", profile}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.LastErrLine().ends_with(
      "\" is a profile of the zVK-QN6; this module is the zVK-KM3; nothing sent"))
      << r.err;
  EXPECT_EQ(Codes(*modules[1]), Bytes{wire::CMD_GET_DEVICE});
}

TEST_F(profileRestore, ClonesOneProfileOntoAnInventory) {
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Qn6);
  AddModule(sim::Model::Km3);
  AddModule(sim::Model::Qn6);
  MustRun(On(0, {"setup", "location", "Line 3"}));
  MustRun(On(0, {"set-offset", "TH1", "-20"}));
  MustRun(On(0, {"reboot"}));
  const std::string profile = PathOf("line3.json");
  MustRun(On(0, {"backup", profile}));
  std::string inventory;
  for (std::size_t i = 1; i < modules.size(); ++i) inventory += Label(i) + "\n";
  for (const auto& module : modules) module->ClearFrames();

  const Result r = Run({"--hosts", WriteFile("clones.txt", inventory), "--skip-wifi-check", "--yes",
                        "restore", profile});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (std::size_t i : {1u, 3u}) {
    EXPECT_EQ(modules[i]->Snapshot().offsets[1], -20);
    EXPECT_EQ(Differing(sim::Model::Qn6, Identity(*modules[i]), Identity(*modules[0])),
              std::vector<std::string>({"address"}));
  }
  EXPECT_EQ(Codes(*modules[2]), Bytes{wire::CMD_GET_DEVICE});
  const std::vector<std::string> lines = r.OutLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& line) {
                            return line.starts_with(Label(2) + "  failed  \"") &&
                                   line.ends_with(
                                       "is a profile of the zVK-QN6; this module is "
                                       "the zVK-KM3; nothing sent");
                          }),
            1)
      << r.out;
  EXPECT_NE(r.out.find("2 of 3 modules succeeded"), std::string::npos) << r.out;
}

TEST_F(profileRestore, KeysStayOutOfABackupUnlessAskedAndAreNeededToChangeAGroup) {
  AddModule(sim::Model::Qn6);
  MustRun(
      On(0, {"setup", "station", "--ssid", "Plant net", "--key", "secret123", "--type", "wpa"}));
  MustRun(On(0, {"reboot"}));
  const std::string without = PathOf("without.json");
  const std::string with = PathOf("with.json");
  MustRun(On(0, {"backup", without}));
  MustRun(On(0, {"backup", with, "--with-keys"}));
  EXPECT_EQ(ReadFile(without).find("secret123"), std::string::npos);
  EXPECT_NE(ReadFile(with).find("\"key\": \"secret123\""), std::string::npos);

  MustRun(On(0, {"reset-defaults"}));
  modules[0]->ClearFrames();
  const Result refused = Run(On(0, {"restore", without}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.LastErrLine(),
            "zvk: the station settings differ and the profile holds no key for them (make it "
            "with backup --with-keys); nothing sent");
  EXPECT_EQ(Codes(*modules[0]), Bytes{wire::CMD_GET_DEVICE});

  const Result restored = Run(On(0, {"restore", with}));
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(modules[0]->File("/local/sta_key.cfg"),
            Bytes({'s', 'e', 'c', 'r', 'e', 't', '1', '2', '3'}));
}

#ifndef _WIN32
// Where a backup lands: a file replaced whole, a link's target, standard output; never a FIFO or
// a device put aside for a file. Keys are their owner's alone; a replaced file keeps its mode.
TEST_F(profileRestore, BackupWritesOnlyFilesAndKeysStayTheOwnersAlone) {
  AddModule(sim::Model::Qn6);
  MustRun(
      On(0, {"setup", "station", "--ssid", "Plant net", "--key", "secret123", "--type", "wpa"}));
  MustRun(On(0, {"reboot"}));
  namespace fs = std::filesystem;
  const auto mode = [](const std::string& path) {
    return static_cast<int>(fs::status(path).permissions() & fs::perms::all);
  };
  struct Case {
    const char* what;
    std::function<std::string()> make;  // the name to back up to
    std::vector<std::string> options;
    std::string refusal;   // the end of the error line; empty: written
    std::string lands_in;  // the file that then holds the profile
    int mode;              // its permission bits
  };
  const std::string real = PathOf("real.json");
  const Case cases[] = {
      {"keys into a new file",
       [&] { return PathOf("keys.json"); },
       {"--with-keys"},
       "",
       PathOf("keys.json"),
       0600},
      {"keys over a file all may read",
       [&] { return WriteFile("shared.json", "{}"); },
       {"--with-keys"},
       "",
       PathOf("shared.json"),
       0600},
      {"a file made the owner's",
       [&] {
         const std::string path = WriteFile("mine.json", "{}");
         fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
         return path;
       },
       {},
       "",
       PathOf("mine.json"),
       0600},
      {"through a link",
       [&] {
         WriteFile("real.json", "{}");
         fs::create_symlink(real, PathOf("link.json"));
         return PathOf("link.json");
       },
       {},
       "",
       real,
       0644},
      {"a FIFO",
       [&] {
         fs::path fifo = PathOf("fifo");
         EXPECT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
         return fifo.string();
       },
       {},
       "\" is a FIFO, not a file; nothing written",
       "",
       0},
      {"a link to a device",
       [&] {
         fs::create_symlink("/dev/null", PathOf("null.json"));
         return PathOf("null.json");
       },
       {},
       "\" is a character device, not a file; nothing written",
       "",
       0},
  };
  const mode_t saved = ::umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = c.make();
    const fs::file_type before = fs::symlink_status(name).type();
    std::vector<std::string> args{"backup", name};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result r = Run(On(0, args));
    if (c.refusal.empty()) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(ReadFile(c.lands_in).find("\"Plant net\""), std::string::npos);
      EXPECT_EQ(mode(c.lands_in), c.mode) << std::oct << mode(c.lands_in);
    } else {
      EXPECT_EQ(r.status, 1);
      // The name itself may be shortened in the message.
      EXPECT_EQ(r.LastErrLine().rfind("zvk: \"", 0), 0u) << r.err;
      EXPECT_TRUE(r.LastErrLine().ends_with(c.refusal)) << r.err;
    }
    if (before != fs::file_type::not_found) {
      EXPECT_EQ(fs::symlink_status(name).type(), before);
    }
  }
  ::umask(saved);

  // "-": the profile on standard output, the note on standard error.
  const Result out = Run(On(0, {"backup", "-"}));
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(nlohmann::json::parse(out.out)["station"]["ssid"], "Plant net");
  EXPECT_NE(out.LastErrLine().find("written to standard output without keys"), std::string::npos)
      << out.err;
  EXPECT_FALSE(fs::exists("-"));
}
#endif

TEST_F(profileRestore, DryRunShowsTheDifferencesAndAsksNothing) {
  AddModule(sim::Model::Km3);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"set-range", "AI3", "1"}));
  modules[0]->ClearFrames();
  // No --yes and no terminal: a dry run needs neither.
  const Result r = Run({"--host", Label(0), "--skip-wifi-check", "restore", "--dry-run", profile});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Settings that differ (module -> \"" + profile +
                       "\"):\n  AI3 range: 1 -> 0\nDry run: nothing written\n");
  EXPECT_EQ(Codes(*modules[0]), Bytes{wire::CMD_GET_DEVICE});
}

TEST_F(profileRestore, AnUnusableProfileIsRefusedBeforeAnythingIsSent) {
  AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  std::string text = ReadFile(profile);
  text.replace(text.find("\"version\": 1"), 12, "\"version\": 9");
  modules[0]->ClearFrames();
  const Result r = Run(On(0, {"restore", WriteFile("v9.json", text)}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.LastErrLine().find("profile version 9; this program reads 1"), std::string::npos)
      << r.err;
  const Result folder = Run(On(0, {"restore", PathOf("")}));
  EXPECT_EQ(folder.status, 1);
  EXPECT_TRUE(modules[0]->Frames().empty());
}

}  // namespace
}  // namespace zvk::cli
