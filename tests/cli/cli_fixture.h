// The zvk command run in-process against a simulated module on loopback, for the tests of its
// commands: the module, the arguments that reach it, and what a run printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/zvk_cli.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"

namespace zvk::cli {

// What one run printed and how it ended.
struct Result {
  int status = -1;
  std::string out;
  std::string err;

  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string LastErrLine() const {
    const std::vector<std::string> lines = ErrLines();
    return lines.empty() ? std::string() : lines.back();
  }
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

class cliZvk : public ::testing::Test {
 protected:
  void StartModule(sim::Model model) {
    sim::Options options;
    options.model = model;
    sim = std::make_unique<sim::Simulator>(options);
    sim->Start();
    sleeper.on_sleep = [this](int) { test::WaitForAnnouncedContent(*sim); };
  }
  void TearDown() override {
    if (sim) sim->Stop();
  }

  std::uint16_t Port() {
    if (!closed_port) closed_port = test::ClosedLoopbackPort();
    return sim ? sim->Port() : *closed_port;
  }
  // The module on loopback, reached as a user reaches the simulator.
  std::vector<std::string> On(std::vector<std::string> args, bool skip_wifi_check = true) {
    std::vector<std::string> all{"--host", "127.0.0.1", "--port", std::to_string(Port())};
    if (skip_wifi_check) all.push_back("--skip-wifi-check");
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  Result Run(const std::vector<std::string>& args) {
    CliEnv env{.network = network,
               .hosts = &hosts,
               .read_answer = read_answer,
               .progress_terminal = terminal,
               .sleeper = &sleeper,
               .delivery_wait_ms = delivery_wait_ms};
    std::ostringstream out, err;
    Result r;
    r.status = RunZvk(args, out, err, env);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  std::vector<std::vector<std::uint8_t>> Frames() const {
    return sim ? sim->Frames() : std::vector<std::vector<std::uint8_t>>{};
  }

  test::LoopbackOnlyNetwork network;
  // No interface at all unless a test adds some: nothing here ever scans the real host.
  test::FakeHostInterfaces hosts;
  AnswerReader read_answer;
  bool terminal = false;  // standard error taken for a terminal: progress bars shown
  // The protocol's fixed waits, recorded instead of slept.
  test::RecordingSleeper sleeper;
  // The wait for the module's close after a content; 0: the program's own.
  int delivery_wait_ms = 0;
  std::unique_ptr<sim::Simulator> sim;
  std::optional<std::uint16_t> closed_port;
};

}  // namespace zvk::cli
