// The named operations driven directly on a session over a simulated module, as a restore or a
// batch action calls them: no command line in between.
#include "operations/operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/session.h"
#include "cli_fixture.h"

namespace zvk::cli {
namespace {

class cliOperations : public cliZvk {
 protected:
  // A session on the simulated module, its questions answered Yes.
  Session& Open(bool identify = true) {
    session.reset();  // before the world it was opened in
    CliEnv env_value{.network = network, .hosts = &hosts, .sleeper = &sleeper};
    env = std::make_unique<CliEnv>(env_value);
    GlobalOptions options;
    options.host = "127.0.0.1";
    options.port = Port();
    options.skip_wifi_check = true;
    options.yes = true;
    session = std::make_unique<Session>(*env, options, out, err);
    session->Open();
    if (identify) session->Identify();
    return *session;
  }
  std::ostringstream out, err;
  std::unique_ptr<CliEnv> env;
  std::unique_ptr<Session> session;
};

// Bytes held in memory arrive as the module's file exactly, every byte value included, and a
// delete removes it.
TEST_F(cliOperations, AModuleFileIsWrittenFromMemoryByteForByteAndDeleted) {
  StartModule(sim::Model::Km3);
  Session& s = Open(false);
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(255 - i);
  ops::WriteModuleFile(s, "/local/blob.bin", bytes);
  EXPECT_EQ(sim->File("/local/blob.bin"), bytes);
  ops::DeleteModuleFile(s, "/local/blob.bin");
  EXPECT_FALSE(sim->File("/local/blob.bin").has_value());
}

// What the module did not take is no success: the reason, and nothing stored.
TEST_F(cliOperations, ARefusedAnnounceOrDeleteFailsWithTheReason) {
  StartModule(sim::Model::Km3);
  Session& s = Open(false);
  const std::vector<std::uint8_t> bytes{1, 2, 3};
  sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_WRITE_FILE);
  try {
    ops::WriteModuleFile(s, "/local/blob.bin", bytes);
    ADD_FAILURE() << "a refused announce was taken as written";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("/local/blob.bin"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(sim->File("/local/blob.bin").has_value());

  sim->InjectFault(sim::Fault::Refuse, 1, wire::CMD_DELETE_FILE);
  EXPECT_THROW(ops::DeleteModuleFile(s, "/local/none.cfg"), std::exception);
}

// The setup window's actions write the window's files; input the window refuses ends the
// operation with its reason and sends nothing; a setting already in place sends nothing.
TEST_F(cliOperations, SettingsGoThroughTheWindowsWithTheirChecks) {
  StartModule(sim::Model::Qn6);
  Session& s = Open();
  ops::WriteLocation(s, "Tank 4");
  const auto location = sim->File("/local/locate.cfg");
  ASSERT_TRUE(location.has_value());
  EXPECT_EQ(std::string(location->begin(), location->end()).substr(0, 6), "Tank 4");

  sim->ClearFrames();
  try {
    ops::WriteStaticIp(s, std::array<std::string, 3>{"10.1.2", "255.255.255.0", "10.1.2.1"});
    ADD_FAILURE() << "a malformed address was taken";
  } catch (const ops::OperationFailed& e) {
    EXPECT_EQ(std::string(e.what()).rfind("input refused: ", 0), 0u) << e.what();
  }
  EXPECT_TRUE(Frames().empty());

  // One action a session, as the command line runs them.
  Session& t = Open();
  EXPECT_TRUE(ops::SetOffset(t, 2, -5));
  sim->ClearFrames();
  EXPECT_FALSE(ops::SetOffset(t, 2, -5));
  EXPECT_FALSE(ops::SetUnit(t, 3, false));
  EXPECT_TRUE(Frames().empty());
}

}  // namespace
}  // namespace zvk::cli
