// Profiles: `backup` saves what the module reported and what can be written back; `restore`
// shows how the module differs from a profile, asks, and writes what differs through the very
// commands a user would run (so through the same window models), restarts the module when a
// setting lives in a file, and checks the module's identity record against the profile again.
#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "cli/standard_output.h"
#include "cli/zvk_cli.h"
#include "profile/profile.h"
#include "thermistor/user_curves.h"
#include "util/byte_order.h"
#include "util/file_path.h"
#include "util/file_writer.h"

namespace zvk::cli {

namespace {

constexpr const char* kProfiles = "Profiles";
// A profile is a few kilobytes; anything much larger is not one.
constexpr std::uintmax_t kMaxProfileBytes = 1024 * 1024;
// How long a restarted module is given to answer again, and the pause between two tries.
constexpr auto kRestartTimeout = std::chrono::seconds(60);
constexpr int kRetryPauseMs = 1000;
constexpr int kMaxIdentifyTries = 60;

std::string Dotted(const std::array<std::uint8_t, 4>& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

Profile ReadProfile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw Failed("\"" + path + "\" is a folder");
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw Failed("cannot read the profile \"" + path + "\"");
  if (size > kMaxProfileBytes) throw Failed("\"" + path + "\" is too large for a profile");
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw Failed("cannot read the profile \"" + path + "\"");
  try {
    return ProfileFromJson(text.str());
  } catch (const ProfileError& e) {
    throw Failed("\"" + path + "\" is not a usable profile: " + e.what() + "; nothing sent");
  }
}

// The whole file replaced in one rename (src/util/file_writer): a backup cut short never leaves
// half a profile where the last good one was, and one with keys is its owner's alone.
void WriteWhole(const std::string& path, const std::string& content, FileContent kind) {
  try {
    ReplaceFile(PathFromUtf8(path), content, kind);
  } catch (const FileWriteError& e) {
    throw Failed(e.what());
  }
}

class BackupCommand final : public Command {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("file", path_, "The profile to write (JSON); - for standard output")->required();
    sub.add_flag("--with-keys", with_keys_,
                 "Also save the access point's and the station's keys (left out otherwise: a "
                 "profile is often shared)");
  }
  void Run(Session& s) override {
    const Profile profile = ProfileOfModule(s.app(), s.window().form, with_keys_);
    const std::string keys = with_keys_ ? " with its keys" : " without keys";
    if (path_ == "-") {
      s.out << ProfileToJson(profile);
      // Nothing said of a profile that did not arrive; the run ends with the reason.
      if (StandardOutputFailure(s.out)) return;
      s.err << "Profile of the " << ModelShortName(profile.model_code) << " at " << profile.address
            << " written to standard output" << keys << '\n';
      return;
    }
    WriteWhole(path_, ProfileToJson(profile),
               with_keys_ ? FileContent::Secret : FileContent::Plain);
    s.out << "Profile of the " << ModelShortName(profile.model_code) << " at " << profile.address
          << " saved to \"" << path_ << "\"" << keys << '\n';
  }

 private:
  std::string path_;
  bool with_keys_ = false;
};

// A module file's exact bytes, put in a local file for write-file and removed afterwards.
class ScratchFile {
 public:
  explicit ScratchFile(const std::uint8_t* bytes, std::size_t n) {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("zvk-restore-" + std::to_string(random()) + "-" + std::to_string(random()) + ".bin");
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
    out.flush();
    if (!out) throw Failed("cannot write a scratch file in " + path_.parent_path().string());
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// One command that writes one setting of the profile.
struct Step {
  std::string setting;
  std::vector<std::string> args;
  bool takes_effect_at_restart = true;
  std::shared_ptr<ScratchFile> scratch;  // the content write-file sends
};

std::string WithTenths(std::int32_t tenths) {
  const std::string sign = tenths < 0 ? "-" : "";
  const std::int64_t magnitude = tenths < 0 ? -std::int64_t{tenths} : tenths;
  return sign + std::to_string(magnitude / 10) + "." + std::to_string(magnitude % 10);
}

// The key a group is written with: the profile's, or the one the module holds when the profile
// has none and the key type stays; nullopt for an open group.
std::optional<std::string> GroupKey(const WifiGroup& module, const WifiGroup& file,
                                    const std::string& what) {
  if (file.key_type == 0) return std::nullopt;
  if (file.key) return *file.key;
  if (module.key_type == file.key_type && module.key) return *module.key;
  throw Failed("the " + what +
               " settings differ and the profile holds no key for them (make it "
               "with backup --with-keys); nothing sent");
}

std::vector<Step> PlanSteps(const Profile& module, const Profile& file,
                            const std::vector<ProfileChange>& changes) {
  const auto changed = [&changes](const std::string& setting) {
    for (const ProfileChange& c : changes)
      if (c.setting == setting) return true;
    return false;
  };
  std::vector<Step> steps;
  if (changed("location")) steps.push_back({"location", {"setup", "location", file.location}});
  if (changed("access point")) {
    std::vector<std::string> args{"setup", "ap", "--ssid", file.access_point.ssid};
    if (auto key = GroupKey(module.access_point, file.access_point, "access point"))
      args.insert(args.end(), {"--key", *key});
    else
      args.push_back("--open");
    steps.push_back({"access point", args});
  }
  if (changed("station")) {
    static const char* kTypes[] = {"open", "wep", "wpa"};
    if (file.station.key_type > 2)
      throw Failed("the profile's station key type " + std::to_string(file.station.key_type) +
                   " is not one the setup window writes; nothing sent");
    std::vector<std::string> args{"setup",           "station", "--ssid",
                                  file.station.ssid, "--type",  kTypes[file.station.key_type]};
    if (auto key = GroupKey(module.station, file.station, "station"))
      args.insert(args.end(), {"--key", *key});
    steps.push_back({"station", args});
  }
  if (changed("static IP")) {
    std::vector<std::string> args{"setup", "static-ip"};
    if (file.static_ip_enabled)
      args.insert(args.end(),
                  {Dotted(file.static_ip), Dotted(file.subnet_mask), Dotted(file.gateway)});
    else
      args.push_back("off");
    steps.push_back({"static IP", args});
  }
  if (changed("Modbus"))
    steps.push_back(
        {"Modbus",
         {"setup", "modbus", std::to_string(file.modbus_port), std::to_string(file.idle_timeout)}});
  if (file.IsVoltageModule()) {
    if (changed("sampling"))
      steps.push_back(
          {"sampling", {"set-sampling", file.sampling_mode != 0 ? "fast" : "normal"}, false});
    for (std::size_t ch = 0; ch < file.ranges.size(); ++ch) {
      const std::string name = "AI" + std::to_string(ch);
      if (changed(name + " range"))
        steps.push_back(
            {name + " range", {"set-range", name, std::to_string(file.ranges[ch])}, false});
    }
    if (changed("analog reference block")) {
      auto scratch =
          std::make_shared<ScratchFile>(file.analog_ref_block.data(), file.analog_ref_block.size());
      steps.push_back({"analog reference block",
                       {"write-file", wire::kAnalogRefFile, scratch->path()},
                       true,
                       scratch});
    }
  } else {
    for (std::size_t ch = 0; ch < 8; ++ch) {
      const std::string name = "TH" + std::to_string(ch);
      char code[8];
      std::snprintf(code, sizeof code, "%02X", unsigned{file.sensor_types[ch]});
      if (changed(name + " sensor type"))
        steps.push_back({name + " sensor type", {"set-sensor", name, code}, false});
      if (changed(name + " unit"))
        steps.push_back(
            {name + " unit", {"set-unit", name, file.fahrenheit[ch] != 0 ? "F" : "C"}, false});
      if (changed(name + " offset"))
        steps.push_back(
            {name + " offset", {"set-offset", name, std::to_string(file.offsets[ch])}, false});
    }
    UserCurvePoints c;
    LoadUserCurveRecord(c, file.user_curves.data());
    for (std::size_t i = 0; i < 8; ++i) {
      const std::string name = "user curve " + std::to_string(i);
      if (!changed(name)) continue;
      const auto point = [](int temp, std::int32_t tenths) {
        return std::to_string(temp) + ":" + WithTenths(tenths);
      };
      // The window saves all eight curves and has the module reload them at once.
      steps.push_back(
          {name,
           {"user-curve", std::to_string(i), "--hi", point(c.TempHi[i], c.ResHi[i]), "--mid",
            point(c.TempMid[i], c.ResMid[i]), "--low", point(c.TempLow[i], c.ResLow[i])},
           false});
    }
  }
  return steps;
}

class RestoreCommand final : public Command {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("file", path_, "The profile to restore (JSON, from backup)")->required();
    sub.add_flag("--dry-run", dry_run_, "Show what would change and send nothing more");
  }
  void CheckArguments() override { file_ = ReadProfile(path_); }
  bool LooksOnly() const override { return dry_run_; }

  void Run(Session& s) override {
    const Profile module = ProfileOfModule(s.app(), s.window().form, true);
    if (module.model_code != file_.model_code)
      throw Failed("\"" + path_ + "\" is a profile of the " + ModelShortName(file_.model_code) +
                   "; this module is the " + ModelShortName(module.model_code) + "; nothing sent");
    const std::vector<ProfileChange> changes = DiffProfiles(module, file_);
    if (changes.empty()) {
      s.out << "The module already holds every setting of \"" << path_ << "\"; nothing sent\n";
      return;
    }
    s.out << "Settings that differ (module -> \"" << path_ << "\"):\n";
    for (const ProfileChange& c : changes)
      s.out << "  " << c.setting << ": " << c.module_value << " -> " << c.file_value << '\n';
    if (dry_run_) {
      s.out << "Dry run: nothing written\n";
      return;
    }
    const std::vector<Step> steps = PlanSteps(module, file_, changes);
    bool restart = false;
    for (const Step& step : steps) restart |= step.takes_effect_at_restart;
    const bool wifi_mode_changes = changes.back().setting == "Wi-Fi mode";
    const std::string question =
        "Restore " + std::to_string(changes.size()) + " settings from the profile" +
        (restart || wifi_mode_changes ? " and restart the module" : "") + ", execute?";
    if (s.dialogs().MessageBox("Confirm", question, MsgIcon::Question, MsgButtons::YesNo) !=
        MsgResult::Yes)
      throw Failed("restore not confirmed; nothing written");

    std::size_t written = 0;
    for (const Step& step : steps) {
      RunStep(s, step.setting, step.args, written, steps.size());
      ++written;
    }
    // The new Wi-Fi mode starts with the module; otherwise a reboot puts the files in effect.
    if (wifi_mode_changes)
      RunStep(s, "Wi-Fi mode", {"wifi-mode", file_.wifi_mode != 0 ? "ap" : "station"}, written,
              steps.size());
    else if (restart)
      RunStep(s, "restart", {"reboot"}, written, steps.size());
    Verify(s, restart || wifi_mode_changes);
  }

 private:
  std::vector<std::string> Globals(Session& s) const {
    const App& app = s.app();
    std::vector<std::string> args{"--host", app.link.DeviceHost, "--port",
                                  std::to_string(app.link.DevicePort), "--yes"};
    if (s.options().skip_wifi_check) args.push_back("--skip-wifi-check");
    return args;
  }

  void RunStep(Session& s, const std::string& setting, const std::vector<std::string>& args,
               std::size_t written, std::size_t total) const {
    std::vector<std::string> all = Globals(s);
    all.insert(all.end(), args.begin(), args.end());
    CliEnv env{.network = s.env().network, .hosts = s.env().hosts, .sleeper = s.env().sleeper};
    std::ostringstream out, err;
    const int status = RunZvk(all, out, err, env);
    if (status == kExitOk) {
      s.out << "  " << setting
            << (args.front() == "reboot" || args.front() == "wifi-mode" ? ": sent\n"
                                                                        : ": written\n");
      return;
    }
    std::string reason = err.str();
    if (const std::size_t at = reason.rfind("zvk: "); at != std::string::npos)
      reason = reason.substr(at + 5);
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    throw Failed("restoring the " + setting + " failed after " + std::to_string(written) + " of " +
                 std::to_string(total) + " settings: " + reason);
  }

  // Identifies the module again and compares what it reports with the profile. After a
  // restart the module may still answer from before it went down, or not at all for a while:
  // it is asked again, once a second, until it reports the profile or the time is up.
  void Verify(Session& s, bool restarted) const {
    GlobalOptions options = s.options();
    options.host = s.app().link.DeviceHost;
    options.port = s.app().link.DevicePort;
    options.verbose = false;
    CliEnv env{.network = s.env().network, .hosts = s.env().hosts, .sleeper = s.env().sleeper};
    Sleeper& sleeper = s.app().seams.sleeper;
    const auto deadline = env.network.Now() + kRestartTimeout;
    std::string last;
    for (int attempt = 1; attempt <= kMaxIdentifyTries; ++attempt) {
      if (attempt > 1) sleeper.SleepMs(kRetryPauseMs);
      std::ostringstream sink;
      Session again(env, options, sink, sink);
      again.Open();
      try {
        again.Identify();
        const Profile now = ProfileOfModule(again.app(), again.window().form, true);
        const std::vector<ProfileChange> left = DiffProfiles(now, file_);
        if (left.empty()) {
          s.out << "Restored: the module" << (restarted ? " restarted and" : "")
                << " reports every setting of \"" << path_ << "\"\n";
          return;
        }
        last.clear();
        for (const ProfileChange& c : left)
          last += (last.empty() ? "" : "; ") + c.setting + " is " + c.module_value;
        last = "the module still differs from the profile: " + last;
      } catch (const CliError& e) {
        last = std::string("the module did not answer again: ") + e.what();
      }
      if (!restarted || env.network.Now() >= deadline) break;
    }
    throw Failed("written, but " + last);
  }

  std::string path_;
  bool dry_run_ = false;
  Profile file_;
};

template <typename T>
std::unique_ptr<Command> Make() {
  return std::make_unique<T>();
}

}  // namespace

void AddProfileCommands(std::vector<CommandEntry>& table) {
  const CommandEntry entries[] = {
      {"backup", kProfiles, "Save the module's settings to a profile: backup FILE [--with-keys]",
       true, false, Make<BackupCommand>},
      {"restore", kProfiles,
       "Show how the module differs from a profile, then write what differs: restore FILE", true,
       true, Make<RestoreCommand>},
  };
  table.insert(table.end(), std::begin(entries), std::end(entries));
}

}  // namespace zvk::cli
