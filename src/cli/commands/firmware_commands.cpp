// `zvk firmware FILE`: the setup window's firmware button with FILE as the file dialog's answer,
// the gauge as a progress bar on a terminal, and the update's outcome as the exit status.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "admin/firmware.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "operations/operations.h"

namespace zvk::cli {

namespace {

constexpr const char* kFirmware = "Firmware";
constexpr int kBarWidth = 30;

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// The setup window's gauge drawn on a terminal line wherever the window repaints; the line ends
// when the bar is full, or when it goes.
class ProgressBar {
 public:
  ProgressBar(Session& s, std::size_t length) : s_(s), length_(length) {}
  ~ProgressBar() {
    if (drawn_) s_.err << '\n' << std::flush;
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Draw() {
    const Gauge& gauge = s_.app().gauge;
    const int span = gauge.max > gauge.min ? gauge.max - gauge.min : 1;
    const int percent = (gauge.progress - gauge.min) * 100 / span;
    const int filled = percent * kBarWidth / 100;
    const std::string pad = percent < 10 ? "  " : percent < 100 ? " " : "";
    s_.err << "\rF/W image [" << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(kBarWidth - filled), '-') << "] " << pad
           << percent << "% of " << length_ << " bytes";
    // Full: the image is out, and what the update prints next starts on a line of its own.
    drawn_ = percent < 100;
    s_.err << (drawn_ ? "" : "\n") << std::flush;
  }

 private:
  Session& s_;
  std::size_t length_;
  bool drawn_ = false;
};

class FirmwareCommand final : public CopyableCommand<FirmwareCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("FILE", file_, "The image file (.bin), 1 to 2097152 bytes")->required();
    sub.add_flag("--unverified", unverified_,
                 "Send the image to a module that does not identify itself, which cannot "
                 "confirm what it stored");
  }

  // The update's own file checks, before anything is sent (the identity request included).
  void CheckInput(Session&) override {
    const ImageFileCheck check = CheckImageFile(file_);
    if (!check.error) {
      length_ = check.length;
      return;
    }
    if (check.opened && check.length > kMaxImageLength)
      throw Failed("input refused: " + file_ + " holds " + std::to_string(check.length) +
                   " bytes, more than the " + std::to_string(kMaxImageLength) +
                   " an image may have (" + kImageTooLong + "); nothing sent");
    throw Failed("input refused: " + *check.error + "; nothing sent");
  }

  void Run(Session& s) override {
    // A module that does not identify itself still takes the image, the way for a module of
    // unknown model.
    std::optional<std::string> not_identified;
    try {
      s.Identify();
    } catch (const CliError& e) {
      not_identified = e.what();
    }
    // Only an identified module reports the sum of what it stored; sending blind is the user's
    // explicit choice.
    if (not_identified && !unverified_)
      throw Failed("the module did not identify itself (" + *not_identified +
                   "), so no verification of the image is possible; give --unverified to send "
                   "it anyway; nothing sent");
    std::optional<ProgressBar> bar(std::in_place, s, length_);
    const FirmwareOutcome outcome = ops::UpdateFirmware(
        s, file_, s.progress_terminal() ? std::function<void()>([&bar] { bar->Draw(); }) : nullptr,
        [&bar] { bar.reset(); });
    const App& app = s.app();
    const FirmwareUpdate& fw = s.system().firmware;
    if (outcome == FirmwareOutcome::Staged) {
      if (not_identified)
        s.err << "zvk: the module did not identify itself (" << *not_identified << ")\n";
      s.out << "Image sent as " << kStagedImageName << ": " << fw.ImageLength << " bytes, checksum "
            << Hex(static_cast<unsigned>(fw.ImageChecksum), 8)
            << "; a module of unknown model gives no verification of it\n";
    } else if (fw.reboot_sent) {
      s.out << "Reboot sent\n";
    } else {
      s.err << "zvk: the reboot was not sent (" << app.Status()
            << "); restart the module to run the new image\n";
    }
  }

 private:
  std::string file_;
  std::size_t length_ = 0;
  bool unverified_ = false;
};

}  // namespace

void AddFirmwareCommands(std::vector<CommandEntry>& table) {
  table.push_back({"firmware", kFirmware,
                   "Replace the module's firmware with an image file: firmware FILE", false, true,
                   [] { return std::unique_ptr<Command>(std::make_unique<FirmwareCommand>()); }});
}

}  // namespace zvk::cli
