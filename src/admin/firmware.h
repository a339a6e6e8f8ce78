// The firmware update started by the setup window's Image1: the image file is loaded into the
// TransferBuffer and summed, a 40-byte header announces it, the image follows on a second
// connection in 1024-byte pieces, and a final 9-byte command closes the upload. A module of a
// known model is asked for the checksum of the image it stored (37), and its answer decides
// between success (then the module is rebooted) and failure; any other module is only told that
// the staged image was sent (38).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zvk {

class App;

inline constexpr std::size_t kMaxImageLength = 2097152;  // 2 MiB
inline constexpr std::size_t kImageHeaderLength = 40;
inline constexpr std::size_t kImageFinalLength = 9;
inline constexpr int kSystemImageSettleMs = 2500;  // between header and image, known model
inline constexpr int kStagedImageSettleMs = 1000;  // the same for any other module
inline constexpr int kAfterImageMs = 2000;         // between the image and the final command

inline constexpr const char* kSystemImageName = "/sys/mcuimg.bin";
inline constexpr const char* kStagedImageName = "mcuimg.bin";
inline constexpr const char* kImageFilter = "bin|*.bin";

inline constexpr const char* kUpdateQuestion = "F/W Update, execute?";
inline constexpr const char* kImageTooLong = "File Lengths > Buffer Size, Abort!";
inline constexpr const char* kUpdateComplete = "F/W update Complete! Reboot to take effect";
inline constexpr const char* kUpdateFailed = "Update F/W fail with Error! Please retry again.";

// How the last update ended (or where it stands), for front ends that report it.
enum class FirmwareOutcome {
  None,           // no update yet
  Declined,       // No at the question: nothing sent
  NotFound,       // the connection check failed: nothing sent, the main window shows why
  Cancelled,      // the file dialog was cancelled: nothing sent
  FileRefused,    // the file could not be used (unreadable, empty, too long): nothing sent
  HeaderNotSent,  // the header did not reach the module: nothing more sent
  FinalNotSent,   // the image went out, the final command could not be sent
  Verifying,      // the checksum request went out; no reply has been handled yet
  Verified,       // the module's checksum matched: success box, reboot requested
  Mismatch,       // the module's checksum differed: failure box
  Refused,        // the checksum reply carried another code or status: nothing shown
  Staged,         // a module of unknown model took header, image and final command
};

// An image file as the update checks it before anything is sent: a plain file that opens and
// holds 1 to 2,097,152 bytes.
struct ImageFileCheck {
  bool opened = false;  // the length is known
  std::size_t length = 0;
  std::optional<std::string> error;  // the status-line text: the file and the reason
};
ImageFileCheck CheckImageFile(const std::string& path);

class FirmwareUpdate {
 public:
  explicit FirmwareUpdate(App& app);
  FirmwareUpdate(const FirmwareUpdate&) = delete;
  FirmwareUpdate& operator=(const FirmwareUpdate&) = delete;

  // Registers the checksum reply handler (pending command 37) and the re-issuers of 37 and 38
  // with the link; called once when the system is assembled.
  void Register();

  // The whole update, as the setup window's Image1 click runs it; while it runs, another Run
  // does nothing. A data connection that cannot be opened or breaks, or an image the module did
  // not confirm taking (DeliveryNotConfirmed), raises RemoteFileError out of here (after the
  // gauge stopped) before the final command, as file writes do; the front end shows it in its
  // error box.
  void Run();

  // The byte sum of the last image, kept for the re-issues of the final command.
  std::uint64_t ImageChecksum = 0;
  std::size_t ImageLength = 0;
  FirmwareOutcome outcome = FirmwareOutcome::None;
  // Whether the reboot after a verified image went out (a front end reports it).
  bool reboot_sent = false;

 private:
  // Loads the image into the TransferBuffer; false, with the reason on the status line, when
  // the file cannot be used.
  bool LoadImage(const std::string& path);
  // Step 16: the 9-byte final command (37 by Transact, 38 by SendOnly); also the re-issue.
  bool SendFinal(std::uint8_t code);
  void ChecksumReply();

  App& app_;
  bool running_ = false;
};

}  // namespace zvk
