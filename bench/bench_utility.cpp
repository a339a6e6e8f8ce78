#include "bench_utility.h"

#include <algorithm>
#include <stdexcept>

#include "link/discovery.h"
#include "link/dispatcher.h"
#include "link/wire.h"

namespace zvk::bench {

namespace {

constexpr const char* kLoopbackHost = "127.0.0.1";

std::vector<std::uint8_t> Frame(std::initializer_list<std::uint8_t> tail) {
  std::vector<std::uint8_t> frame(wire::kFrameSignature.size() + tail.size());
  std::copy(tail.begin(), tail.end(),
            std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin()));
  return frame;
}

}  // namespace

BenchUtility::BenchUtility()
    : app_(Seams{network_, pump_, sleeper_, hosts_, dialogs_}), window_(app_) {
  window_.FormCreate();
}

void BenchUtility::IdentifyOnline(std::uint16_t port) {
  app_.link.DevicePort = port;
  app_.form.Edit2.text = kLoopbackHost;
  if (!ApplyStaticIp(app_)) throw std::runtime_error("the loopback address was refused");
  window_.FormActivate();
  for (int tick = 0; tick < 40 && !app_.device.Identified; ++tick) window_.Timer3Timer();
  if (!app_.device.Identified)
    throw std::runtime_error("the simulator on port " + std::to_string(port) +
                             " was not identified: " + app_.Status());
}

void BenchUtility::IdentifyFrom(const std::vector<std::uint8_t>& identity_reply) {
  app_.link.DeviceHost = kLoopbackHost;  // the address the simulator reports
  app_.link.PendingCommand = wire::CMD_GET_DEVICE;
  std::copy(identity_reply.begin(), identity_reply.end(), app_.link.ReplyBuffer.begin());
  DispatchReply(app_, static_cast<std::uint32_t>(identity_reply.size()));
  if (!app_.device.Identified) throw std::runtime_error("the identity reply was not taken");
}

std::vector<std::uint8_t> IdentityRequestFrame() {
  return Frame({wire::CMD_GET_DEVICE, 0, 0});
}

std::vector<std::uint8_t> DataPollFrame() {
  return Frame({wire::CMD_READ_DATA});
}

}  // namespace zvk::bench
