// Files on the module: writing a whole file (an announce by Transact, then the raw content on a
// second connection) and deleting one. The setup window, the calibration windows and the
// firmware update all go through here; the firmware update streams its image with
// StreamContent under an announce of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace zvk {

class App;

// A file operation that did not reach the module: the announce or the delete could not be sent
// or was not acknowledged, or the content's connection could not be opened or broke. Raised out of
// the user action that called it, which stops there; the front end shows the text in its error box.
class RemoteFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every byte of a content was written, but the module did not confirm that it took them: it
// reset the connection, or did not close its side within the bound after ours was closed. The
// module may hold all, part or none of the file.
class DeliveryNotConfirmed : public RemoteFileError {
 public:
  using RemoteFileError::RemoteFileError;
};

inline constexpr std::size_t kAnnounceLength = 60;
inline constexpr std::size_t kDeleteLength = 40;
inline constexpr std::size_t kMaxWriteName = 43;   // what fits the announce
inline constexpr std::size_t kMaxDeleteName = 23;  // what fits the delete frame
inline constexpr std::size_t kStreamPiece = 1024;
inline constexpr std::size_t kRepaintEvery = 65536;
inline constexpr int kAnnounceSettleMs = 1500;
// How long, after the last piece and the close of the sending side, the module has to close its
// side of a content's connection (it does once it has read the announced length). Generous for
// a module over Wi-Fi that still has to drain what the PC's buffers hold (on loopback several
// megabytes fit); the App carries it so a test can shorten it.
inline constexpr int kDeliveryWaitMs = 10000;

// The byte sum of a content, modulo 2^32.
std::uint32_t ContentChecksum(const std::uint8_t* bytes, std::size_t n);

// Where the gauge stands after a piece: at its end (file writes) or at its start (firmware
// images, whose display runs one piece behind).
enum class GaugeRule { PieceEnd, PieceStart };

// Streams bytes 0..n-1 of the TransferBuffer on a new connection to DeviceHost:DevicePort in
// writes of at most 1024 bytes, moving the gauge after each piece by `rule` and repainting the
// main window whenever a piece starts at a multiple of 65,536. Then it closes the sending side
// and waits, keeping the event pump running, up to App::delivery_wait_ms for the module's
// orderly close, which is the only sign that the module took the whole content; nothing else is
// read. No other exchange can start while it runs (LinkBusy is held). The caller sets the
// gauge's maximum and colour. Throws RemoteFileError when the connection cannot be opened or a
// write fails, and DeliveryNotConfirmed when everything was written but the module reset the
// connection or did not close within the bound; the gauge keeps its last position.
void StreamContent(App& app, std::size_t n, GaugeRule rule);

// Writes the first n bytes of the TransferBuffer as the module file `name` (replacing it):
// announce (60 bytes, pending command 0, a missing reply is never retried), gauge and status,
// the 1500 ms wait, then StreamContent. Throws RemoteFileError, before anything is sent, for a
// name longer than 43 bytes or n beyond the buffer; when the announce could not be sent (no
// connection, or the link busy with another exchange) or was not acknowledged (refused,
// unanswered, a wrong signature or code), with nothing streamed; and as StreamContent does.
void WriteRemoteFile(App& app, const std::string& name, std::size_t n);

// Asks the module to delete the file `name` (40 bytes, pending command 93; the frame bytes it
// does not write keep what the previous command left). Throws RemoteFileError, before anything
// is sent, for a name longer than 23 bytes, and when the frame could not be sent or was not
// acknowledged.
void DeleteRemoteFile(App& app, const std::string& name);

}  // namespace zvk
