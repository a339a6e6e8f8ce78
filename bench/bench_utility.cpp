#include "bench_utility.h"

#include <algorithm>
#include <stdexcept>

#include "link/discovery.h"
#include "link/dispatcher.h"
#include "link/wire.h"
#include "monitor/supervision.h"

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

BenchUtility::BenchUtility() : system_(Seams{network_, pump_, sleeper_, hosts_, dialogs_}) {
  window().FormCreate();
}

void BenchUtility::IdentifyOnline(std::uint16_t port) {
  app().link.DevicePort = port;
  window().form.device_ip.text = kLoopbackHost;
  if (!ApplyStaticIp(app(), window().form))
    throw std::runtime_error("the loopback address was refused");
  window().FormActivate();
  for (int tick = 0; tick < 40 && !app().device.Identified; ++tick) window().Timer3Timer();
  if (!app().device.Identified)
    throw std::runtime_error("the simulator on port " + std::to_string(port) +
                             " was not identified: " + app().Status());
}

void BenchUtility::IdentifyFrom(const std::vector<std::uint8_t>& identity_reply) {
  app().link.DeviceHost = kLoopbackHost;  // the address the simulator reports
  app().link.PendingCommand = wire::CMD_GET_DEVICE;
  std::copy(identity_reply.begin(), identity_reply.end(), app().link.ReplyBuffer.begin());
  DispatchReply(app().link, static_cast<std::uint32_t>(identity_reply.size()));
  if (!app().device.Identified) throw std::runtime_error("the identity reply was not taken");
}

std::vector<std::uint8_t> IdentityRequestFrame() {
  return Frame({wire::CMD_GET_DEVICE, 0, 0});
}

std::vector<std::uint8_t> DataPollFrame() {
  return Frame({wire::CMD_READ_DATA});
}

}  // namespace zvk::bench
