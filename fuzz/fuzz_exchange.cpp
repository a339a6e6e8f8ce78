// One whole exchange against a module that misbehaves as the input says: its connect is refused,
// slow or never answered, the frame cannot be written, and the reply comes in chunks of any size,
// with stalls between them, and ends in a close, a reset or silence. The same misbehaviour meets
// every command the system has a reply handler for, and one it has none for, one after another
// in one running system, under the model the input names (one model an input keeps each input
// short enough for the fuzzer to try thousands a second).
//
// Input: [connect] [model] [steps...]
//   connect: 0 mod 8 refused, 1 mod 8 the write fails, 2 mod 8 never answered, otherwise
//            accepted after (c >> 3) * 10 ms
//   model:   the voltage module, the thermistor module or none known (m mod 3)
//   step 00-7F: the next step+1 input bytes arrive
//        80-BF: nothing for ((step & 3F) + 1) * 20 ms
//        C0-DF: a long chunk: (((step & 1F) << 8) | next) + 1 copies of the byte after
//        E0-EF: the module closes; F0-FF: it resets the connection (both end the steps)
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "fuzz/fuzz_support.h"
#include "link/exchange.h"
#include "state/app.h"

namespace zvk::fuzz {

namespace {

std::vector<harness::PeerEvent> ReplySteps(Input& in) {
  using Kind = harness::PeerEvent::Kind;
  std::vector<harness::PeerEvent> events;
  int at_ms = 1;
  while (in.left() > 0) {
    const std::uint8_t step = in.Byte();
    if (step < 0x80) {
      events.push_back({.at_ms = at_ms, .kind = Kind::Send, .bytes = in.Take(step + 1u)});
    } else if (step < 0xC0) {
      at_ms += ((step & 0x3F) + 1) * 20;
    } else if (step < 0xE0) {
      const std::size_t n = ((std::size_t{step & 0x1Fu} << 8) | in.Byte()) + 1;
      events.push_back({.at_ms = at_ms, .kind = Kind::Send, .bytes = Bytes(n, in.Byte())});
    } else {
      events.push_back({.at_ms = at_ms, .kind = step < 0xF0 ? Kind::Close : Kind::Reset});
      break;
    }
  }
  return events;
}

}  // namespace

int RunExchange(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t connect = in.Byte();
  harness::ConnectPlan plan;
  if (connect % 8 == 0)
    plan.kind = harness::ConnectPlan::Kind::Refuse;
  else if (connect % 8 == 1)
    plan.write_fails = true;
  else if (connect % 8 == 2)
    plan.kind = harness::ConnectPlan::Kind::Hang;
  else
    plan.after_ms = (connect >> 3) * 10;
  const std::uint8_t model = kModels[in.Byte() % std::size(kModels)];
  const std::vector<harness::PeerEvent> steps = ReplySteps(in);

  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  std::vector<std::uint8_t> codes = h.handled_codes();
  codes.push_back(h.UnhandledCode());
  h.window.FormCreate();
  Link& link = h.app.link;
  for (std::uint8_t code : codes) {
    AssumeModel(h, model);
    peer.connects.assign(1, plan);
    peer.replies.assign(1, steps);
    const std::size_t frames = h.network.frames.size();
    link.PendingCommand = code;
    link.CommandFrame[4] = code;
    Transact(link, wire::kLenQueued);
    h.CheckIdle("after the exchange");
    Require(h.network.frames.size() <= frames + 1, "the exchange sent more than its frame");
    Require(link.ReplyLength <= link.ReplyBuffer.size(), "the reply length exceeds the buffer");
    RequireNoViolations(h);
  }
  return 0;
}

}  // namespace zvk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zvk::fuzz::RunExchange(data, size);
}
