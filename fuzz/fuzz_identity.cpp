// The window at work: it starts, asks for the identity, and then polls, each reply taken from the
// input. A reply marked as the answer to a user's change goes to the channel setting the window
// shows instead (a Fahrenheit box, or the other sampling rate). Whatever the replies hold, the
// link ends every exchange free, every text the window shows is UTF-8, and no handler reads a
// byte that did not arrive.
//
// Input: records of [length, 16 bits big-endian; bit 15: answer to a user's change] [reply]
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::fuzz {

namespace {

// A change of a channel setting, as a user would make it, on whichever group the window shows.
void UserChange(MainForm& f, std::uint8_t which) {
  if (f.thermistor_group.visible) {
    f.fahrenheit[which % 8].UserClick();
  } else if (f.analog_group.visible) {
    (f.sampling_normal.checked() ? f.sampling_fast : f.sampling_normal).UserClick();
  }
}

}  // namespace

int RunIdentity(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  MainWindow& w = h.window;
  w.FormCreate();
  w.FormActivate();  // queues the identity request

  bool first = true;
  while (in.left() > 0) {
    const std::uint16_t header = in.Be16();
    const bool user_change = (header & 0x8000) != 0;
    peer.connects.push_back({});
    peer.replies.push_back(WholeReply(in.Take(header & 0x7FFF)));
    const std::size_t frames = h.network.frames.size();
    if (first) {
      w.Timer3Timer();  // the queue step sends the identity request
      first = false;
    } else if (user_change && h.app.device.Identified) {
      UserChange(w.form, static_cast<std::uint8_t>(header));
    }
    // Supervision ticks until something went out: the identity again, or the data poll (a
    // pending command left by a refusal is cleared on the first).
    for (int step = 0; step < 3 && h.network.frames.size() == frames; ++step) {
      h.app.discovery.SupervisionTicks = 30;
      w.Timer1Timer();
      w.Timer3Timer();
    }
    h.CheckIdle("after a reply");
    // Scripts nothing asked for are dropped, so the next reply answers the next frame.
    peer.connects.clear();
    peer.replies.clear();
  }
  RequireNoViolations(h);
  for (const std::string* text : harness::MainWindowTexts(w))
    Require(harness::IsUtf8(*text), "the window shows a text that is not UTF-8: " + *text);
  return 0;
}

}  // namespace zvk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zvk::fuzz::RunIdentity(data, size);
}
