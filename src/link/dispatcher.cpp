#include "link/dispatcher.h"

#include <algorithm>
#include <utility>

#include "link/wire.h"

namespace zvk {

void SetReplyHandler(Link& link, std::uint8_t code, LinkCallback handler) {
  link.reply_handlers[code] = std::move(handler);
}

void DispatchReply(Link& link, std::uint32_t length) {
  link.ReplyTimedOut = false;
  link.ReplyLength = length;
  if (length == 0) return;
  const auto& reply = link.ReplyBuffer;
  // A reply too short to hold the signature is refused like one whose signature differs.
  if (length < wire::kFrameSignature.size() ||
      !std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), reply.begin())) {
    link.reporter.SetStatus("InValid Header package!");
    return;
  }
  if (const LinkCallback& handler = link.reply_handlers[link.PendingCommand]) handler();
}

}  // namespace zvk
