// The built zvk program, run as a child process against the simulator on loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace zvk::cli {
namespace {

TEST(cliBinary, ReadCsvLogsThreeRows) {
  const char* bin_dir = std::getenv("ZVK_BIN_DIR");
  ASSERT_NE(bin_dir, nullptr) << "ZVK_BIN_DIR is set by CTest";
  sim::Options options;
  options.model = sim::Model::Km3;
  sim::Simulator module(options);
  const std::uint16_t port = module.Start();

  const std::string command = std::string(bin_dir) + "/zvk --host 127.0.0.1 --port " +
                              std::to_string(port) +
                              " --skip-wifi-check read --csv --count 3 --interval 0.2";
  FILE* child = ::popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string out;
  char buffer[512];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, child)) out.append(buffer, n);
  const int status = ::pclose(child);
  module.Stop();

  ASSERT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), 0) << command;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "time,AI0,AI1,AI2,AI3,AI4");
  const std::regex row(R"([0-9T:.+-]{29}(,-?\d+\.\d{4}){5})");
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
  EXPECT_EQ(module.Frames().size(), 4u);
}

}  // namespace
}  // namespace zvk::cli
