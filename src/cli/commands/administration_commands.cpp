// The administration commands: the setup window's actions and buttons, and the module's files.
// Each fills the window's controls as a user would and clicks, so the checks, questions, texts,
// files and frames are the window's own.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "admin/local_file.h"
#include "admin/remote_files.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "operations/operations.h"
#include "state/app.h"
#include "util/file_path.h"
#include "util/message_text.h"

namespace zvk::cli {

namespace {

constexpr const char* kAdministration = "Administration";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// File names are ASCII, one byte a character on the wire.
void CheckFileName(const std::string& name, std::size_t limit, const std::string& command) {
  const bool ascii =
      std::all_of(name.begin(), name.end(), [](unsigned char c) { return c > ' ' && c < 0x7F; });
  if (name.empty() || !ascii || name.size() > limit)
    throw UsageError(command + ": a file name is 1 to " + std::to_string(limit) +
                     " printable ASCII characters, not '" + ShortenedForMessage(name) + "'");
}

// ---- setup ----

// Where a secret comes from besides the command line, which every local user can read in the
// process list and which the shell keeps in its history.
inline constexpr const char* kApKeyVariable = "ZVK_AP_KEY";
inline constexpr const char* kStationKeyVariable = "ZVK_STATION_KEY";
inline constexpr const char* kWebKeyVariable = "ZVK_WEB_KEY";
// A key file holds one short line; anything much larger is not one.
constexpr std::size_t kMaxKeyFileBytes = 4096;

// The first line of a key file (a CR before its end dropped), checked as a plain file first so
// a FIFO or a device cannot hang or flood the read.
std::string ReadKeyFile(const std::string& path, const std::string& command) {
  const std::string shown = "\"" + ShortenedForMessage(path) + "\"";
  const LocalFileCheck local = CheckLocalFile(path);
  if (local.error)
    throw Failed(command + ": cannot read the key file " + shown + ": " + *local.error +
                 "; nothing sent");
  if (local.length > kMaxKeyFileBytes)
    throw Failed(command + ": the key file " + shown + " is too large for a key; nothing sent");
  errno = 0;
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in)
    throw Failed(command + ": cannot read the key file " + shown + ": " +
                 std::generic_category().message(errno != 0 ? errno : EIO) + "; nothing sent");
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty())
    throw Failed(command + ": the key file " + shown +
                 " holds no key on its first line; nothing sent");
  return line;
}

// The key given by --key, else --key-file, else the environment variable; empty when none.
std::string KeyFrom(const std::string& key, const std::string& key_file, const char* variable,
                    const std::string& command) {
  if (!key.empty()) return key;
  if (!key_file.empty()) return ReadKeyFile(key_file, command);
  const char* value = std::getenv(variable);
  return value ? std::string(value) : std::string();
}

class SetupCommand final : public CopyableCommand<SetupCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.require_subcommand(1);
    const std::string kVisible =
        " (on the command line every local user can read it; prefer --key-file or ";
    ap_ = sub.add_subcommand(
        "ap",
        "Access point SSID and key: --ssid S (--key-file F | $ZVK_AP_KEY | --key K | --open)");
    ap_->add_option("--ssid", ssid_, "SSID, up to 31 characters")->required();
    CLI::Option* key = ap_->add_option(
        "--key", key_, "WPA/WPA2 key, 8 to 16 characters" + kVisible + kApKeyVariable + ")");
    CLI::Option* key_file = ap_->add_option(
        "--key-file", key_file_,
        std::string("File whose first line is the key (default: the environment variable ") +
            kApKeyVariable + ")");
    CLI::Option* open = ap_->add_flag("--open", open_, "No key (the key file is deleted)");
    key->excludes(open);
    key->excludes(key_file);
    key_file->excludes(open);

    station_ = sub.add_subcommand(
        "station",
        "Station SSID, key and key type: --ssid S [--key-file F | $ZVK_STATION_KEY | --key K] "
        "--type open|wep|wpa");
    station_->add_option("--ssid", ssid_, "SSID, up to 31 characters")->required();
    CLI::Option* station_key = station_->add_option(
        "--key", key_,
        "Key, 8 to 16 characters (not for open)" + kVisible + kStationKeyVariable + ")");
    station_
        ->add_option("--key-file", key_file_,
                     std::string("File whose first line is the key (default: the environment "
                                 "variable ") +
                         kStationKeyVariable + ")")
        ->excludes(station_key);
    station_->add_option("--type", type_, "open, wep or wpa")
        ->required()
        ->check(CLI::IsMember({"open", "wep", "wpa"}, CLI::ignore_case));

    static_ip_ = sub.add_subcommand("static-ip", "Station static address: IP MASK GATEWAY, or off");
    static_ip_->add_option("address", addresses_, "IP MASK GATEWAY, or off")
        ->required()
        ->expected(1, 3);

    web_key_ = sub.add_subcommand(
        "web-key", "Web login key, 1 to 5 characters (at once): --key-file F, $ZVK_WEB_KEY or KEY");
    web_key_given_ =
        web_key_->add_option("key", text_, "The key" + kVisible + kWebKeyVariable + ")");
    web_key_
        ->add_option("--key-file", key_file_,
                     std::string("File whose first line is the key (default: the environment "
                                 "variable ") +
                         kWebKeyVariable + ")")
        ->excludes(web_key_given_);

    location_ = sub.add_subcommand("location", "Location text, up to 31 characters");
    location_->add_option("text", text_, "The location")->required();

    modbus_ = sub.add_subcommand("modbus", "Modbus TCP port and idle timeout: PORT TIMEOUT");
    modbus_->add_option("port", port_, "1 to 65535, not 80 or 13577")->required();
    modbus_->add_option("timeout", timeout_, "Idle timeout in seconds, 1 to 65000")->required();
  }

  void CheckArguments() override {
    // Read before anything is sent: a key that cannot be had stops the command here.
    if (ap_->parsed() && !open_) {
      key_ = KeyFrom(key_, key_file_, kApKeyVariable, "setup ap");
      if (key_.empty())
        throw UsageError(std::string("setup ap: give a key (--key-file F or ") + kApKeyVariable +
                         ", or --key K) or --open");
    }
    if (station_->parsed() && Lower(type_) != "open")
      key_ = KeyFrom(key_, key_file_, kStationKeyVariable, "setup station");
    // A KEY given, even empty, is what the window gets and checks.
    if (web_key_->parsed() && web_key_given_->count() == 0) {
      text_ = KeyFrom(std::string(), key_file_, kWebKeyVariable, "setup web-key");
      if (text_.empty())
        throw UsageError(std::string("setup web-key: give the web key (--key-file F or ") +
                         kWebKeyVariable + ", or KEY)");
    }
    if (static_ip_->parsed() &&
        !(addresses_.size() == 3 || (addresses_.size() == 1 && addresses_[0] == "off")))
      throw UsageError("setup static-ip: give IP MASK GATEWAY, or off");
  }

  void Run(Session& s) override {
    if (ap_->parsed()) {
      ops::WriteAccessPoint(s, ssid_, open_ ? std::nullopt : std::optional<std::string>(key_));
    } else if (station_->parsed()) {
      const std::string type = Lower(type_);
      ops::WriteStation(s, ssid_, key_,
                        type == "open"  ? ops::StationKeyType::Open
                        : type == "wep" ? ops::StationKeyType::Wep
                                        : ops::StationKeyType::Wpa);
    } else if (static_ip_->parsed()) {
      std::optional<std::array<std::string, 3>> addresses;
      if (addresses_.size() == 3) addresses = {addresses_[0], addresses_[1], addresses_[2]};
      ops::WriteStaticIp(s, addresses);
    } else if (web_key_->parsed()) {
      ops::WriteWebKey(s, text_);
    } else if (location_->parsed()) {
      ops::WriteLocation(s, text_);
    } else {
      ops::WriteModbus(s, port_, timeout_);
    }
  }

 private:
  CLI::App* ap_ = nullptr;
  CLI::App* station_ = nullptr;
  CLI::App* static_ip_ = nullptr;
  CLI::App* web_key_ = nullptr;
  CLI::Option* web_key_given_ = nullptr;
  CLI::App* location_ = nullptr;
  CLI::App* modbus_ = nullptr;
  std::string ssid_, key_, key_file_, type_, text_, port_, timeout_;
  bool open_ = false;
  std::vector<std::string> addresses_;
};

// ---- device control ----

class WifiModeCommand final : public CopyableCommand<WifiModeCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("mode", mode_, "ap or station")
        ->required()
        ->check(CLI::IsMember({"ap", "station"}, CLI::ignore_case));
  }
  void Run(Session& s) override { ops::SetWifiMode(s, Lower(mode_) == "ap"); }

 private:
  std::string mode_;
};

class ResetDefaultsCommand final : public CopyableCommand<ResetDefaultsCommand> {
 public:
  void Define(CLI::App&) override {}
  void Run(Session& s) override { ops::ResetToDefaults(s); }
};

class RebootCommand final : public CopyableCommand<RebootCommand> {
 public:
  void Define(CLI::App&) override {}
  void Run(Session& s) override { ops::Reboot(s); }
};

// ---- files ----

// A bar on the terminal, redrawn where the main window would be repainted.
class ProgressBar {
 public:
  ProgressBar(Session& s, std::size_t total) : s_(s), total_(total) {}
  void Draw() {
    const Gauge& g = s_.app().gauge;
    const double done = g.max > 0 ? static_cast<double>(g.progress) / g.max : 1.0;
    const int width = 40;
    const int filled = static_cast<int>(done * width + 0.5);
    char line[128];
    std::snprintf(line, sizeof line, "\r[%s%s] %3d%% of %zu bytes",
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(width - filled), ' ').c_str(),
                  static_cast<int>(done * 100 + 0.5), total_);
    s_.err << line << std::flush;
    drawn_ = true;
  }
  void End() {
    if (drawn_) s_.err << '\n' << std::flush;
  }

 private:
  Session& s_;
  std::size_t total_;
  bool drawn_ = false;
};

class WriteFileCommand final : public CopyableCommand<WriteFileCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("name", name_, "The file's name on the module, e.g. /local/locate.cfg")
        ->required();
    sub.add_option("localfile", local_, "The file on this computer whose bytes are written")
        ->required();
  }
  void CheckArguments() override { CheckFileName(name_, kMaxWriteName, "write-file"); }
  void Run(Session& s) override {
    // Before opening: a FIFO would hang the open, a device or a folder has no length to send.
    const LocalFileCheck local = CheckLocalFile(local_);
    if (local.error)
      throw Failed("cannot read \"" + ShortenedForMessage(local_) + "\": " + *local.error +
                   "; nothing sent");
    errno = 0;
    std::ifstream in(PathFromUtf8(local_), std::ios::binary | std::ios::ate);
    // Quoted, with the reason: an empty or odd name still reads as a name.
    if (!in)
      throw Failed("cannot read \"" + ShortenedForMessage(local_) + "\": " +
                   std::generic_category().message(errno != 0 ? errno : EIO) + "; nothing sent");
    const auto size = static_cast<std::size_t>(in.tellg());
    if (size > s.app().transfer.size())
      throw Failed(ShortenedForMessage(local_) + " has " + std::to_string(size) +
                   " bytes, more than the 16777216 a transfer holds; nothing sent");
    std::vector<std::uint8_t> bytes(size);
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
      throw Failed("cannot read " + ShortenedForMessage(local_) + "; nothing sent");

    ProgressBar bar(s, size);
    try {
      ops::WriteModuleFile(
          s, name_, bytes,
          s.progress_terminal() ? std::function<void()>([&bar] { bar.Draw(); }) : nullptr);
    } catch (...) {
      bar.End();
      throw;
    }
    if (s.progress_terminal()) bar.Draw();
    bar.End();
    s.out << "Wrote " << size << " bytes to " << name_ << '\n';
  }

 private:
  std::string name_;
  std::string local_;
};

class DeleteFileCommand final : public CopyableCommand<DeleteFileCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("name", name_, "The file's name on the module")->required();
  }
  void CheckArguments() override { CheckFileName(name_, kMaxDeleteName, "delete-file"); }
  void Run(Session& s) override {
    ops::DeleteModuleFile(s, name_);
    s.out << s.app().Status() << '\n';
  }

 private:
  std::string name_;
};

template <typename T>
std::unique_ptr<Command> Make() {
  return std::make_unique<T>();
}

}  // namespace

void AddAdministrationCommands(std::vector<CommandEntry>& table) {
  const CommandEntry entries[] = {
      {"setup", kAdministration,
       "The setup window's settings: ap, station, static-ip, web-key, location, modbus", true, true,
       Make<SetupCommand>},
      {"wifi-mode", kAdministration, "Switch the module to its access point or to station mode",
       true, true, Make<WifiModeCommand>},
      {"reset-defaults", kAdministration, "Reset the module's settings to their defaults", true,
       true, Make<ResetDefaultsCommand>},
      {"reboot", kAdministration, "Restart the module", true, true, Make<RebootCommand>},
      {"write-file", kAdministration, "Write a file on the module: write-file NAME LOCALFILE",
       false, false, Make<WriteFileCommand>},
      {"delete-file", kAdministration, "Delete a file on the module: delete-file NAME", false,
       false, Make<DeleteFileCommand>},
  };
  table.insert(table.end(), std::begin(entries), std::end(entries));
}

}  // namespace zvk::cli
