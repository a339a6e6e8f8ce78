// Firmware images on the simulated module: both announce forms store the image, the checksum
// request is answered with its byte sum (or a fault), the staged-image notice is taken without
// a word, a command that comes while an image is still arriving waits for it, and a restart runs
// the image stored unless a restart fault has it otherwise.
#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/net.h"
#include "sim/simulator.h"
#include "util/byte_order.h"

namespace zvk::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// One client connection to the simulator on loopback, through the simulator's own socket calls.
class Peer {
 public:
  explicit Peer(std::uint16_t port) : socket_(net::ConnectLoopback(port)) {
    EXPECT_TRUE(socket_.valid());
  }

  void Send(const Bytes& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const long n = net::Send(socket_, bytes.data() + sent, bytes.size() - sent);
      if (n == net::kWouldBlock) continue;
      ASSERT_GT(n, 0) << "send failed";
      sent += static_cast<std::size_t>(n);
    }
  }
  // Ends the connection, as the utility does after a content.
  void Close() { socket_.Close(); }
  // Whether a reply byte (or the end) is there within the time.
  bool Readable(std::chrono::milliseconds within) {
    std::vector<net::PollItem> wait{{socket_.get(), true}};
    return net::Poll(wait, static_cast<int>(within.count())) && wait[0].readable;
  }
  // What comes until the simulator closes (or nothing comes for two seconds).
  Bytes ReadToEnd() {
    Bytes reply;
    while (Readable(2s)) {
      std::uint8_t buf[512];
      const long n = net::Receive(socket_, buf, sizeof buf);
      if (n == net::kWouldBlock) continue;
      if (n <= 0) break;
      reply.insert(reply.end(), buf, buf + n);
    }
    return reply;
  }

 private:
  net::Socket socket_;
};

// A frame sent on its own connection; what came back before the simulator closed it.
Bytes Exchange(std::uint16_t port, const Bytes& frame) {
  Peer peer(port);
  peer.Send(frame);
  return peer.ReadToEnd();
}

// A content sent on its own connection, which then ends.
void Stream(std::uint16_t port, const Bytes& content) {
  Peer peer(port);
  peer.Send(content);
}

Bytes Header(std::uint8_t code, const std::string& name, const Bytes& image) {
  Bytes frame(40, 0);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin());
  frame[4] = code;
  PutBe32(&frame[5], static_cast<std::uint32_t>(image.size()));
  PutBe32(&frame[9], std::accumulate(image.begin(), image.end(), std::uint32_t{0}));
  frame[16] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), frame.begin() + 17);
  return frame;
}

Bytes Final(std::uint8_t code, std::uint32_t sum) {
  Bytes frame(9, 0);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin());
  frame[4] = code;
  PutBe32(&frame[5], sum);
  return frame;
}

Bytes ChecksumReply(std::uint32_t sum) {
  Bytes reply{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_IMAGE_CHECKSUM, wire::ACK, 0, 0, 0, 0};
  PutBe32(&reply[6], sum);
  return reply;
}

const Bytes kNak37{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_IMAGE_CHECKSUM, wire::NAK};

Bytes Image(std::size_t n) {
  Bytes image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return image;
}

std::uint32_t Sum(const Bytes& bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0});
}

// Header and image as the utility sends them; waits until the module has taken the image.
void Upload(Simulator& sim, std::uint8_t code, const std::string& name, const Bytes& image) {
  const std::size_t streams = sim.Streams().size();
  Exchange(sim.Port(), Header(code, name, image));  // returns once the module has answered
  Stream(sim.Port(), image);
  ASSERT_TRUE(sim.WaitForStreams(streams + 1, 2s));
}

TEST(SimFirmware, BothAnnounceFormsStoreTheImage) {
  const Bytes image = Image(5000);
  {
    Simulator sim({});
    sim.Start();
    Upload(sim, wire::CMD_WRITE_FILE, "/sys/mcuimg.bin", image);
    EXPECT_EQ(sim.File("/sys/mcuimg.bin"), image);
    EXPECT_EQ(Exchange(sim.Port(), Final(37, Sum(image))), ChecksumReply(Sum(image)));
  }
  Simulator sim({});
  sim.Start();
  Upload(sim, wire::CMD_UPLOAD_STAGED_IMAGE, "mcuimg.bin", image);
  EXPECT_EQ(sim.File("mcuimg.bin"), image);
  // The staged image's notice gets no reply; the module only logs how the sums compared.
  for (const auto& [sum, word] : {std::pair{Sum(image), "matches"}, {Sum(image) + 1, "differs"}}) {
    EXPECT_TRUE(Exchange(sim.Port(), Final(38, sum)).empty());
    EXPECT_EQ(sim.LogLines().back(),
              std::string("staged image sent: 5000 bytes, checksum ") + word);
  }
}

TEST(SimFirmware, ChecksumRequestAnswersTheStoredImageOrAFault) {
  Simulator sim({});
  sim.Start();
  EXPECT_EQ(Exchange(sim.Port(), Final(37, 0)), kNak37);  // no image yet
  const Bytes image(2097152, 0xFF);
  Upload(sim, wire::CMD_WRITE_FILE, "/sys/mcuimg.bin", image);
  EXPECT_EQ(Exchange(sim.Port(), Final(37, 0)), ChecksumReply(0x1FE00000));

  for (const FaultRequest& f : ParseFaultList("wrongsum,refuse@37")) {
    sim.InjectFault(f.fault, f.count, f.only_code, f.delay_ms);
  }
  // Neither fault touches another command.
  const Bytes get_device{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0, 0};
  EXPECT_EQ(Exchange(sim.Port(), get_device)[wire::kReplyStatus], wire::ACK);
  EXPECT_EQ(Exchange(sim.Port(), Final(37, 0)), ChecksumReply(~std::uint32_t{0x1FE00000}));
  EXPECT_EQ(Exchange(sim.Port(), Final(37, 0)), kNak37);
  EXPECT_EQ(Exchange(sim.Port(), Final(37, 0)), ChecksumReply(0x1FE00000));
}

TEST(SimFirmware, CommandWaitsForTheImageStillArriving) {
  Simulator sim({});
  sim.Start();
  const Bytes image = Image(300000);
  Exchange(sim.Port(), Header(wire::CMD_WRITE_FILE, "/sys/mcuimg.bin", image));
  Peer stream(sim.Port());
  stream.Send(Bytes(image.begin(), image.begin() + 1000));

  Peer request(sim.Port());
  request.Send(Final(37, Sum(image)));
  EXPECT_FALSE(request.Readable(200ms));
  stream.Send(Bytes(image.begin() + 1000, image.end()));
  stream.Close();
  EXPECT_EQ(request.ReadToEnd(), ChecksumReply(Sum(image)));
  EXPECT_EQ(sim.File("/sys/mcuimg.bin"), image);
}

TEST(SimFirmware, FaultsCanBeLimitedToOneCommandCode) {
  const std::vector<FaultRequest> got = ParseFaultList("refuse@37,wrongsum@37:2,delay@216:1:900");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].fault, Fault::Refuse);
  EXPECT_EQ(got[0].only_code, 37);
  EXPECT_EQ(got[1].fault, Fault::WrongSum);
  EXPECT_EQ(got[1].count, 2);
  EXPECT_EQ(got[2].only_code, 216);
  EXPECT_EQ(got[2].delay_ms, 900);
  EXPECT_EQ(ParseFaultList("noreply").at(0).only_code, 0);
  for (const char* bad : {"refuse@", "refuse@0", "refuse@256", "refuse@x", "bogus@37", "@37"}) {
    EXPECT_THROW(ParseFaultList(bad), std::invalid_argument) << bad;
  }
}

}  // namespace
}  // namespace zvk::sim

namespace zvk::sim {
namespace {

// The firmware version in the module's identity record, "01.12".
std::string ReportedVersion(std::uint16_t port) {
  const Bytes record = Exchange(port, Bytes{0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0, 0});
  if (record.size() <= wire::devinfo::kFwMinor) return "none";
  char text[8];
  std::snprintf(text, sizeof text, "%02X.%02X", record[wire::devinfo::kFwMajor],
                record[wire::devinfo::kFwMinor]);
  return text;
}

TEST(SimFirmware, RestartRunsTheStoredImageUnlessAFaultSaysOtherwise) {
  const std::string tagged = std::string("code ") + kImageVersionTag + "02.0A more code";
  const Bytes reboot{0x5A, 0x35, 0x77, 0xA5, wire::CMD_RESET_MODULE, 0, 0};
  struct Case {
    const char* faults;
    Bytes image;
    std::string after;  // the version reported after the restart; "none": no answer
  };
  const Case cases[] = {
      {"", Bytes(tagged.begin(), tagged.end()), "02.0A"},
      {"", Image(100), "01.12"},  // an image without a version: the one before
      {"oldfirmware", Bytes(tagged.begin(), tagged.end()), "01.12"},
      {"noreturn", Bytes(tagged.begin(), tagged.end()), "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.faults) + " " + std::to_string(c.image.size()));
    Simulator sim({});
    sim.Start();
    for (const FaultRequest& f : ParseFaultList(c.faults)) sim.InjectFault(f.fault, f.count);
    Upload(sim, wire::CMD_WRITE_FILE, "/sys/mcuimg.bin", c.image);
    // Restart faults touch no reply.
    EXPECT_EQ(Exchange(sim.Port(), Final(37, 0)), ChecksumReply(Sum(c.image)));
    EXPECT_EQ(ReportedVersion(sim.Port()), "01.12");
    Exchange(sim.Port(), reboot);
    if (c.after == "none") {
      EXPECT_FALSE(net::ConnectLoopback(sim.Port()).valid());
      continue;
    }
    ASSERT_TRUE(sim.WaitUntilOnline(2s));
    EXPECT_EQ(ReportedVersion(sim.Port()), c.after);
  }
}

}  // namespace
}  // namespace zvk::sim
