#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "link/wire.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::fuzz {

harness::ConnectPlan ScriptPeer::Connect() {
  if (connects.empty()) return {.kind = harness::ConnectPlan::Kind::Refuse};
  harness::ConnectPlan plan = connects.front();
  connects.pop_front();
  return plan;
}

std::vector<harness::PeerEvent> ScriptPeer::Frame(const Bytes&) {
  if (replies.empty()) return {};
  std::vector<harness::PeerEvent> events = std::move(replies.front());
  replies.pop_front();
  return events;
}

std::vector<harness::PeerEvent> AckPeer::Frame(const Bytes& frame) {
  if (frame.size() <= wire::kReplyCode ||
      !std::equal(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin()))
    return {};
  return WholeReply({0x5A, 0x35, 0x77, 0xA5, frame[wire::kReplyCode], wire::ACK});
}

std::vector<harness::PeerEvent> WholeReply(Bytes reply, bool close) {
  std::vector<harness::PeerEvent> events;
  events.push_back({.at_ms = 1, .kind = harness::PeerEvent::Kind::Send, .bytes = std::move(reply)});
  if (close) events.push_back({.at_ms = 2, .kind = harness::PeerEvent::Kind::Close});
  return events;
}

std::uint8_t Input::Byte() {
  return pos_ < size_ ? data_[pos_++] : 0;
}

std::uint16_t Input::Be16() {
  const std::uint16_t high = Byte();
  return static_cast<std::uint16_t>((high << 8) | Byte());
}

Bytes Input::Take(std::size_t n) {
  if (n > left()) n = left();
  Bytes bytes(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return bytes;
}

Bytes Input::Rest() {
  return Take(left());
}

void Require(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "zvk fuzz: %s\n", what.c_str());
  std::abort();
}

void RequireNoViolations(const harness::HarnessSystem& h) {
  if (h.violations().empty()) return;
  for (const std::string& v : h.violations()) std::fprintf(stderr, "zvk fuzz: %s\n", v.c_str());
  std::abort();
}

void AssumeModel(harness::HarnessSystem& h, std::uint8_t model) {
  DeviceConfig& device = h.app.device;
  device.ModelCode = model;
  device.ModelKnown = model != 0;
  device.Identified = model != 0;
  device.DeviceInfoLoaded = model != 0;
  ApplyModelLayout(h.window.form, model);
}

}  // namespace zvk::fuzz
