// The simulated module's file system: an announce and the content that follows it on the next
// connection, length and byte-sum checks, deletes, names that cannot leave the directory.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
#include "sim/simulator.h"
#include "util/byte_order.h"

namespace zvk::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Sends `bytes` on a new loopback connection and reads until the simulator closes it.
Bytes SendAndRead(std::uint16_t port, const Bytes& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  if (!bytes.empty()) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  Bytes reply;
  std::uint8_t buf[512];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
    reply.insert(reply.end(), buf, buf + n);
  ::close(fd);
  return reply;
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
      {"one byte more", {'a', 'b', 'c', 0}, false},
      {"wrong sum", {'a', 'b', 'd'}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Simulator sim({});
    const std::uint16_t port = sim.Start();
    EXPECT_EQ(
        Status(SendAndRead(port, FileFrame(wire::CMD_WRITE_FILE, "/local/locate.cfg", 3, 0x126))),
        wire::ACK);
    SendAndRead(port, c.content);
    ASSERT_TRUE(sim.WaitForStreams(1, 2s));
    EXPECT_EQ(sim.File("/local/locate.cfg").has_value(), c.stored);
    ASSERT_EQ(sim.LogLines().size(), 1u);
    EXPECT_EQ(sim.LogLines()[0].find("not stored") != std::string::npos, !c.stored)
        << sim.LogLines()[0];
    // The next connection is a command again.
    EXPECT_EQ(Status(SendAndRead(port, FileFrame(wire::CMD_DELETE_FILE, "/local/locate.cfg"))),
              wire::ACK);
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
  EXPECT_EQ(Status(SendAndRead(port, FileFrame(wire::CMD_WRITE_FILE, "/../escape", 1, 1))),
            wire::NAK);
  EXPECT_EQ(Status(SendAndRead(port, FileFrame(wire::CMD_DELETE_FILE, std::string(24, 'a')))),
            wire::NAK);
  EXPECT_TRUE(sim.FileNames().empty());
}

TEST(SimFiles, DirectoryHoldsTheFilesUnderTheirNames) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zvk-sim-files-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  {
    Simulator sim({.files_dir = dir.string()});
    const std::uint16_t port = sim.Start();
    SendAndRead(port, FileFrame(wire::CMD_WRITE_FILE, "/local/locate.cfg", 2, 'h' + 'i'));
    SendAndRead(port, {'h', 'i'});
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
    SendAndRead(port, FileFrame(wire::CMD_DELETE_FILE, "/local/locate.cfg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "local" / "locate.cfg"));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zvk::sim
