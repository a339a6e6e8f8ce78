// Arbitrary bytes as the reply to each command the assembled system has a reply handler for, and
// to one it has none for, under each model (the voltage module, the thermistor module, none
// known yet): every input is tried on every pair, one after another in one running system, as a
// program meets replies. The reply arrives whole; the window's timers then run a few ticks, so
// whatever a handler queued goes out (to a module that is gone by then).
//
// Input: [flags; bit 0: the module keeps the connection open] [reply...]
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "link/exchange.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::fuzz {

int RunReply(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const bool keep_open = (in.Byte() & 1) != 0;
  const Bytes reply = in.Rest();
  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  std::vector<std::uint8_t> codes = h.handled_codes();
  codes.push_back(h.UnhandledCode());
  h.window.FormCreate();
  Link& link = h.app.link;
  for (std::uint8_t model : kModels) {
    for (std::uint8_t code : codes) {
      AssumeModel(h, model);
      peer.connects.assign(1, {});
      peer.replies.assign(1, WholeReply(reply, !keep_open));
      const std::size_t frames = h.network.frames.size();
      link.PendingCommand = code;
      link.CommandFrame[4] = code;
      Transact(link, wire::kLenQueued);
      h.CheckIdle("after the exchange");
      Require(h.network.frames.size() == frames + 1, "the exchange sent more than its frame");
      peer.connects.clear();
      for (int tick = 0; tick < 3; ++tick) {
        h.window.Timer1Timer();
        h.window.Timer3Timer();
        h.CheckIdle("after a tick");
      }
      RequireNoViolations(h);
    }
  }
  for (const std::string* text : harness::MainWindowTexts(h.window))
    Require(harness::IsUtf8(*text), "the window shows a text that is not UTF-8: " + *text);
  return 0;
}

}  // namespace zvk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zvk::fuzz::RunReply(data, size);
}
