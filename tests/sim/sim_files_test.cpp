// The simulated module's file system: an announce and the content that follows it on the next
// connection, length and byte-sum checks, deletes, names that cannot leave the directory.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "link/wire.h"
#include "sim/file_store.h"
#include "sim/net.h"
#include "sim/simulator.h"
#include "util/byte_order.h"

namespace zvk::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Whether the simulator takes a connection on `port` now.
bool Connects(std::uint16_t port) {
  return net::ConnectLoopback(port).valid();
}

void SendAll(const net::Socket& socket, const Bytes& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const long n = net::Send(socket, bytes.data() + sent, bytes.size() - sent);
    ASSERT_GT(n, 0) << "send failed";
    sent += static_cast<std::size_t>(n);
  }
}

// Sends a frame on a new loopback connection and reads until the simulator closes it.
Bytes Ask(std::uint16_t port, const Bytes& frame) {
  const net::Socket socket = net::ConnectLoopback(port);
  EXPECT_TRUE(socket.valid());
  if (!socket.valid()) return {};
  SendAll(socket, frame);
  Bytes reply;
  for (;;) {
    std::vector<net::PollItem> wait{{socket.get(), true}};
    if (!net::Poll(wait, 2000) || !wait[0].readable) break;
    std::uint8_t buf[512];
    const long n = net::Receive(socket, buf, sizeof buf);
    if (n == net::kWouldBlock) continue;
    if (n <= 0) break;
    reply.insert(reply.end(), buf, buf + n);
  }
  return reply;
}

// Sends a file's content on a new loopback connection and closes it, as the utility does.
void Stream(std::uint16_t port, const Bytes& content) {
  const net::Socket socket = net::ConnectLoopback(port);
  ASSERT_TRUE(socket.valid());
  SendAll(socket, content);
}

// A file frame: 60 bytes for a write announce, 40 for a delete.
Bytes FileFrame(std::uint8_t code, const std::string& name, std::uint32_t length = 0,
                std::uint32_t sum = 0) {
  Bytes frame(std::max<std::size_t>(code == wire::CMD_WRITE_FILE ? 60 : 40, 17 + name.size()), 0);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), frame.begin());
  frame[4] = code;
  PutBe32(&frame[5], length);
  PutBe32(&frame[9], sum);
  frame[16] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), frame.begin() + 17);
  return frame;
}

std::uint8_t Status(const Bytes& reply) {
  return reply.size() > wire::kReplyStatus ? reply[wire::kReplyStatus] : 0;
}

TEST(SimFiles, ContentIsStoredOnlyWhenLengthAndSumMatch) {
  struct Case {
    const char* name;
    Bytes content;
    bool stored;
  };
  const Case cases[] = {
      {"matches", {'a', 'b', 'c'}, true},
      {"one byte short", {'a', 'b'}, false},
      // The module reads the announced length and no more, then closes.
      {"one byte more", {'a', 'b', 'c', 0}, true},
      {"wrong sum", {'a', 'b', 'd'}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Simulator sim({});
    const std::uint16_t port = sim.Start();
    EXPECT_EQ(Status(Ask(port, FileFrame(wire::CMD_WRITE_FILE, "/local/locate.cfg", 3, 0x126))),
              wire::ACK);
    Stream(port, c.content);
    ASSERT_TRUE(sim.WaitForStreams(1, 2s));
    EXPECT_EQ(sim.File("/local/locate.cfg").has_value(), c.stored);
    ASSERT_EQ(sim.LogLines().size(), 1u);
    EXPECT_EQ(sim.LogLines()[0].find("not stored") != std::string::npos, !c.stored)
        << sim.LogLines()[0];
    // The next connection is a command again.
    EXPECT_EQ(Status(Ask(port, FileFrame(wire::CMD_DELETE_FILE, "/local/locate.cfg"))), wire::ACK);
    EXPECT_FALSE(sim.File("/local/locate.cfg"));
    EXPECT_EQ(sim.Frames().size(), 2u);  // the content is no command frame
  }
}

TEST(SimFiles, NamesThatDoNotFitOrLeaveTheStoreAreRefused) {
  const std::string refused[] = {"",     "/",   "/local/",    "/../x", "/local/../x",
                                 "a//b", "./a", "/local/a b", "c:\\x", std::string(44, 'a'),
                                 "/\x7f"};
  for (const std::string& name : refused) EXPECT_FALSE(FileStore::ValidName(name)) << name;
  for (const std::string name : {"/local/ap_ssid.cfg", "mcuimg.bin", "/sys/mcuimg.bin"})
    EXPECT_TRUE(FileStore::ValidName(name)) << name;

  Simulator sim({});
  const std::uint16_t port = sim.Start();
  EXPECT_EQ(Status(Ask(port, FileFrame(wire::CMD_WRITE_FILE, "/../escape", 1, 1))), wire::NAK);
  EXPECT_EQ(Status(Ask(port, FileFrame(wire::CMD_DELETE_FILE, std::string(24, 'a')))), wire::NAK);
  EXPECT_TRUE(sim.FileNames().empty());
}

TEST(SimFiles, DirectoryHoldsTheFilesUnderTheirNames) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "zvk-sim-files";
  std::filesystem::remove_all(dir);
  {
    Simulator sim({.files_dir = dir.string()});
    const std::uint16_t port = sim.Start();
    Ask(port, FileFrame(wire::CMD_WRITE_FILE, "/local/locate.cfg", 2, 'h' + 'i'));
    Stream(port, {'h', 'i'});
    ASSERT_TRUE(sim.WaitForStreams(1, 2s));
    std::ifstream in(dir / "local" / "locate.cfg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "hi");
    EXPECT_EQ(sim.FileNames(), std::vector<std::string>{"/local/locate.cfg"});
    // Asking what the module would answer changes nothing on disk.
    EXPECT_EQ(Status(sim.BuildReply(FileFrame(wire::CMD_DELETE_FILE, "/local/locate.cfg"))),
              wire::ACK);
    EXPECT_TRUE(std::filesystem::exists(dir / "local" / "locate.cfg"));
  }
  {
    // A file put there by a person is the module's from the start.
    std::ofstream(dir / "mcuimg.bin") << "image";
    Simulator sim({.files_dir = dir.string()});
    EXPECT_EQ(sim.FileNames(), (std::vector<std::string>{"/local/locate.cfg", "mcuimg.bin"}));
    const std::uint16_t port = sim.Start();
    Ask(port, FileFrame(wire::CMD_DELETE_FILE, "/local/locate.cfg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "local" / "locate.cfg"));
  }
  std::filesystem::remove_all(dir);
}

namespace dev = wire::devinfo;

std::string Field(const Bytes& record, std::size_t offset, std::size_t width) {
  std::string text(record.begin() + offset, record.begin() + offset + width);
  return text.substr(0, text.find('\0'));
}

const Bytes kGetDevice = {0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0, 0};

TEST(SimFiles, RestartTakesTheModuleOffTheNetworkThenStartsFromItsFiles) {
  Simulator sim({.reboot_ms = 300});
  const std::uint16_t port = sim.Start();
  sim.PutFile("/local/locate.cfg", {'R', 'o', 'o', 'f'});
  sim.PutFile("/local/ap_ssid.cfg", {'P', 'l', 'a', 'n', 't'});
  sim.PutFile("/local/ap_key.cfg", Bytes(8, 'k'));
  sim.PutFile("/local/sta_ssid.cfg", {'O', 'f', 'f', 'i', 'c', 'e'});
  sim.PutFile("/local/sta_key.cfg", Bytes(8, 's'));
  sim.PutFile("/local/sta_keyT.cfg", {1});
  sim.PutFile("/local/sta_ip.cfg", {192, 168, 1, 10, 255, 255, 255, 0, 192, 168, 1, 1});
  sim.PutFile("/local/mbport.cfg", {0x01, 0xF6, 0x00, 0x1E, 0, 0, 0, 0, 0, 0});
  // Files change nothing until the module starts again.
  EXPECT_EQ(Field(Ask(port, kGetDevice), dev::kLocation, dev::kLocationWidth), "Lab bench 1");

  EXPECT_TRUE(Ask(port, {0x5A, 0x35, 0x77, 0xA5, wire::CMD_RESET_MODULE}).empty());
  EXPECT_FALSE(Connects(port));
  ASSERT_TRUE(sim.WaitUntilOnline(2s));
  const Bytes id = Ask(port, kGetDevice);
  ASSERT_EQ(id.size(), 389u);
  EXPECT_EQ(Field(id, dev::kLocation, dev::kLocationWidth), "Roof");
  EXPECT_EQ(Field(id, dev::kApSsid, dev::kSsidWidth), "Plant");
  EXPECT_EQ(id[dev::kApKeyType], 2);
  EXPECT_EQ(Field(id, dev::kApKey, dev::kKeyWidth), "kkkkkkkk");
  EXPECT_EQ(Field(id, dev::kStaSsid, dev::kSsidWidth), "Office");
  EXPECT_EQ(id[dev::kStaKeyType], 1);
  EXPECT_EQ(Field(id, dev::kStaKey, dev::kKeyWidth), "ssssssss");
  EXPECT_EQ(id[dev::kStaticIpEnabled], 1);
  EXPECT_EQ(Bytes(id.begin() + dev::kStaticIp, id.begin() + dev::kStaticIp + 12),
            (Bytes{192, 168, 1, 10, 255, 255, 255, 0, 192, 168, 1, 1}));
  EXPECT_EQ(GetBe16(&id[dev::kModbusPort]), 502);
  EXPECT_EQ(GetBe16(&id[dev::kIdleTimeout]), 30);
}

TEST(SimFiles, WifiModeAndResetRestartTheModule) {
  Simulator sim({});
  const std::uint16_t port = sim.Start();
  sim.PutFile("/local/locate.cfg", {'R', 'o', 'o', 'f'});
  sim.PutFile("/local/th_user.cfg", Bytes(144, 1));
  EXPECT_EQ(Status(Ask(port, {0x5A, 0x35, 0x77, 0xA5, wire::CMD_SET_WIFI_MODE, 0})), wire::ACK);
  Bytes id = Ask(port, kGetDevice);
  EXPECT_EQ(id[dev::kWifiMode], 0);  // the mode survives the restart it causes
  EXPECT_EQ(Field(id, dev::kLocation, dev::kLocationWidth), "Roof");

  EXPECT_EQ(Status(Ask(port, {0x5A, 0x35, 0x77, 0xA5, wire::CMD_RESET_CONFIG, 1})), wire::ACK);
  id = Ask(port, kGetDevice);
  EXPECT_EQ(id[dev::kWifiMode], 1);
  EXPECT_EQ(Field(id, dev::kLocation, dev::kLocationWidth), "Lab bench 1");
  // Only the network settings go; calibration data stays.
  EXPECT_EQ(sim.FileNames(), std::vector<std::string>{"/local/th_user.cfg"});

  EXPECT_EQ(Status(Ask(port, {0x5A, 0x35, 0x77, 0xA5, wire::CMD_MBPORT_CFG})), wire::ACK);
  EXPECT_NE(sim.LogLines().back().find("Modbus"), std::string::npos);
}

}  // namespace
}  // namespace zvk::sim
