// Long runs of the engine over simulated modules on 127.0.0.1, 127.0.0.2, ... (one port for
// all), with sinks that keep what they were told.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/pool.h"
#include "link/wire.h"
#include "sim/simulator.h"
#include "support/test_seams.h"

namespace zvk::engine {
namespace {

// Module k listens on 127.0.0.k and is called "mK" by the run.
class Fleet {
 public:
  explicit Fleet(int count) {
    for (int k = 1; k <= count; ++k) {
      sim::Options options;
      options.model = sim::Model::Qn6;
      options.unit = k;
      options.listen = "127.0.0." + std::to_string(k);
      options.port = port;
      sims.push_back(std::make_unique<sim::Simulator>(options));
      sims.back()->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(k)});
      port = sims.back()->Start();
    }
  }
  ~Fleet() {
    for (auto& s : sims) s->Stop();
  }
  // Sessions opened on every module, not yet identified.
  std::vector<EngineModule> Open() {
    for (std::size_t i = 0; i < sims.size(); ++i) {
      ops::ModuleOptions options;
      options.host = "127.0.0." + std::to_string(i + 1);
      options.port = port;
      options.skip_wifi_check = true;
      dialogs.push_back(std::make_unique<ops::RecordedDialogs>());
      sessions.push_back(std::make_unique<ops::ModuleSession>(
          ops::ModuleSeams{.network = network, .dialogs = *dialogs.back(), .sleeper = &sleeper},
          options));
      sessions.back()->Open();
    }
    std::vector<EngineModule> modules;
    for (std::size_t i = 0; i < sims.size(); ++i)
      modules.push_back(
          {{"m" + std::to_string(i + 1), *sessions[i]->module_options().host}, sessions[i].get()});
    return modules;
  }

  std::uint16_t port = 0;
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  test::LoopbackOnlyNetwork network;
  test::RecordingSleeper recorded;
  LockedSleeper sleeper{recorded};
  std::vector<std::unique_ptr<ops::RecordedDialogs>> dialogs;
  std::vector<std::unique_ptr<ops::ModuleSession>> sessions;
};

// Keeps what it is told as lines: "admit 1 02:..", "1 R" (readings) or "1 G" (gap), "end",
// "finish". Refuses the modules in `refuse`; throws SinkError at the `fail_at`-th receive.
class KeepingSink final : public Sink {
 public:
  std::string Admit(std::size_t index, const ModuleEntry& module,
                    const ModuleIdentity& identity) override {
    events.push_back("admit " + std::to_string(index) + (identity.mac.empty() ? "" : " known"));
    labels.push_back(module.label);
    for (std::size_t r : refuse)
      if (r == index) return "not for this sink";
    return "";
  }
  void Receive(std::size_t index, const Sample& sample) override {
    if (++received == fail_at) throw SinkError("the sink cannot go on");
    events.push_back(std::to_string(index) + (sample.kind == SampleKind::Readings ? " R" : " G"));
  }
  void EndRound() override { events.push_back("end"); }
  bool Finish(Clock::time_point) override {
    events.push_back("finish");
    return true;
  }
  std::string Status() const override { return ""; }
  std::string Summary() const override { return ""; }

  std::vector<std::size_t> refuse;
  int fail_at = 0;
  int received = 0;
  std::vector<std::string> events;
  std::vector<std::string> labels;
};

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part) {
  std::size_t n = 0;
  for (const std::string& l : lines) n += l.find(part) != std::string::npos;
  return n;
}

EngineOptions Rounds(std::size_t count) {
  EngineOptions options;
  options.limits = {0, 0, count, std::nullopt};
  options.gap_note = "gaps follow";
  return options;
}

TEST(Engine, HandsEachRoundsSamplesInTheModulesOrderAndLeavesARefusedModuleOutOfThatSink) {
  Fleet fleet(3);
  std::ostringstream told;
  ModuleLines lines(told, {"m1", "m2", "m3"});
  KeepingSink all, picky;
  picky.refuse = {1};
  SinkSet sinks;
  sinks.Add(all);
  sinks.Add(picky);
  Engine run(fleet.Open(), lines, sinks, Rounds(2));
  StopFlag stop;
  EXPECT_TRUE(run.Run(stop));

  const std::vector<std::string> round = {"0 R", "1 R", "2 R", "end"};
  std::vector<std::string> expected = {"admit 0 known", "admit 1 known", "admit 2 known"};
  for (int r = 0; r < 2; ++r) expected.insert(expected.end(), round.begin(), round.end());
  expected.push_back("finish");
  EXPECT_EQ(all.events, expected);
  EXPECT_EQ(all.labels, (std::vector<std::string>{"m1", "m2", "m3"}));
  EXPECT_EQ(std::count(picky.events.begin(), picky.events.end(), "1 R"), 0);
  EXPECT_EQ(std::count(picky.events.begin(), picky.events.end(), "2 R"), 2);
  EXPECT_EQ(LinesOf(told.str()), (std::vector<std::string>{"m2: zvk: not for this sink"}));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(run.state(i).answered);
  EXPECT_EQ(run.rounds(), 2u);
}

TEST(Engine, AModuleThatDropsOutAndReturnsIsToldLostAndBackOnceEach) {
  Fleet fleet(2);
  std::ostringstream told;
  ModuleLines lines(told, {"m1", "m2"});
  KeepingSink sink;
  SinkSet sinks;
  sinks.Add(sink);
  Engine run(fleet.Open(), lines, sinks, Rounds(5));
  StopFlag stop;
  run.Run(stop, [&] {
    // After the first round, m2 refuses the next two data polls.
    if (run.rounds() == 1) fleet.sims[1]->InjectFault(sim::Fault::Refuse, 2, wire::CMD_READ_DATA);
  });

  std::vector<std::string> m2;
  for (const std::string& e : sink.events)
    if (e.rfind("1 ", 0) == 0) m2.push_back(e);
  EXPECT_EQ(m2, (std::vector<std::string>{"1 R", "1 G", "1 G", "1 R", "1 R"}));
  const std::vector<std::string> said = LinesOf(told.str());
  EXPECT_EQ(said.size(), 2u) << told.str();
  EXPECT_EQ(CountContaining(said, "m2: zvk: "), 2u);
  EXPECT_EQ(CountContaining(said, " no readings: the module refused the data poll"), 1u);
  EXPECT_EQ(CountContaining(said, "; gaps follow"), 1u);
  EXPECT_EQ(CountContaining(said, " the module answers again ("), 1u);
  EXPECT_FALSE(run.poller(1).lost());
}

TEST(Engine, AModuleSilentAtTheStartIsAdmittedOnceItDescribesItself) {
  Fleet fleet(2);
  // m2 refuses every identity request until the test lets it answer.
  fleet.sims[1]->InjectFault(sim::Fault::Refuse, 1000, wire::CMD_GET_DEVICE);
  std::ostringstream told;
  ModuleLines lines(told, {"m1", "m2"});
  KeepingSink sink;
  SinkSet sinks;
  sinks.Add(sink);
  EngineOptions options = Rounds(1000);
  options.limits.interval_s = 0.1;
  options.identity_first = true;
  Engine run(fleet.Open(), lines, sinks, options);
  StopFlag stop;
  std::size_t admitted_in = 0;
  run.Run(stop, [&] {
    if (run.rounds() == 2) fleet.sims[1]->ClearFaults();
    if (run.state(1).admitted && admitted_in == 0) admitted_in = run.rounds();
    if (admitted_in > 0 && run.rounds() == admitted_in + 1) stop.Request();
  });

  ASSERT_GT(admitted_in, 2u);
  EXPECT_TRUE(run.state(1).answered);
  // Nothing of m2 reached the sink before it was admitted, and its first sample came with it.
  const auto admit = std::find(sink.events.begin(), sink.events.end(), "admit 1 known");
  ASSERT_NE(admit, sink.events.end());
  EXPECT_EQ(std::find(sink.events.begin(), admit, "1 G"), admit);
  EXPECT_EQ(std::find(sink.events.begin(), admit, "1 R"), admit);
  EXPECT_EQ(*std::next(admit, 2), "1 R");
  const std::vector<std::string> said = LinesOf(told.str());
  EXPECT_EQ(CountContaining(said, "m2: zvk: "), 2u) << told.str();
  EXPECT_EQ(CountContaining(said, "not answering yet (the module refused"), 1u);
  EXPECT_EQ(CountContaining(said, " the module describes itself now ("), 1u);
}

TEST(Engine, ASinkErrorEndsTheRunAfterEverySinkWasFinished) {
  Fleet fleet(2);
  std::ostringstream told;
  ModuleLines lines(told, {"m1", "m2"});
  KeepingSink failing, other;
  failing.fail_at = 3;  // the first sample of the second round
  SinkSet sinks;
  sinks.Add(failing);
  sinks.Add(other);
  Engine run(fleet.Open(), lines, sinks, Rounds(10));
  StopFlag stop;
  EXPECT_THROW(run.Run(stop), SinkError);
  EXPECT_EQ(run.rounds(), 2u);
  EXPECT_EQ(failing.events.back(), "finish");
  EXPECT_EQ(other.events.back(), "finish");
  EXPECT_EQ(std::count(other.events.begin(), other.events.end(), "end"), 1);
}

// A sink that joins between rounds is the only one asked to take the module: a sink that took it
// before is not asked again (the MQTT sink refuses a MAC it publishes already); one taken out
// hears nothing more.
TEST(SinkSet, ASinkAddedOrRemovedBetweenRoundsLeavesTheOthersAsTheyWere) {
  KeepingSink first, joining, refusing;
  refusing.refuse = {0};
  SinkSet sinks;
  EXPECT_EQ(sinks.AddTaking(first, 0, {}, {}), "");
  Sample readings;
  readings.kind = SampleKind::Readings;
  sinks.Receive(0, readings);
  EXPECT_EQ(sinks.AddTaking(joining, 0, {}, {}), "");
  EXPECT_EQ(sinks.AddTaking(refusing, 0, {}, {}), "not for this sink");
  sinks.Receive(0, readings);
  sinks.Remove(first);
  sinks.Receive(0, Sample());
  EXPECT_EQ(first.events, (std::vector<std::string>{"admit 0", "0 R", "0 R"}));
  EXPECT_EQ(joining.events, (std::vector<std::string>{"admit 0", "0 R", "0 G"}));
  EXPECT_EQ(refusing.events, std::vector<std::string>{"admit 0"});
}

}  // namespace
}  // namespace zvk::engine
