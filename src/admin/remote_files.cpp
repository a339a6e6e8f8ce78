#include "admin/remote_files.h"

#include <algorithm>
#include <chrono>
#include <numeric>

#include "link/acknowledgement.h"
#include "link/exchange.h"
#include "state/app.h"
#include "util/byte_order.h"

namespace zvk {

namespace {
using wire::filecmd::kChecksum;
using wire::filecmd::kLength;
using wire::filecmd::kName;
using wire::filecmd::kNameLength;

void CheckName(const std::string& name, std::size_t limit, const char* what) {
  if (name.size() > limit)
    throw RemoteFileError(std::string(what) + " " + name + ": the name is longer than " +
                          std::to_string(limit) + " characters; nothing sent");
}

// Byte 16: the name's length (its low 8 bits); from byte 17: the name, one byte a character.
void PutName(Link& link, const std::string& name) {
  link.CommandFrame[kNameLength] = static_cast<std::uint8_t>(name.size() & 0xFF);
  std::copy(name.begin(), name.end(), link.CommandFrame.begin() + kName);
}

// Runs Transact; when the frame did not go out, says why in the error.
void SendOrThrow(App& app, std::uint8_t length, const std::string& what) {
  const bool was_busy = app.link.LinkBusy;
  if (Transact(app.link, length)) return;
  // Otherwise Transact has put the reason on the status line ("Connect Timeout", "Link error").
  std::string why = app.Status();
  if (was_busy) why = "another command is in progress";
  if (app.seams.pump.QuitRequested()) why = "the program is ending";
  throw RemoteFileError(what + " not sent: " + why);
}

// Holds the link for the stream, so nothing the event pump runs meanwhile goes out between the
// announce and its content; the previous state comes back however the stream ends.
class HoldLink {
 public:
  explicit HoldLink(Link& link) : link_(link), was_busy_(link.LinkBusy) { link.LinkBusy = true; }
  ~HoldLink() { link_.LinkBusy = was_busy_; }
  HoldLink(const HoldLink&) = delete;
  HoldLink& operator=(const HoldLink&) = delete;

 private:
  Link& link_;
  bool was_busy_;
};

std::string FormatSeconds(int ms) {
  const std::string whole = std::to_string(ms / 1000);
  return ms % 1000 == 0 ? whole + " s" : std::to_string(ms) + " ms";
}

std::string Where(const Link& link) {
  return link.DeviceHost + ":" + std::to_string(link.DevicePort);
}

// Closes the sending side and waits for the module's close; empty when it closed in order,
// else why the content is not known to have arrived.
std::string AwaitDelivery(App& app, TcpSocket& socket) {
  Link& link = app.link;
  if (!socket.ShutdownWrite()) return "the connection failed: " + socket.LastError();
  const auto deadline = link.seams.network.Now() + std::chrono::milliseconds(app.delivery_wait_ms);
  for (;;) {
    switch (socket.WaitPeerClose(kReplyPollMs)) {
      case IoStatus::Done:
        return {};
      case IoStatus::Failed:
        return "the module ended the connection abnormally: " + socket.LastError();
      case IoStatus::Pending:
        break;
    }
    link.seams.pump.ProcessEvents();
    if (link.seams.pump.QuitRequested()) return "the program ended before the module closed";
    if (link.seams.network.Now() >= deadline)
      return "the module did not close the connection within " +
             FormatSeconds(app.delivery_wait_ms);
  }
}

}  // namespace

std::uint32_t ContentChecksum(const std::uint8_t* bytes, std::size_t n) {
  // Unsigned arithmetic wraps, which is the modulo 2^32 the module expects.
  return std::accumulate(bytes, bytes + n, std::uint32_t{0});
}

void StreamContent(App& app, std::size_t n, GaugeRule rule) {
  Link& link = app.link;
  HoldLink hold(link);
  std::string error;
  auto socket = ConnectToModule(link, &error);
  if (!socket) throw RemoteFileError("Data connection to " + Where(link) + " failed: " + error);
  const std::uint8_t* content = app.transfer.data();
  for (std::size_t offset = 0; offset < n; offset += kStreamPiece) {
    const std::size_t piece = std::min(kStreamPiece, n - offset);
    if (!socket->WriteAll(content + offset, piece)) {
      error = socket->LastError();
      socket->Close();
      // A write that returned only means the bytes reached this computer's buffers.
      throw RemoteFileError("Data connection to " + Where(link) + " broke: at most " +
                            std::to_string(offset) + " of " + std::to_string(n) +
                            " bytes reached the module (" +
                            (error.empty() ? "write failed" : error) + ")");
    }
    const std::size_t position = rule == GaugeRule::PieceEnd ? offset + piece : offset;
    app.gauge.SetProgress(static_cast<int>(position));
    if (offset % kRepaintEvery == 0 && app.repaint_main_window) app.repaint_main_window();
  }
  const std::string why = AwaitDelivery(app, *socket);
  socket->Close();
  if (!why.empty())
    throw DeliveryNotConfirmed("Data connection to " + Where(link) + ": " + std::to_string(n) +
                               " bytes sent, delivery not confirmed (" + why + ")");
}

void WriteRemoteFile(App& app, const std::string& name, std::size_t n) {
  CheckName(name, kMaxWriteName, "File");
  if (n > app.transfer.size())
    throw RemoteFileError("File " + name + ": " + std::to_string(n) +
                          " bytes do not fit the transfer buffer; nothing sent");
  Link& link = app.link;
  const std::uint32_t checksum = ContentChecksum(app.transfer.data(), n);
  std::fill_n(link.CommandFrame.begin(), kAnnounceLength, 0);
  PutBe32(&link.CommandFrame[kLength], static_cast<std::uint32_t>(n));
  PutBe32(&link.CommandFrame[kChecksum], checksum);
  app.SetStatus("Send FileName: " + name);
  PutName(link, name);
  link.PendingCommand = 0;  // no handler acts on the announce's reply
  link.CommandFrame[wire::kReplyCode] = wire::CMD_WRITE_FILE;
  SendOrThrow(app, kAnnounceLength, "File " + name);
  const std::string refused = NotAcknowledgedReason(link, wire::CMD_WRITE_FILE);
  link.ReplyTimedOut = false;  // a lost reply to the announce is never retried
  // A module that did not take the announce does not expect the content: streaming it anyway
  // would report a file written that the module never stored.
  if (!refused.empty())
    throw RemoteFileError("File " + name + " not written: its announce was not acknowledged, " +
                          refused + "; the content was not sent");

  app.gauge.SetProgress(0);
  const int count = static_cast<int>(n);
  app.gauge.max = n < kStreamPiece ? count : count - static_cast<int>(kStreamPiece);
  app.gauge.fore_color = kRed;
  app.SetStatus("Transfer Length => " + std::to_string(n));
  app.seams.sleeper.SleepMs(kAnnounceSettleMs);
  // The error names the file, so an action that writes several says which one did not arrive.
  try {
    StreamContent(app, n, GaugeRule::PieceEnd);
  } catch (const DeliveryNotConfirmed& e) {
    throw DeliveryNotConfirmed("File " + name + ": " + e.what());
  } catch (const RemoteFileError& e) {
    throw RemoteFileError("File " + name + ": " + e.what());
  }
}

void DeleteRemoteFile(App& app, const std::string& name) {
  CheckName(name, kMaxDeleteName, "Delete of");
  Link& link = app.link;
  app.SetStatus("Del File: " + name);
  PutName(link, name);
  link.PendingCommand = wire::CMD_DELETE_FILE;
  link.CommandFrame[wire::kReplyCode] = wire::CMD_DELETE_FILE;
  SendOrThrow(app, kDeleteLength, "Delete of " + name);
  const std::string refused = NotAcknowledgedReason(link, wire::CMD_DELETE_FILE);
  if (!refused.empty())
    throw RemoteFileError("Delete of " + name + " not acknowledged: " + refused);
}

}  // namespace zvk
