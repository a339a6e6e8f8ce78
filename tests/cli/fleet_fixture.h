// Several simulated modules on loopback (127.0.0.2, 127.0.0.3 ...), each on a port of its own and
// reporting its own address, and zvk run in-process over an inventory of them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/zvk_cli.h"
#include "cli_fixture.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"

namespace zvk::cli {

class FleetTest : public ::testing::Test {
 protected:
  // Starts a module listening on 127.0.0.<n> that reports that address.
  sim::Simulator& AddModule(sim::Model model) {
    const int n = static_cast<int>(modules.size()) + 2;
    sim::Options options;
    options.model = model;
    options.listen = "127.0.0." + std::to_string(n);
    modules.push_back(std::make_unique<sim::Simulator>(options));
    modules.back()->Start();
    modules.back()->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(n)});
    return *modules.back();
  }
  static std::string Label(const sim::Simulator& module, int n) {
    return "127.0.0." + std::to_string(n) + ":" + std::to_string(module.Port());
  }
  std::string Label(std::size_t index) const {
    return Label(*modules[index], static_cast<int>(index) + 2);
  }
  // Every module has taken in the content of every file announced to it.
  void WaitForFiles() {
    for (const auto& module : modules) EXPECT_TRUE(test::WaitForAnnouncedContent(*module));
  }
  void TearDown() override {
    for (const auto& module : modules) module->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A file in this test's own folder.
  std::string PathOf(const std::string& name) {
    if (dir_.empty()) {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      dir_ =
          std::filesystem::temp_directory_path() /
          (std::string("zvk-fleet-") + info->name() + "-" + std::to_string(std::random_device{}()));
      std::filesystem::create_directories(dir_);
    }
    return (dir_ / name).string();
  }
  std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // An inventory of every module started so far, with a comment and a blank line.
  std::string Inventory() {
    std::string text = "# the fleet\n\n";
    for (std::size_t i = 0; i < modules.size(); ++i) text += Label(i) + "\n";
    return WriteFile("modules.txt", text);
  }

  Result Run(std::vector<std::string> args) {
    CliEnv env{.network = network,
               .hosts = &hosts,
               .read_answer = read_answer,
               .progress_terminal = false,
               .sleeper = &sleeper};
    std::ostringstream out, err;
    Result r;
    r.status = RunZvk(args, out, err, env);
    r.out = out.str();
    r.err = err.str();
    WaitForFiles();
    return r;
  }

  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  AnswerReader read_answer;
  // The protocol's fixed waits, recorded instead of slept.
  test::RecordingSleeper sleeper;
  std::vector<std::unique_ptr<sim::Simulator>> modules;

 private:
  std::filesystem::path dir_;
};

}  // namespace zvk::cli
