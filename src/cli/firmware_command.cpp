// `zvk firmware FILE`: the setup window's firmware button with FILE as the file dialog's answer,
// the gauge as a progress bar on a terminal, and the update's outcome as the exit status.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "admin/firmware.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/session.h"
#include "util/byte_order.h"

namespace zvk::cli {

namespace {

constexpr const char* kAdministration = "Administration";
constexpr int kBarWidth = 30;
// The main window's Timer1 period: its retry step re-issues an unanswered checksum request
// 40 ticks (4 s) after the wait ran out, at most three times, and the command runs the same
// ticks, so an unanswered request is given up about 13 s after the first went out.
constexpr int kTimer1Ms = 100;

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// The setup window's gauge drawn on a terminal line wherever the window repaints; the line ends
// when the bar is full, or when it goes.
class ProgressBar {
 public:
  ProgressBar(Session& s, std::size_t length) : s_(s), length_(length) {
    if (s.progress_terminal()) s.app().repaint_main_window = [this] { Draw(); };
  }
  ~ProgressBar() {
    s_.app().repaint_main_window = nullptr;
    if (drawn_) s_.err << '\n' << std::flush;
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

 private:
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
    s.dialogs().file_argument = file_;
    s.OpenSetupWindow();
    ExchangeRecord record;
    {
      ProgressBar bar(s, length_);
      record = s.Observe([&s] { s.setup().form.Image1.UserClick(); });
    }
    AwaitChecksumReply(s);
    s.setup().FormClose();
    Report(s, record, not_identified);
  }

 private:
  // A module that needs longer to sum the image than one reply wait is asked again, by the
  // window's own retry step, until it answers or the step gives up.
  void AwaitChecksumReply(Session& s) {
    App& app = s.app();
    const FirmwareUpdate& fw = s.system().firmware;
    while (fw.outcome == FirmwareOutcome::Verifying && app.link.ReplyTimedOut &&
           app.link.PendingCommand == wire::CMD_GET_IMAGE_CHECKSUM) {
      app.seams.sleeper.SleepMs(kTimer1Ms);
      s.window().Timer1Timer();
      reissues_ = std::max(reissues_, static_cast<int>(app.link.RetryCount));
    }
  }

  void Report(Session& s, const ExchangeRecord& record,
              const std::optional<std::string>& not_identified) {
    const App& app = s.app();
    const FirmwareUpdate& fw = s.system().firmware;
    const std::uint8_t* reply = app.link.ReplyBuffer.data();
    const std::string sum = Hex(static_cast<unsigned>(fw.ImageChecksum), 8);
    switch (fw.outcome) {
      case FirmwareOutcome::Verified:
        if (fw.reboot_sent) {
          s.out << "Reboot sent\n";
        } else {
          s.err << "zvk: the reboot was not sent (" << app.Status()
                << "); restart the module to run the new image\n";
        }
        return;
      case FirmwareOutcome::Staged:
        if (not_identified)
          s.err << "zvk: the module did not identify itself (" << *not_identified << ")\n";
        s.out << "Image sent as " << kStagedImageName << ": " << fw.ImageLength
              << " bytes, checksum " << sum
              << "; a module of unknown model gives no verification of it\n";
        return;
      case FirmwareOutcome::Mismatch:
        throw Failed("the module's checksum of the stored image is " +
                     Hex(GetBe32(reply + wire::image::kReplyChecksum), 8) + ", the file's is " +
                     sum);
      case FirmwareOutcome::Refused:
        throw Failed("the module refused the image checksum request (reply code 0x" +
                     Hex(reply[wire::kReplyCode], 2) + ", status 0x" +
                     Hex(reply[wire::kReplyStatus], 2) + ")");
      case FirmwareOutcome::Verifying:
        if (reissues_ > 0)
          throw Failed("no reply from the module to the image checksum request, sent " +
                       std::to_string(reissues_ + 1) + " times 4 s apart (Wait RX Timeout!)");
        s.RequireAcknowledged(record, wire::CMD_GET_IMAGE_CHECKSUM, "the image checksum request");
        throw Failed("the module did not answer the image checksum request");
      case FirmwareOutcome::FinalNotSent:
        throw Failed("the image was sent, but not the command that ends the upload (" +
                     app.Status() + ")");
      case FirmwareOutcome::HeaderNotSent:
        throw Failed(app.Status());
      case FirmwareOutcome::FileRefused:
        throw Failed("input refused: " + app.Status() + "; nothing sent");
      case FirmwareOutcome::NotFound:
        throw Failed(s.NotFoundReason());
      case FirmwareOutcome::Declined:
        throw Failed("the update was not confirmed; nothing sent");
      case FirmwareOutcome::Cancelled:
      case FirmwareOutcome::None:
        break;
    }
    throw Failed("the update did not run");
  }

  std::string file_;
  std::size_t length_ = 0;
  bool unverified_ = false;
  int reissues_ = 0;  // of the checksum request, by the retry step
};

}  // namespace

void AddFirmwareCommand(std::vector<CommandEntry>& table) {
  table.push_back({"firmware", kAdministration,
                   "Replace the module's firmware with an image file: firmware FILE", false, true,
                   [] { return std::unique_ptr<Command>(std::make_unique<FirmwareCommand>()); }});
}

}  // namespace zvk::cli
