#include "admin/firmware.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <numeric>

#include "admin/device_control.h"
#include "admin/local_file.h"
#include "admin/remote_files.h"
#include "link/dispatcher.h"
#include "link/exchange.h"
#include "state/app.h"
#include "util/byte_order.h"
#include "util/file_path.h"

namespace zvk {

namespace {

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::uint32_t Low32(std::uint64_t value) {
  return static_cast<std::uint32_t>(value & 0xFFFFFFFFu);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The chosen image file, opened and measured; `check.error` says why it cannot be used.
struct ImageFile {
  std::unique_ptr<std::FILE, FileCloser> file;
  ImageFileCheck check;
};

ImageFile OpenImageFile(const std::string& path) {
  ImageFile image;
  ImageFileCheck& check = image.check;
  const auto refuse = [&](const std::string& reason) {
    check.error = "Cannot open " + path + ": " + reason;
    return std::move(image);
  };
  const LocalFileCheck local = CheckLocalFile(path);
  if (local.error) return refuse(*local.error);
  image.file.reset(OpenFile(PathFromUtf8(path), "rb"));
  if (!image.file) return refuse(std::generic_category().message(errno));
  check.opened = true;
  check.length = local.length;
  if (check.length > kMaxImageLength) {
    check.error = kImageTooLong;
  } else if (check.length == 0) {
    // An empty image would replace the module's firmware with nothing.
    check.error = "Image file " + path + " is empty, Abort!";
  }
  return image;
}

}  // namespace

ImageFileCheck CheckImageFile(const std::string& path) {
  return OpenImageFile(path).check;
}

FirmwareUpdate::FirmwareUpdate(App& app) : app_(app) {}

void FirmwareUpdate::Register() {
  SetReplyHandler(app_.link, wire::CMD_GET_IMAGE_CHECKSUM, [this] { ChecksumReply(); });
  SetReissuer(app_.link, wire::CMD_GET_IMAGE_CHECKSUM,
              [this] { SendFinal(wire::CMD_GET_IMAGE_CHECKSUM); });
  SetReissuer(app_.link, wire::CMD_STAGED_IMAGE_SENT,
              [this] { SendFinal(wire::CMD_STAGED_IMAGE_SENT); });
}

bool FirmwareUpdate::LoadImage(const std::string& path) {
  ImageFile image = OpenImageFile(path);
  if (image.check.opened)
    app_.SetStatus("MCUImg FileLength => " + std::to_string(image.check.length));
  if (image.check.error) {
    app_.SetStatus(*image.check.error);
    return false;
  }
  const std::size_t length = image.check.length;
  std::uint8_t* buffer = app_.transfer.data();
  const std::size_t got = std::fread(buffer, 1, length, image.file.get());
  if (got != length) {
    const std::string reason =
        std::ferror(image.file.get())
            ? std::generic_category().message(errno)
            : "it ended after " + std::to_string(got) + " of " + std::to_string(length) + " bytes";
    app_.SetStatus("Cannot read " + path + ": " + reason);
    return false;
  }
  ImageLength = length;
  ImageChecksum = std::accumulate(buffer, buffer + length, std::uint64_t{0});
  return true;
}

void FirmwareUpdate::Run() {
  // A click that comes through the event pump while an update waits for the module would load
  // another image under the header already sent: it does nothing.
  if (running_) return;
  running_ = true;
  const std::unique_ptr<bool, void (*)(bool*)> done(&running_, [](bool* flag) { *flag = false; });
  App& app = app_;
  Link& link = app.link;
  Dialogs& dialogs = app.seams.dialogs;
  outcome = FirmwareOutcome::None;  // until the update gets somewhere
  reboot_sent = false;
  if (dialogs.MessageBox("Confirm", kUpdateQuestion, MsgIcon::Question, MsgButtons::YesNo) !=
      MsgResult::Yes) {
    outcome = FirmwareOutcome::Declined;
    return;
  }
  if (!SelectDevice(link)) {
    outcome = FirmwareOutcome::NotFound;
    return;
  }
  const std::optional<std::string> path = dialogs.OpenFile(kImageFilter);
  if (!path) {
    outcome = FirmwareOutcome::Cancelled;
    return;
  }
  if (!LoadImage(*path)) {
    outcome = FirmwareOutcome::FileRefused;
    return;
  }
  app.SetStatus("Send MCUImg CheckSum => " + Hex8(Low32(ImageChecksum)));

  const bool known = link.device.ModelKnown;
  const std::string name = known ? kSystemImageName : kStagedImageName;
  std::fill_n(link.CommandFrame.begin(), kImageHeaderLength, 0);
  PutBe32(&link.CommandFrame[wire::filecmd::kLength], static_cast<std::uint32_t>(ImageLength));
  PutBe32(&link.CommandFrame[wire::filecmd::kChecksum], Low32(ImageChecksum));
  link.CommandFrame[wire::filecmd::kNameLength] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), link.CommandFrame.begin() + wire::filecmd::kName);
  link.CommandFrame[wire::kReplyCode] =
      known ? wire::CMD_WRITE_FILE : wire::CMD_UPLOAD_STAGED_IMAGE;
  link.PendingCommand = 0;
  const bool was_busy = link.LinkBusy;
  if (!SendOnly(link, static_cast<std::uint8_t>(kImageHeaderLength))) {
    // An image without its header would reach a module that does not expect it.
    const std::string why = was_busy ? "another command is in progress" : app.Status();
    app.SetStatus("F/W header not sent (" + why + "), update stopped");
    outcome = FirmwareOutcome::HeaderNotSent;
    return;
  }

  app.gauge.SetProgress(0);
  // An image of one piece would give the gauge no span; it still runs from empty to full.
  app.gauge.max = std::max(1, static_cast<int>(ImageLength) - static_cast<int>(kStreamPiece));
  app.gauge.fore_color = kRed;
  app.seams.sleeper.SleepMs(known ? kSystemImageSettleMs : kStagedImageSettleMs);
  StreamContent(app, ImageLength, GaugeRule::PieceStart);
  // The whole image is out: the gauge shows it full through the wait that follows.
  app.gauge.SetProgress(app.gauge.max);
  if (app.repaint_main_window) app.repaint_main_window();
  app.seams.sleeper.SleepMs(kAfterImageMs);

  if (known) {
    outcome = FirmwareOutcome::Verifying;  // the checksum reply moves it on
    if (!SendFinal(wire::CMD_GET_IMAGE_CHECKSUM)) outcome = FirmwareOutcome::FinalNotSent;
  } else {
    outcome = SendFinal(wire::CMD_STAGED_IMAGE_SENT) ? FirmwareOutcome::Staged
                                                     : FirmwareOutcome::FinalNotSent;
  }
}

bool FirmwareUpdate::SendFinal(std::uint8_t code) {
  Link& link = app_.link;
  link.PendingCommand = code;
  link.CommandFrame[wire::kReplyCode] = code;
  PutBe32(&link.CommandFrame[wire::image::kFrameChecksum], Low32(ImageChecksum));
  const auto length = static_cast<std::uint8_t>(kImageFinalLength);
  return code == wire::CMD_GET_IMAGE_CHECKSUM ? Transact(link, length) : SendOnly(link, length);
}

void FirmwareUpdate::ChecksumReply() {
  Link& link = app_.link;
  const auto& reply = link.ReplyBuffer;
  link.PendingCommand = 0;
  if (reply[wire::kReplyCode] != wire::CMD_GET_IMAGE_CHECKSUM ||
      reply[wire::kReplyStatus] != wire::ACK) {
    outcome = FirmwareOutcome::Refused;
    return;
  }
  const std::uint64_t module_sum = GetBe32(&reply[wire::image::kReplyChecksum]);
  Dialogs& dialogs = app_.seams.dialogs;
  if (module_sum == ImageChecksum) {
    app_.SetStatus(kUpdateComplete);
    dialogs.MessageBox(kUpdateComplete, kUpdateComplete, MsgIcon::None, MsgButtons::Ok);
    outcome = FirmwareOutcome::Verified;
    // The handler runs while this exchange holds the link: the reboot goes out once it is free.
    AfterExchange(link, [this] { reboot_sent = static_cast<bool>(SendReboot(app_)); });
  } else {
    app_.SetStatus(kUpdateFailed);
    dialogs.FailureBox(kUpdateFailed, kUpdateFailed, MsgIcon::Error);
    outcome = FirmwareOutcome::Mismatch;
  }
}

}  // namespace zvk
