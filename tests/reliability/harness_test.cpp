// The harnesses' own detectors: a reply handed to its handler with fewer bytes than its layout,
// a buffer that differs from the bytes that arrived, and, under AddressSanitizer, a handler
// reading a reply byte that did not arrive, are each caught.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/harness_system.h"
#include "link/dispatcher.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "state/app.h"

namespace zvk::harness {
namespace {

// A module that takes every connection and answers every frame with `reply`, then closes.
class OneReply final : public Peer {
 public:
  explicit OneReply(Bytes reply) : reply_(std::move(reply)) {}
  ConnectPlan Connect() override { return {}; }
  std::vector<PeerEvent> Frame(const Bytes&) override {
    return {{.at_ms = 1, .bytes = reply_}, {.at_ms = 2, .kind = PeerEvent::Kind::Close}};
  }

 private:
  Bytes reply_;
};

bool Reports(const HarnessSystem& h, const std::string& part) {
  return std::any_of(h.violations().begin(), h.violations().end(),
                     [&](const std::string& v) { return v.find(part) != std::string::npos; });
}

TEST(Harness, ReplyShorterThanItsLayoutOrUnlikeWhatArrivedIsReported) {
  const Bytes header{0x5A, 0x35, 0x77, 0xA5, wire::CMD_READ_DATA, wire::ACK};
  struct Case {
    const char* name;
    std::uint8_t model;
    Bytes arrived;    // what the network delivered
    Bytes in_buffer;  // what the handler finds
    const char* report;
  };
  Bytes block = header;
  block.resize(wire::data::kQn6BlockSize);
  Bytes altered = block;
  altered[20] ^= 1;
  const Case cases[] = {
      {"header alone for a data block", wire::kModelQn6, header, header, "which reads 198"},
      {"thermistor block as a voltage block", wire::kModelKm3, block, block, "which reads 204"},
      {"a byte changed on its way", wire::kModelQn6, block, altered, "differs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneReply peer({});
    HarnessSystem h(peer);
    h.app.device.ModelCode = c.model;
    h.app.link.PendingCommand = wire::CMD_READ_DATA;
    h.network.delivered = c.arrived;
    std::copy(c.in_buffer.begin(), c.in_buffer.end(), h.app.link.ReplyBuffer.begin());
    DispatchReply(h.app.link, static_cast<std::uint32_t>(c.in_buffer.size()));
    EXPECT_TRUE(Reports(h, c.report));
  }
}

// Command `code` sent with `length` and its reply come back whole: the reply is dispatched once
// and the harness reports nothing.
void ExpectWholeReplyNotReported(HarnessSystem& h, std::uint8_t code, std::uint32_t length) {
  h.app.link.PendingCommand = code;
  h.app.link.CommandFrame[4] = code;
  Transact(h.app.link, length);
  EXPECT_EQ(h.dispatches, 1);
  EXPECT_EQ(h.violations(), std::vector<std::string>{});
}

TEST(Harness, WholeReplyOfTheRightLayoutIsNotReported) {
  Bytes block{0x5A, 0x35, 0x77, 0xA5, wire::CMD_READ_DATA, wire::ACK};
  block.resize(wire::data::kQn6BlockSize);
  OneReply peer(block);
  HarnessSystem h(peer);
  ExpectWholeReplyNotReported(h, wire::CMD_READ_DATA, wire::kLenReadData);
}

// An unknown model's identity reply is whole once its model code arrived: nothing past the code
// may be read (under AddressSanitizer a read there stops the run).
TEST(Harness, IdentityOfAnUnknownModelIsReadNoFurtherThanItsCode) {
  Bytes reply{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, wire::ACK};
  reply.resize(wire::devinfo::kModel + 1, 0);
  reply[wire::devinfo::kModel] = 0x42;
  OneReply peer(reply);
  HarnessSystem h(peer);
  ExpectWholeReplyNotReported(h, wire::CMD_GET_DEVICE, wire::kLenQueued);
  EXPECT_FALSE(h.app.device.ModelKnown);
}

TEST(HarnessDeathTest, ReadingAReplyByteThatDidNotArriveFailsUnderAddressSanitizer) {
  OneReply peer({0x5A, 0x35, 0x77, 0xA5, 48, wire::ACK, 1, 2, 3});
  HarnessSystem h(peer);
  if (!h.network.watch.poisoning()) GTEST_SKIP() << "needs AddressSanitizer";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  volatile std::uint8_t seen = 0;
  SetReplyHandler(h.app.link, 48, [&] { seen = h.app.link.ReplyBuffer[9]; });
  h.app.link.PendingCommand = 48;
  EXPECT_DEATH(Transact(h.app.link, wire::kLenQueued), "use-after-poison");
  SetReplyHandler(h.app.link, 48, [&] { seen = h.app.link.ReplyBuffer[8]; });
  Transact(h.app.link, wire::kLenQueued);  // the last byte that came is readable
  EXPECT_EQ(seen, 3);
}

}  // namespace
}  // namespace zvk::harness
