// backup and restore against simulated modules: a profile brings every reported setting back
// byte for byte after a reset to defaults, clones onto several modules, and is refused with
// nothing sent by the other model.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <thread>
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

// TMPDIR names something that is no folder while it lives.
class TemporaryFolderUnusable {
 public:
  explicit TemporaryFolderUnusable([[maybe_unused]] const std::string& path) {
    if (const char* was = std::getenv("TMPDIR")) was_ = was;
#ifndef _WIN32
    ::setenv("TMPDIR", path.c_str(), 1);
#endif
  }
  ~TemporaryFolderUnusable() {
#ifndef _WIN32
    if (was_)
      ::setenv("TMPDIR", was_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
#endif
  }
  TemporaryFolderUnusable(const TemporaryFolderUnusable&) = delete;
  TemporaryFolderUnusable& operator=(const TemporaryFolderUnusable&) = delete;

 private:
  std::optional<std::string> was_;
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

std::size_t CountOf(const sim::Simulator& module, std::uint8_t code) {
  const Bytes codes = Codes(module);
  return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), code));
}

// The text with the first match of `pattern` replaced; the pattern must match.
std::string Edited(const std::string& text, const std::string& pattern, const std::string& with) {
  const std::regex re(pattern);
  EXPECT_TRUE(std::regex_search(text, re)) << pattern;
  return std::regex_replace(text, re, with, std::regex_constants::format_first_only);
}

class profileRestore : public FleetTest {
 protected:
  profileRestore() {
    // The restore's second between two identity requests, shortened: a restarting module stays
    // off the network for several of them, as a real one does.
    sleeper.on_sleep = [this](int ms) {
      if (ms != 1000) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      if (after_pause) after_pause();
    };
  }
  // Modules that go off the network for a moment when they restart, as real ones do.
  void GoOffWhenRestarting() {
    for (const auto& module : modules) module->SetRebootMs(400);
  }
  // Runs a command that restarts the module (in place, at once) and waits until the module has
  // taken it in, so that a later GoOffWhenRestarting does not apply to this restart.
  void MustRestart(std::size_t i, const std::vector<std::string>& args) {
    modules[i]->ClearFrames();
    MustRun(On(i, args));
    ASSERT_TRUE(modules[i]->WaitForFrames(2, std::chrono::seconds(5)));
  }
  std::function<void()> after_pause;

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
             {"setup", "modbus", "1502", "60"}})
      MustRun(On(i, args));
    MustRestart(i, {"reboot"});
    if (model == sim::Model::Km3) {
      MustRun(On(i, {"set-range", "AI1", "2"}));
      MustRun(On(i, {"set-range", "AI4", "3"}));
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
      MustRun(On(
          i, {"user-curve", "7", "--hi", "90:1200", "--mid", "20:9000.7", "--low", "-30:150000"}));
    }
  }

  // Back to the defaults: the reset of the network settings, and the channels as they were.
  void Reset(std::size_t i, sim::Model model, const Bytes& initial) {
    sim::Simulator& m = *modules[i];
    MustRestart(i, {"reset-defaults"});
    if (model == sim::Model::Km3) {
      MustRun(On(i, {"set-range", "AI1", "0"}));
      MustRun(On(i, {"set-range", "AI4", "0"}));
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
      // The file too: the module reads it again when it restarts.
      m.PutFile(wire::kUserCurveFile, Bytes(curves.begin(), curves.end()));
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
    GoOffWhenRestarting();

    // The module files of the profile go out from memory: a temporary folder that cannot be
    // used changes nothing.
    const Result r = [&] {
      const TemporaryFolderUnusable unusable(WriteFile("not-a-folder", ""));
      return Run(On(i, {"restore", profile}));
    }();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differing(model, Identity(m), configured), std::vector<std::string>{}) << r.out;
    EXPECT_NE(r.out.find("Restored: the module restarted and reports every setting of"),
              std::string::npos)
        << r.out;

    // Restored, the module differs in nothing: a second restore restarts it to be sure and
    // writes nothing.
    m.ClearFrames();
    const Result again = Run(On(i, {"restore", profile}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(
        again.out.ends_with("reports every setting of \"" + profile + "\"; nothing written\n"))
        << again.out;
    for (const std::uint8_t code : Codes(m))
      EXPECT_TRUE(code == wire::CMD_GET_DEVICE || code == wire::CMD_RESET_MODULE) << int{code};
    EXPECT_EQ(CountOf(m, wire::CMD_RESET_MODULE), 1u);
  }
}

TEST_F(profileRestore, WritesOnlyWhatDiffers) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"set-offset", "TH4", "12"}));
  GoOffWhenRestarting();
  m.ClearFrames();
  const Result r = Run(On(0, {"restore", profile}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  TH4 offset: 12 -> 0\n"), std::string::npos) << r.out;
  // The restart that shows what the module starts with, the channel setting, no file and so no
  // second restart.
  EXPECT_EQ(CountOf(m, wire::CMD_RESET_MODULE), 1u);
  EXPECT_EQ(CountOf(m, wire::CMD_SET_TH_CONFIG), 1u);
  EXPECT_EQ(CountOf(m, wire::CMD_WRITE_FILE), 0u);
  EXPECT_EQ(Codes(m).back(), wire::CMD_GET_DEVICE);
  EXPECT_NE(r.out.find("Restored: the module reports every setting of"), std::string::npos)
      << r.out;
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
  MustRestart(0, {"reboot"});
  const std::string profile = PathOf("line3.json");
  MustRun(On(0, {"backup", profile}));
  std::string inventory;
  for (std::size_t i = 1; i < modules.size(); ++i) inventory += Label(i) + "\n";
  for (const auto& module : modules) module->ClearFrames();
  GoOffWhenRestarting();

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
  MustRestart(0, {"reboot"});
  const std::string without = PathOf("without.json");
  const std::string with = PathOf("with.json");
  MustRun(On(0, {"backup", without}));
  MustRun(On(0, {"backup", with, "--with-keys"}));
  EXPECT_EQ(ReadFile(without).find("secret123"), std::string::npos);
  EXPECT_NE(ReadFile(with).find("\"key\": \"secret123\""), std::string::npos);

  MustRestart(0, {"reset-defaults"});
  GoOffWhenRestarting();
  modules[0]->ClearFrames();
  const Result refused = Run(On(0, {"restore", without}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.LastErrLine().ends_with(
      "\" cannot be restored: the station settings differ and the profile holds no key for them "
      "(make it with backup --with-keys); nothing sent"))
      << refused.err;
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
                       "\"):\n  AI3 range: 1 -> 0\nDry run: nothing written (a setting written "
                       "to the module but not yet in effect shows only once it restarts)\n");
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

// A setting written to the module's file but not yet applied is not in what it reports: the
// restore restarts the module first and writes what then differs.
TEST_F(profileRestore, ASettingWaitingForARestartIsRestoredToo) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"setup", "location", "Pending"}));
  GoOffWhenRestarting();
  const Result r = Run(On(0, {"restore", profile}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("The module reports every setting of \"" + profile + "\"\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("After its restart the module differs in:\n  location: \"Pending\" -> "
                       "\"Lab bench 1\"\n  location: written\n  restart: sent\nRestored: the "
                       "module restarted and reports every setting of"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(m.File("/local/locate.cfg"),
            Bytes({'L', 'a', 'b', ' ', 'b', 'e', 'n', 'c', 'h', ' ', '1'}));
  EXPECT_EQ(m.Snapshot().location, "Lab bench 1");
}

// The whole profile is held to the rules of the commands that write it before anything goes
// out, and every field that fails is named; a dry run says the same.
TEST_F(profileRestore, AProfileTheCommandsWouldRefuseIsRefusedWholeWithNothingSent) {
  AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"set-offset", "TH1", "5"}));  // something to restore
  const std::string good = ReadFile(profile);
  struct Case {
    const char* name;
    std::string text;
    std::string problems;
  };
  const Case cases[] = {
      {"several at once",
       Edited(Edited(Edited(Edited(good, R"("offset": 0)", R"("offset": -128)"), R"("port": 502)",
                            R"("port": 0)"),
                     R"("location": "[^"]*")", R"("location": "\u001b]0;x\u0007\u001b[2J")"),
              R"("tenths_of_ohm": -?[0-9]+)", R"("tenths_of_ohm": 0)"),
       "profile.location: holds a control character (line break, tab, escape ...); "
       "profile.modbus.port: 0 is not 1 to 65535; profile.channels[0].offset: -128 is not -127 "
       "to 127; profile.user_curves[0].hi.tenths_of_ohm: 0 is not above 0 (only a curve never "
       "defined has all three resistances 0)"},
      {"an SSID with a line break", Edited(good, R"("ssid": "[^"]*")", R"("ssid": "Plant\nnet")"),
       "profile.access_point.ssid: holds a control character (line break, tab, escape ...)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("bad.json", c.text);
    for (const bool dry_run : {false, true}) {
      modules[0]->ClearFrames();
      std::vector<std::string> args{"restore", path};
      if (dry_run) args.push_back("--dry-run");
      const Result r = Run(On(0, args));
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(r.LastErrLine().starts_with("zvk: \"")) << r.err;
      EXPECT_TRUE(
          r.LastErrLine().ends_with("\" cannot be restored: " + c.problems + "; nothing sent"))
          << r.err;
      EXPECT_EQ(Codes(*modules[0]), Bytes{wire::CMD_GET_DEVICE});
    }
  }
  EXPECT_EQ(modules[0]->Snapshot().offsets[1], 5);
}

// An unmodified backup of a module whose station was never set up: restored as no station.
TEST_F(profileRestore, AStationNeverSetUpIsRestoredAsNone) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(
      On(0, {"setup", "station", "--ssid", "Plant net", "--key", "secret123", "--type", "wpa"}));
  MustRestart(0, {"reboot"});
  GoOffWhenRestarting();
  const Result r = Run(On(0, {"restore", profile}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("  station: SSID \"Plant net\", key type 2 -> none\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  station: deleted (no station)\n"), std::string::npos) << r.out;
  for (const char* name : {"/local/sta_ssid.cfg", "/local/sta_keyT.cfg", "/local/sta_key.cfg"})
    EXPECT_FALSE(m.File(name)) << name;
}

// Whether the module went down and came back decides what its report means.
TEST_F(profileRestore, TheRestartsAreWatchedAndTheFinalComparisonIsStrict) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"setup", "location", "Elsewhere"}));
  MustRestart(0, {"reboot"});

  // Never off the network: the restart it was sent may not have happened.
  m.ClearFrames();
  const Result unseen = Run(On(0, {"restore", profile}));
  EXPECT_EQ(unseen.status, 1);
  EXPECT_EQ(unseen.LastErrLine(),
            "zvk: the module was not seen restarting (it kept answering for 10 tries), so a "
            "setting waiting for its restart may be unseen; nothing written");
  EXPECT_EQ(CountOf(m, wire::CMD_WRITE_FILE), 0u);

  // What is still different after the last restart fails the restore.
  GoOffWhenRestarting();
  after_pause = [&m] {
    if (CountOf(m, wire::CMD_WRITE_FILE) == 0) return;
    // Once it has started from its files: what it then reports is no longer the profile's.
    m.WaitUntilOnline(std::chrono::seconds(5));
    m.SetLocation("Elsewhere again");
  };
  const Result left = Run(On(0, {"restore", profile}));
  EXPECT_EQ(left.status, 1);
  EXPECT_EQ(left.LastErrLine(),
            "zvk: written, but the module still differs from the profile: location is "
            "\"Elsewhere again\"");

  // Another module answering where this one was is no restore of it.
  after_pause = nullptr;
  MustRun(On(0, {"setup", "location", "Elsewhere"}));
  const std::uint16_t port = m.Port();
  std::unique_ptr<sim::Simulator> other;
  after_pause = [&] {
    if (other) return;
    m.Stop();
    sim::Options options;
    options.listen = "127.0.0.2";
    options.port = port;
    options.unit = 9;
    other = std::make_unique<sim::Simulator>(options);
    other->Start();
    other->SetReportedAddress({127, 0, 0, 2});
  };
  const Result replaced = Run(On(0, {"restore", profile}));
  if (other) other->Stop();
  EXPECT_EQ(replaced.status, 1);
  EXPECT_TRUE(replaced.LastErrLine().starts_with(
      "zvk: restarted before writing, but another module answers at 127.0.0.2 now (MAC "))
      << replaced.err;
}

// A step that fails ends the restore there: nothing after it is written, no restart claims it.
TEST_F(profileRestore, AFailedWriteStopsTheRestore) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"setup", "location", "Elsewhere"}));
  MustRun(On(0, {"setup", "modbus", "1502", "60"}));
  MustRestart(0, {"reboot"});
  MustRun(On(0, {"set-offset", "TH3", "7"}));
  GoOffWhenRestarting();
  m.ClearFrames();
  m.InjectFault(sim::Fault::Refuse, 1, wire::CMD_WRITE_FILE);
  const Result r = Run(On(0, {"restore", profile}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.LastErrLine().starts_with(
      "zvk: restoring the location failed after 0 of 3 settings were written: "))
      << r.err;
  EXPECT_EQ(CountOf(m, wire::CMD_WRITE_FILE), 1u);
  EXPECT_EQ(CountOf(m, wire::CMD_SET_TH_CONFIG), 0u);
  EXPECT_EQ(CountOf(m, wire::CMD_RESET_MODULE), 1u);  // only the one before writing
}

// The Wi-Fi mode goes last, and its switch is the restart that the files wait for.
TEST_F(profileRestore, AWifiModeChangeIsRestoredWithItsRestart) {
  sim::Simulator& m = AddModule(sim::Model::Km3);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  MustRun(On(0, {"setup", "location", "Elsewhere"}));
  MustRestart(0, {"wifi-mode", "station"});
  GoOffWhenRestarting();
  m.ClearFrames();
  const Result r = Run(On(0, {"restore", profile}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("  location: written\n  Wi-Fi mode: sent\nRestored: the module restarted "
                       "and reports every setting of"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(CountOf(m, wire::CMD_SET_WIFI_MODE), 1u);
  EXPECT_EQ(CountOf(m, wire::CMD_RESET_MODULE), 1u);  // the one before writing
  EXPECT_NE(m.Snapshot().wifi_mode, 0);
}

// The module's texts and the profile's reach the terminal with their control characters
// escaped.
TEST_F(profileRestore, TheDiffEscapesControlCharacters) {
  sim::Simulator& m = AddModule(sim::Model::Qn6);
  const std::string profile = PathOf("p.json");
  MustRun(On(0, {"backup", profile}));
  m.SetLocation("\x1B]0;owned\x07\x1B[2J");
  const std::string edited = WriteFile(
      "c1.json",
      Edited(ReadFile(profile), R"("location": "[^"]*")", R"("location": "Tank \u009d 4")"));
  const Result r = Run(On(0, {"restore", "--dry-run", edited}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  location: \"\\x1B]0;owned\\x07\\x1B[2J\" -> \"Tank \\x9D 4\"\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
  EXPECT_EQ(r.out.find("\xC2\x9D"), std::string::npos);
}

}  // namespace
}  // namespace zvk::cli
