// The built zvk program, run as a child process against the simulator on loopback.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "support/child_process.h"

namespace zvk::cli {
namespace {

TEST(cliBinary, ReadCsvLogsThreeRows) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  sim::Options options;
  options.model = sim::Model::Km3;
  sim::Simulator module(options);
  const std::uint16_t port = module.Start();

  std::vector<std::string> args = {"--host", "127.0.0.1", "--port", std::to_string(port)};
  args.insert(args.end(),
              {"--skip-wifi-check", "read", "--csv", "--count", "3", "--interval", "0.2"});
  test::ChildProcess child(*zvk, args);
  const std::string out = child.ReadAll();
  EXPECT_EQ(child.Wait(), 0);
  module.Stop();

  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows text stream
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4");
  const std::regex row(R"([0-9T:.+-]{29}(,-?\d+\.\d{4}){5})");
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
  EXPECT_EQ(module.Frames().size(), 4u);
}

}  // namespace
}  // namespace zvk::cli
