// `zvk firmware FILE`: the setup window's firmware button with FILE as the file dialog's answer,
// the gauge as a progress bar on a terminal, and the update's outcome as the exit status. With
// --version and --model, a staged rollout over the listed modules (cli/staged_firmware.h).
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
#include "cli/staged_firmware.h"
#include "operations/operations.h"
#include "rollout/plan.h"

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
    version_ = sub.add_option("--version", version_text_,
                              "Staged rollout over the listed modules: the version the image "
                              "brings (as zvk info shows it, 01.13); needs --model")
                   ->type_name("VERSION");
    model_ = sub.add_option("--model", model_text_,
                            "Staged rollout: the model the image is for, km3 or qn6; needs "
                            "--version")
                 ->type_name("MODEL");
    staged_options_.push_back(
        sub.add_option("--canary", staged_.canary,
                       "Staged rollout: modules updated alone first, 0 for none")
            ->capture_default_str());
    staged_options_.push_back(
        sub.add_option("--batch", staged_.batch,
                       "Staged rollout: modules updated together after the canary, at least 1")
            ->capture_default_str());
    staged_options_.push_back(
        sub.add_option("--pause", staged_.pause_s,
                       "Staged rollout: seconds between the canary and each batch")
            ->type_name("S")
            ->capture_default_str());
    staged_options_.push_back(
        sub.add_option("--return-wait", staged_.return_wait_s,
                       "Staged rollout: seconds a rebooted module has to come back with the "
                       "new version")
            ->type_name("S")
            ->capture_default_str());
    staged_options_.push_back(
        sub.add_flag("--dry-run", staged_.dry_run,
                     "Staged rollout: identify the modules and show the plan; send nothing else"));
    staged_options_.push_back(
        sub.add_option("--history", history_,
                       "Staged rollout: append a JSON line a module and attempt to FILE")
            ->type_name("FILE"));
    staged_options_.push_back(
        sub.add_option(
               "--resume", resume_,
               "Staged rollout: continue the rollout of this history FILE, skipping the modules it "
               "holds as updated")
            ->type_name("FILE"));
  }

  void CheckArguments() override {
    const bool staged = staged_mode();
    if (!staged) {
      for (const CLI::Option* option : staged_options_)
        if (option->count() > 0)
          throw UsageError(option->get_name() +
                           " belongs to a staged rollout: give --version "
                           "and --model");
      return;
    }
    if (version_->count() == 0 || model_->count() == 0)
      throw UsageError("a staged rollout needs both --version and --model");
    if (unverified_) throw UsageError("--unverified has no place in a staged rollout");
    const std::optional<std::string> version = rollout::NormalVersion(version_text_);
    if (!version) throw UsageError("--version " + version_text_ + ": not a version such as 01.13");
    const std::optional<std::uint8_t> model = rollout::ModelCodeOf(model_text_);
    if (!model) throw UsageError("--model " + model_text_ + ": km3 or qn6");
    if (staged_.batch < 1) throw UsageError("--batch must be at least 1");
    if (!(staged_.pause_s >= 0 && staged_.pause_s <= 86400))
      throw UsageError("--pause must be 0 to 86400 seconds");
    if (!(staged_.return_wait_s >= 1 && staged_.return_wait_s <= 3600))
      throw UsageError("--return-wait must be 1 to 3600 seconds");
    staged_.version = *version;
    staged_.model = *model;
    staged_.image = file_;
    if (!history_.empty()) staged_.history = history_;
    if (!resume_.empty()) staged_.resume = resume_;
    CheckStagedInput(staged_);
  }

  bool LooksOnly() const override { return staged_mode() && staged_.dry_run; }
  bool RunsOnManyTogether() const override { return staged_mode(); }
  bool NeedsListedModules() const override { return staged_mode(); }
  int RunOnMany(const std::vector<std::string>& labels, const SessionMaker& open, std::ostream& out,
                std::ostream& err) override {
    return RunStagedFirmware(staged_, labels, open, out, err);
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
  bool staged_mode() const {
    return (version_ && version_->count() > 0) || (model_ && model_->count() > 0);
  }

  std::string file_;
  std::size_t length_ = 0;
  bool unverified_ = false;
  // The staged rollout's options (owned by the parser, which outlives every copy's use).
  CLI::Option* version_ = nullptr;
  CLI::Option* model_ = nullptr;
  std::vector<CLI::Option*> staged_options_;
  std::string version_text_, model_text_, history_, resume_;
  StagedOptions staged_;
};

}  // namespace

void AddFirmwareCommands(std::vector<CommandEntry>& table) {
  table.push_back({"firmware", kFirmware,
                   "Replace the module's firmware with an image file: firmware FILE; with "
                   "--version and --model, a staged rollout over the listed modules",
                   false, true,
                   [] { return std::unique_ptr<Command>(std::make_unique<FirmwareCommand>()); }});
}

}  // namespace zvk::cli
