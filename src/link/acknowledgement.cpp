#include "link/acknowledgement.h"

#include <algorithm>
#include <cstdio>

#include "link/wire.h"

namespace zvk {

namespace {

bool SignatureChecks(const Link& link) {
  return std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(),
                    link.ReplyBuffer.begin());
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

}  // namespace

bool Acknowledged(const Link& link, std::uint8_t code) {
  return NotAcknowledgedReason(link, code).empty();
}

std::string NotAcknowledgedReason(const Link& link, std::uint8_t code) {
  if (!link.ReplyDispatched) {
    if (link.ReplyTimedOut) return "no reply came (Wait RX Timeout!)";
    return "no whole reply came (the connection broke or the reply was cut short)";
  }
  if (link.ReplyLength < wire::kReplyHeaderSize) return "the reply was cut short";
  if (!SignatureChecks(link))
    return "the reply does not start with the frame signature (InValid Header package!)";
  const std::uint8_t echoed = link.ReplyBuffer[wire::kReplyCode];
  if (echoed != code)
    return "the reply is for command " + std::to_string(echoed) + ", not " + std::to_string(code);
  const std::uint8_t status = link.ReplyBuffer[wire::kReplyStatus];
  if (status != wire::ACK) return "the module refused it (status " + Hex2(status) + ")";
  return {};
}

}  // namespace zvk
