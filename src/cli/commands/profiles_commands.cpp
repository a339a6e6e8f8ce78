// Profiles: `backup` saves what the module reported and what can be written back; `restore`
// checks the whole profile, shows how the module differs from it, asks, restarts the module so
// that what it reports is what it starts with, writes what then differs through the very
// commands a user would run (so through the same window models), restarts it again when a
// setting lives in a file, and checks the module's identity record against the profile again.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "cli/term/standard_output.h"
#include "cli/term/stop_request.h"
#include "cli/term/text.h"
#include "operations/operations.h"
#include "profile/profile.h"
#include "thermistor/user_curves.h"
#include "util/byte_order.h"
#include "util/file_path.h"
#include "util/file_writer.h"
#include "util/text_codec.h"

namespace zvk::cli {

namespace {

constexpr const char* kProfiles = "Profiles";
// A profile is a few kilobytes; anything much larger is not one.
constexpr std::uintmax_t kMaxProfileBytes = 1024 * 1024;
// How long a restarted module is given to answer again, and the pause between two tries.
constexpr auto kRestartTimeout = std::chrono::seconds(60);
constexpr int kRetryPauseMs = 1000;
constexpr int kMaxIdentifyTries = 60;
// A module told to restart that answers this many times in a row, a second apart, is taken as
// not having gone down.
constexpr int kAwayTries = 10;

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

class BackupCommand final : public CopyableCommand<BackupCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("file", path_, "The profile to write (JSON); - for standard output")->required();
    sub.add_flag("--with-keys", with_keys_,
                 "Also save the access point's and the station's keys (left out otherwise: a "
                 "profile is often shared)");
  }
  void Run(Session& s) override {
    const Profile profile = ProfileOfModule(s.app(), s.window().form, with_keys_);
    // The identity record shows 14 bytes of a key that may have up to 16.
    for (const auto& [name, group] :
         {std::pair{"access point", &profile.access_point}, std::pair{"station", &profile.station}})
      if (group->key_type != 0 && group->key &&
          Utf8ToModuleText(*group->key).size() >= wire::devinfo::kKeyWidth)
        s.err << "zvk: the " << name << " key fills the " << wire::devinfo::kKeyWidth
              << " bytes the module reports of it; a longer key is kept cut short\n";
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

// One operation of a step, on a run of its own opened on the module; `identifies`: the module is
// asked for its identity first, as the window does before its settings (its files need none).
struct StepAction {
  bool identifies = true;
  std::function<void(ops::Operator&)> run;
};

// The operations that write one setting of the profile.
struct Step {
  std::string setting;
  std::vector<StepAction> actions;
  bool takes_effect_at_restart = true;
  const char* done = "written";
};

bool Changed(const std::vector<ProfileChange>& changes, const std::string& setting) {
  return std::any_of(changes.begin(), changes.end(),
                     [&setting](const ProfileChange& c) { return c.setting == setting; });
}

// Why a keyed group that differs cannot be written: it takes the profile's key, or the module's
// own when the key type stays and the identity record shows the whole of it (14 bytes may be a
// longer key cut short).
std::optional<std::string> MissingKey(const WifiGroup& module, const WifiGroup& file,
                                      const std::string& what) {
  if (file.key_type == 0 || file.key) return std::nullopt;
  const std::string differ =
      "the " + what + " settings differ and the profile holds no key for them";
  if (module.key_type != file.key_type || !module.key)
    return differ + " (make it with backup --with-keys)";
  std::size_t bytes = wire::devinfo::kKeyWidth;
  try {
    bytes = Utf8ToModuleText(*module.key).size();
  } catch (const TextCodecError&) {
  }
  if (bytes >= wire::devinfo::kKeyWidth)
    return differ + "; the module's own fills the identity record's " +
           std::to_string(wire::devinfo::kKeyWidth) +
           " bytes and may be longer (make the profile with backup --with-keys)";
  return std::nullopt;
}

// The key a group is written with: the profile's, else the module's own (see MissingKey);
// nullopt for an open group.
std::optional<std::string> GroupKey(const WifiGroup& module, const WifiGroup& file) {
  if (file.key_type == 0) return std::nullopt;
  return file.key ? *file.key : module.key.value_or(std::string());
}

// Everything that keeps a profile from being restored onto this module, all of it at once.
std::vector<std::string> RestoreProblems(const Profile& module, const Profile& file,
                                         const std::vector<ProfileChange>& changes) {
  std::vector<std::string> problems = ProfileProblems(file);
  if (Changed(changes, "access point"))
    if (auto why = MissingKey(module.access_point, file.access_point, "access point"))
      problems.push_back(*why);
  if (Changed(changes, "station") && !file.station.IsEmpty())
    if (auto why = MissingKey(module.station, file.station, "station")) problems.push_back(*why);
  return problems;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

void PrintChanges(Session& s, const std::vector<ProfileChange>& changes) {
  for (const ProfileChange& c : changes)
    s.out << "  " << TextForTerminal(c.setting) << ": " << TextForTerminal(c.module_value) << " -> "
          << TextForTerminal(c.file_value) << '\n';
}

bool SameChanges(const std::vector<ProfileChange>& a, const std::vector<ProfileChange>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const ProfileChange& x, const ProfileChange& y) {
                      return x.setting == y.setting && x.module_value == y.module_value &&
                             x.file_value == y.file_value;
                    });
}

std::array<std::string, 3> StaticAddresses(const Profile& file) {
  return {Dotted(file.static_ip), Dotted(file.subnet_mask), Dotted(file.gateway)};
}

// Only for a profile that RestoreProblems passed.
std::vector<Step> PlanSteps(const Profile& module, const Profile& file,
                            const std::vector<ProfileChange>& changes) {
  const auto changed = [&changes](const std::string& setting) { return Changed(changes, setting); };
  const auto action = [](std::function<void(ops::Operator&)> run) {
    return StepAction{true, std::move(run)};
  };
  std::vector<Step> steps;
  if (changed("location"))
    steps.push_back({"location", {action([&file](ops::Operator& op) {
                       ops::WriteLocation(op, file.location);
                     })}});
  if (changed("access point")) {
    const std::optional<std::string> key = GroupKey(module.access_point, file.access_point);
    steps.push_back({"access point", {action([&file, key](ops::Operator& op) {
                       ops::WriteAccessPoint(op, file.access_point.ssid, key);
                     })}});
  }
  if (changed("station")) {
    if (file.station.IsEmpty()) {
      // A station never set up has no files: the module then has none either.
      std::vector<StepAction> deletes;
      for (const char* name : {"/local/sta_ssid.cfg", "/local/sta_keyT.cfg", "/local/sta_key.cfg"})
        deletes.push_back({false, [name](ops::Operator& op) { ops::DeleteModuleFile(op, name); }});
      steps.push_back({"station", deletes, true, "deleted (no station)"});
    } else {
      static const ops::StationKeyType kTypes[] = {
          ops::StationKeyType::Open, ops::StationKeyType::Wep, ops::StationKeyType::Wpa};
      const std::string key = GroupKey(module.station, file.station).value_or(std::string());
      steps.push_back({"station", {action([&file, key](ops::Operator& op) {
                         ops::WriteStation(op, file.station.ssid, key,
                                           kTypes[file.station.key_type]);
                       })}});
    }
  }
  if (changed("static IP")) {
    std::optional<std::array<std::string, 3>> addresses;
    if (file.static_ip_enabled) addresses = StaticAddresses(file);
    steps.push_back({"static IP", {action([addresses](ops::Operator& op) {
                       ops::WriteStaticIp(op, addresses);
                     })}});
  }
  if (changed("Modbus"))
    steps.push_back({"Modbus", {action([&file](ops::Operator& op) {
                       ops::WriteModbus(op, std::to_string(file.modbus_port),
                                        std::to_string(file.idle_timeout));
                     })}});
  if (file.IsVoltageModule()) {
    if (changed("sampling"))
      steps.push_back(
          {"sampling",
           {action([&file](ops::Operator& op) { ops::SetSampling(op, file.sampling_mode != 0); })},
           false});
    for (std::size_t ch = 0; ch < file.ranges.size(); ++ch) {
      const std::string name = "AI" + std::to_string(ch);
      if (changed(name + " range"))
        steps.push_back({name + " range",
                         {action([&file, ch](ops::Operator& op) {
                           ops::SetRange(op, static_cast<int>(ch), file.ranges[ch]);
                         })},
                         false});
    }
    if (changed("analog reference block"))
      steps.push_back({"analog reference block", {{false, [&file](ops::Operator& op) {
                                                     ops::WriteModuleFile(op, wire::kAnalogRefFile,
                                                                          file.analog_ref_block);
                                                   }}}});
  } else {
    for (std::size_t ch = 0; ch < 8; ++ch) {
      const std::string name = "TH" + std::to_string(ch);
      const int channel = static_cast<int>(ch);
      if (changed(name + " sensor type"))
        steps.push_back({name + " sensor type",
                         {action([&file, ch, channel](ops::Operator& op) {
                           ops::SetSensor(op, channel, file.sensor_types[ch]);
                         })},
                         false});
      if (changed(name + " unit"))
        steps.push_back({name + " unit",
                         {action([&file, ch, channel](ops::Operator& op) {
                           ops::SetUnit(op, channel, file.fahrenheit[ch] != 0);
                         })},
                         false});
      if (changed(name + " offset"))
        steps.push_back({name + " offset",
                         {action([&file, ch, channel](ops::Operator& op) {
                           ops::SetOffset(op, channel, file.offsets[ch]);
                         })},
                         false});
    }
    // The module keeps all eight curves in one file: the profile's record is written whole, byte
    // for byte, so a curve never defined is restored as such (no command takes 0 ohms), and the
    // module takes it up at its restart.
    bool curves = false;
    for (int i = 0; i < 8; ++i) curves = curves || changed("user curve " + std::to_string(i));
    if (curves)
      steps.push_back({"user curves", {{false, [&file](ops::Operator& op) {
                                          ops::WriteModuleFile(op, wire::kUserCurveFile,
                                                               file.user_curves);
                                        }}}});
  }
  return steps;
}

// What the module answered after it was told to restart.
struct Comeback {
  Profile profile;
  bool seen_away = false;  // it stopped answering in between: it did go down
};

class RestoreCommand final : public CopyableCommand<RestoreCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("file", path_, "The profile to restore (JSON, from backup)")->required();
    sub.add_flag("--dry-run", dry_run_,
                 "Show what differs (as the module reports it now) and send nothing more");
  }
  void CheckArguments() override { file_ = ReadProfile(path_); }
  bool LooksOnly() const override { return dry_run_; }

  void Run(Session& s) override {
    const Profile module = ProfileOfModule(s.app(), s.window().form, true);
    if (module.model_code != file_.model_code)
      throw Failed("\"" + path_ + "\" is a profile of the " + ModelShortName(file_.model_code) +
                   "; this module is the " + ModelShortName(module.model_code) + "; nothing sent");
    const std::vector<ProfileChange> changes = DiffProfiles(module, file_);
    // Checked whole before anything is written, so a profile is never half applied.
    if (const auto problems = RestoreProblems(module, file_, changes); !problems.empty())
      throw Failed(CannotRestore(problems) + "; nothing sent");
    if (changes.empty()) {
      s.out << "The module reports every setting of \"" << TextForTerminal(path_) << "\"\n";
    } else {
      s.out << "Settings that differ (module -> \"" << TextForTerminal(path_) << "\"):\n";
      PrintChanges(s, changes);
    }
    if (dry_run_) {
      s.out << "Dry run: nothing written (a setting written to the module but not yet in effect "
               "shows only once it restarts)\n";
      return;
    }
    const std::string question =
        "Restore the profile: restart the module, write the settings that then differ (" +
        std::to_string(changes.size()) + " now) and restart it again where they need it, execute?";
    if (s.dialogs().MessageBox("Confirm", question, MsgIcon::Question, MsgButtons::YesNo) !=
        MsgResult::Yes)
      throw Failed("restore not confirmed; nothing written");

    // A setting written to a file but not yet applied is not in what the module reports: only
    // what it reports after a restart tells what it will hold.
    RunStep(s, "restart", {{true, ops::Reboot}}, 0, 0, "sent");
    const Comeback first = AwaitRestart(s, module.mac, "restarted before writing, but ");
    if (!first.seen_away)
      throw Failed("the module was not seen restarting (it kept answering for " +
                   std::to_string(kAwayTries) +
                   " tries), so a setting waiting for its restart may be unseen; nothing written");
    const std::vector<ProfileChange> now = DiffProfiles(first.profile, file_);
    if (now.empty()) {
      s.out << "Restored: the module restarted and reports every setting of \""
            << TextForTerminal(path_) << "\"; nothing written\n";
      return;
    }
    if (!SameChanges(now, changes)) {
      s.out << "After its restart the module differs in:\n";
      PrintChanges(s, now);
    }
    if (const auto problems = RestoreProblems(first.profile, file_, now); !problems.empty())
      throw Failed(CannotRestore(problems) + "; the module was restarted, nothing written");

    const std::vector<Step> steps = PlanSteps(first.profile, file_, now);
    bool restart = false;
    for (const Step& step : steps) restart |= step.takes_effect_at_restart;
    const bool wifi_mode_changes = now.back().setting == "Wi-Fi mode";
    std::size_t written = 0;
    for (const Step& step : steps) {
      RunStep(s, step.setting, step.actions, written, steps.size(), nullptr);
      s.out << "  " << step.setting << ": " << step.done << '\n';
      ++written;
    }
    // The new Wi-Fi mode starts with the module; otherwise a reboot puts the files in effect.
    if (wifi_mode_changes)
      RunStep(s, "Wi-Fi mode",
              {{true, [this](ops::Operator& op) { ops::SetWifiMode(op, file_.wifi_mode != 0); }}},
              written, steps.size(), "sent");
    else if (restart)
      RunStep(s, "restart", {{true, ops::Reboot}}, written, steps.size(), "sent");
    Verify(s, module.mac, restart || wifi_mode_changes);
  }

 private:
  std::string CannotRestore(const std::vector<std::string>& problems) const {
    return "\"" + path_ + "\" cannot be restored: " + TextForTerminal(Joined(problems));
  }

  // A run of its own on the module, as the window's next action would start: the restore's one
  // question was answered, and it covers the questions the windows ask on the way.
  // Its outside world is the restore's, without a terminal: nothing is asked and nothing drawn.
  static CliEnv StepEnv(Session& s) {
    return CliEnv{.network = s.env().network, .hosts = s.env().hosts, .sleeper = s.env().sleeper};
  }
  static std::unique_ptr<Session> StepSession(Session& s, CliEnv& env, std::ostream& sink,
                                              bool yes) {
    GlobalOptions options = s.options();
    options.host = s.app().link.DeviceHost;
    options.port = s.app().link.DevicePort;
    options.yes = yes;
    options.verbose = false;
    auto step = std::make_unique<Session>(env, options, sink, sink);
    step->Open();
    return step;
  }

  // Runs the operations of one setting; a failure ends the restore there, saying how far it got.
  void RunStep(Session& s, const std::string& setting, const std::vector<StepAction>& actions,
               std::size_t written, std::size_t total, const char* done) const {
    try {
      for (const StepAction& action : actions) {
        CliEnv env = StepEnv(s);
        std::ostringstream sink;
        const std::unique_ptr<Session> step = StepSession(s, env, sink, true);
        if (action.identifies) step->Identify();
        StopRequest& stop = StopRequest::Get();
        if (StopRequest::Deferring() && stop.requested())
          throw Failed("interrupted by " + stop.what() +
                       " after the identification; nothing sent to change the module");
        action.run(*step);
      }
    } catch (const std::exception& e) {
      const std::string reason = TextForTerminal(e.what());
      if (total == 0)
        throw Failed("the restart before writing failed: " + reason + "; nothing written");
      throw Failed("restoring the " + setting + " failed after " + std::to_string(written) +
                   " of " + std::to_string(total) + " settings were written: " + reason);
    }
    if (done) s.out << "  " << setting << ": " << done << '\n';
  }

  // The module's profile as a new identification reads it; nullopt, with why, when it does not
  // answer.
  std::optional<Profile> IdentifyAgain(Session& s, std::string& why) const {
    CliEnv env = StepEnv(s);
    std::ostringstream sink;
    const std::unique_ptr<Session> again = StepSession(s, env, sink, false);
    try {
      again->Identify();
      return ProfileOfModule(again->app(), again->window().form, true);
    } catch (const CliError& e) {
      why = e.what();
      return std::nullopt;
    }
  }

  static void RequireSameModule(const Profile& now, const std::string& mac,
                                const std::string& context) {
    if (!mac.empty() && now.mac != mac)
      throw Failed(context + "another module answers at " + now.address + " now (MAC " + now.mac +
                   ", not " + mac + ")");
  }

  // After a restart was sent: asks the module once a second until it has gone off the network
  // and answers again, the same module (its MAC) as before. One that keeps answering for
  // kAwayTries tries is taken as it answers, not seen going away.
  Comeback AwaitRestart(Session& s, const std::string& mac, const std::string& context) const {
    Sleeper& sleeper = s.app().seams.sleeper;
    Network& network = s.env().network;
    const auto deadline = network.Now() + kRestartTimeout;
    bool away = false;
    std::string why;
    for (int attempt = 1; attempt <= kMaxIdentifyTries; ++attempt) {
      if (attempt > 1) sleeper.SleepMs(kRetryPauseMs);
      if (const std::optional<Profile> now = IdentifyAgain(s, why)) {
        RequireSameModule(*now, mac, context);
        if (away || attempt >= kAwayTries) return {*now, away};
      } else {
        away = true;
      }
      if (network.Now() >= deadline) break;
    }
    throw Failed(context + "the module did not answer again: " + why);
  }

  // Identifies the module again and compares what it reports with the profile.
  void Verify(Session& s, const std::string& mac, bool restarted) const {
    const std::string context = "written, but ";
    Comeback now;
    if (restarted) {
      now = AwaitRestart(s, mac, context);
    } else {
      std::string why;
      const std::optional<Profile> answer = IdentifyAgain(s, why);
      if (!answer) throw Failed(context + "the module did not answer again: " + why);
      RequireSameModule(*answer, mac, context);
      now.profile = *answer;
    }
    const bool unseen = restarted && !now.seen_away;
    const std::vector<ProfileChange> left = DiffProfiles(now.profile, file_);
    if (!left.empty()) {
      std::string list;
      for (const ProfileChange& c : left)
        list += (list.empty() ? "" : "; ") + c.setting + " is " + c.module_value;
      throw Failed(context + "the module" + (unseen ? " was not seen restarting and" : "") +
                   " still differs from the profile: " + TextForTerminal(list));
    }
    s.out << "Restored: the module" << (restarted && now.seen_away ? " restarted and" : "")
          << " reports every setting of \"" << TextForTerminal(path_) << "\""
          << (unseen ? ", though it was not seen going off the network for its restart" : "")
          << '\n';
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

void AddProfilesCommands(std::vector<CommandEntry>& table) {
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
