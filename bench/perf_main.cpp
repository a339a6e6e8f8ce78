// zvk_bench: the performance table. Every row runs the utility and its bare baseline side by
// side in this one run, against simulated modules on loopback, and prints their ratio.
//
//   zvk_bench [--quick] [--rows poll,stream,format,micro,desktop,zvk,fleet,publish,engine]
//             [--gui-seconds N]
//             [--bin-dir DIR]
//             [--benchmark_...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "admin/remote_files.h"
#include "bare_exchange.h"
#include "bench_utility.h"
#include "clocks.h"
#include "content_sink.h"
#include "engine_rows.h"
#include "link/wire.h"
#include "monitor/measurement.h"
#ifdef ZVK_BENCH_PUBLISH
#include "mqtt_publish_row.h"
#endif
#include "report.h"
#include "side_by_side.h"
#include "sim/simulator.h"
#include "util/format_fixed.h"

namespace zvk::bench {

namespace {

struct Settings {
  bool quick = false;
  std::string rows = "poll,stream,format,micro,desktop,zvk,fleet,publish";
  int gui_seconds = 30;
  std::filesystem::path bin_dir;
};

const char* ModelName(sim::Model model) {
  return model == sim::Model::Km3 ? "voltage module" : "thermistor module";
}

std::size_t DataBlockSize(sim::Model model) {
  return model == sim::Model::Km3 ? wire::data::kKm3BlockSize : wire::data::kQn6BlockSize;
}

// A simulated module on an ephemeral loopback port for the length of one row.
class LoopbackModule {
 public:
  explicit LoopbackModule(sim::Model model, bool drift = false) : sim_(Options(model)) {
    sim_.SetDrift(drift);
    port_ = sim_.Start();
  }
  ~LoopbackModule() { sim_.Stop(); }
  std::uint16_t port() const { return port_; }
  // Data polls this module has answered so far.
  std::size_t DataPolls() const {
    std::size_t polls = 0;
    for (const auto& frame : sim_.Frames())
      if (frame.size() > wire::kReplyCode && frame[wire::kReplyCode] == wire::CMD_READ_DATA)
        ++polls;
    return polls;
  }

 private:
  static sim::Options Options(sim::Model model) {
    sim::Options options;
    options.model = model;
    options.listen = "127.0.0.1";
    return options;
  }
  sim::Simulator sim_;
  std::uint16_t port_ = 0;
};

// ---- one data poll: exchange, decoding and texts, against a bare socket client ----

Row DataPollRow(sim::Model model, const Settings& settings) {
  LoopbackModule module(model);
  BenchUtility utility;
  utility.IdentifyOnline(module.port());
  App& app = utility.app();
  const std::vector<std::uint8_t> frame = DataPollFrame();
  const std::size_t expected = DataBlockSize(model);
  std::vector<std::uint8_t> reply(wire::kReplyBufferSize);
  int failures = 0;

  const Comparison c = SideBySide(
      [&] {
        SendDataPoll(app);
        if (app.link.PendingCommand != 0) ++failures;
      },
      [&] {
        const long n = BareExchange(module.port(), frame.data(), frame.size(), reply.data(),
                                    reply.size(), expected);
        if (n != static_cast<long>(expected)) ++failures;
      },
      settings.quick ? 50 : 200, settings.quick ? 4 : 31,
      // The log is never shown and grows for the whole run; here it is emptied between batches.
      [&app] { app.log_lines.clear(); });
  if (failures > 0)
    throw std::runtime_error(std::to_string(failures) + " data polls of the " + ModelName(model) +
                             " failed");
  Row row{"One data poll, " + std::string(ModelName(model)) + " (CPU per poll; wall)",
          Micros(c.measured_cpu) + "; " + Micros(c.measured_wall) + "; CPU ratio " +
              RatioSpread(c.ratio, c.ratio_low, c.ratio_high,
                          static_cast<std::size_t>(settings.quick ? 4 : 31)),
          Micros(c.baseline_cpu) + "; " + Micros(c.baseline_wall) + " (bare socket client)"};
  return WithCeiling(row, c.ratio, 1.2);
}

// ---- a file's content stream against a bare loop of the same writes ----

// The stream alone: the announce and the protocol's fixed waits around it are left out.
Row ContentStreamRow(const Settings& settings) {
  constexpr std::size_t kContent = 2 * 1024 * 1024;
  ContentSink sink;
  BenchUtility utility;
  App& app = utility.app();
  app.link.DeviceHost = "127.0.0.1";
  app.link.DevicePort = sink.port();
  for (std::size_t i = 0; i < kContent; ++i) app.transfer.data()[i] = static_cast<std::uint8_t>(i);
  app.gauge.max = static_cast<int>(kContent - kStreamPiece);
  int failures = 0;
  const Comparison c =
      SideBySide([&] { StreamContent(app, kContent, GaugeRule::PieceEnd); },
                 [&] {
                   if (!BareStream(sink.port(), app.transfer.data(), kContent, kStreamPiece))
                     ++failures;
                 },
                 settings.quick ? 2 : 4, settings.quick ? 4 : 15);
  if (failures > 0) throw std::runtime_error(std::to_string(failures) + " bare streams failed");
  const auto rate = [](double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MiB/s", 2.0 / seconds);
    return std::string(text);
  };
  Row row{"Content stream, 2 MiB in 1024-byte writes (throughput; wall per stream)",
          rate(c.measured_wall) + "; " + Millis(c.measured_wall),
          rate(c.baseline_wall) + "; " + Millis(c.baseline_wall) + " (bare loop of the writes)"};
  return WithFloor(row, c.baseline_wall / c.measured_wall, 0.8);
}

// ---- FormatFixed against snprintf for the same digits ----

Row FormatFixedRow(const std::string& what, const std::vector<double>& values, int precision,
                   int decimals, const Settings& settings) {
  char format[16];
  std::snprintf(format, sizeof format, "%%.%df", decimals);
  std::size_t sink = 0;
  const Comparison c = SideBySide(
      [&] {
        for (double v : values) sink += FormatFixed(v, precision, decimals).size();
      },
      [&] {
        char text[64];
        for (double v : values)
          sink += static_cast<std::size_t>(std::snprintf(text, sizeof text, format, v));
      },
      settings.quick ? 5 : 20, settings.quick ? 4 : 15);
  benchmark::DoNotOptimize(sink);
  const double n = static_cast<double>(values.size());
  Row row{"`FormatFixed` " + what + " (P " + std::to_string(precision) + ", D " +
              std::to_string(decimals) + ")",
          Nanos(c.measured_cpu / n), Nanos(c.baseline_cpu / n) + " (`snprintf " + format + "`)"};
  return WithCeiling(row, c.ratio, 2.0);
}

std::vector<Row> FormatFixedRows(const Settings& settings) {
  constexpr double kRef = 3.911556659e-05;  // the default volts per count at range 3
  std::vector<double> readings, refs, fahrenheit;
  for (int raw = -32768; raw < 32768; raw += 61)
    for (int range = 0; range < 4; ++range) readings.push_back(raw * (8 >> range) * kRef);
  for (int i = 0; i < 1000; ++i) refs.push_back(kRef * (0.98 + 0.00004 * i));
  for (int tenths = -400; tenths <= 1500; tenths += 19)
    for (int offset = -127; offset <= 127; offset += 25)
      fahrenheit.push_back(tenths / 10.0 * 1.8 + 32 + offset * 0.1);
  return {FormatFixedRow("volts of a reading", readings, 5, 4, settings),
          FormatFixedRow("range log line", refs, 16, 14, settings),
          FormatFixedRow("degrees Fahrenheit", fahrenheit, 4, 1, settings)};
}

// ---- Google Benchmark timings ----

class CollectingReporter final : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred)
        throw std::runtime_error(run.benchmark_name() + ": " + run.error_message);
      seconds[run.benchmark_name()] =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }
  std::map<std::string, double> seconds;  // CPU time per iteration
};

std::vector<Row> MicroRows() {
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::pair<const char*, const char*> kShown[] = {
      {"BM_ConvertThermistor", "`ConvertThermistor`, eight channels"},
      {"BM_FitUserCurves", "`FitUserCurves`, eight curves"},
      {"BM_DecodeDataReply/km3", "Data reply decoded, voltage module"},
      {"BM_DecodeDataReply/qn6", "Data reply decoded, thermistor module"},
  };
  std::vector<Row> rows;
  for (const auto& [name, what] : kShown) {
    auto it = reporter.seconds.find(name);
    if (it != reporter.seconds.end()) rows.push_back({what, Nanos(it->second), ""});
  }
  return rows;
}

// ---- whole processes ----

std::string Bin(const Settings& settings, const char* name) {
  const std::filesystem::path path = settings.bin_dir / name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("not built: " + path.string());
  return path.string();
}

// `zvk read --count 1` as a whole process beside the bare client, and beside both the same zvk
// linked against the shared runtimes (zvk-dynamic, built for this row only), to weigh the static
// link. The three run in turns whose order rotates; each turn gives a ratio of each zvk's wall
// time to the bare client's of that turn, and the rows show the median and quartiles of those.
std::vector<Row> ZvkReadRows(const Settings& settings) {
  LoopbackModule module(sim::Model::Km3);
  const std::string port = std::to_string(module.port());
  const auto zvk = [&](const char* name) {
    return std::vector<std::string>{Bin(settings, name), "--host", "127.0.0.1", "--port", port,
                                    "--skip-wifi-check", "read",   "--count",   "1"};
  };
  const std::vector<std::vector<std::string>> programs = {
      zvk("zvk"), zvk("zvk-dynamic"), {Bin(settings, "zvk_bench_bare_client"), port}};
  constexpr std::size_t kBare = 2;
  std::vector<double> cpu[3], wall[3], ratios[2];
  const int turns = settings.quick ? 8 : 60;
  for (int i = 0; i < turns; ++i) {
    double turn_wall[3] = {0, 0, 0};
    for (std::size_t k = 0; k < 3; ++k) {
      const std::size_t which = (static_cast<std::size_t>(i) + k) % 3;
      const ProcessRun run = RunProgram(programs[which]);
      if (run.exit_code != 0)
        throw std::runtime_error(programs[which][0] + " failed against the simulator");
      cpu[which].push_back(run.cpu_seconds);
      wall[which].push_back(run.wall_seconds);
      turn_wall[which] = run.wall_seconds;
    }
    for (std::size_t which = 0; which < 2; ++which)
      ratios[which].push_back(turn_wall[which] / turn_wall[kBare]);
  }
  const std::string bare =
      Millis(Median(wall[kBare])) + "; " + Millis(Median(cpu[kBare])) + " (bare client process)";
  const auto measured = [&](std::size_t which) {
    const double ratio = Median(ratios[which]);
    return Millis(Median(wall[which])) + "; " + Millis(Median(cpu[which])) + "; wall ratio " +
           RatioSpread(ratio, Quantile(ratios[which], 0.25), Quantile(ratios[which], 0.75),
                       ratios[which].size());
  };
  Row linked_in{"`zvk read --count 1`, whole process (wall; CPU)", measured(0), bare};
  Row shared{"`zvk read --count 1`, zvk linked against the shared runtimes (wall; CPU)",
             measured(1), bare};
  shared.ratio = Median(ratios[1]);
  return {WithCeiling(linked_in, Median(ratios[0]), 1.5), shared};
}

// `zvk read --hosts` over 50 simulated modules, one poll each, beside one module's `zvk read`:
// the goal is a round within twice one module's wall time plus the slowest module's.
Row FleetReadRow(const Settings& settings) {
  constexpr int kModules = 50;
  std::vector<std::unique_ptr<LoopbackModule>> modules;
  std::string inventory_text;
  for (int i = 0; i < kModules; ++i) {
    modules.push_back(
        std::make_unique<LoopbackModule>(i % 2 == 0 ? sim::Model::Km3 : sim::Model::Qn6));
    inventory_text += "127.0.0.1:" + std::to_string(modules.back()->port()) + "\n";
  }
  const std::filesystem::path inventory =
      std::filesystem::temp_directory_path() / "zvk-bench-fleet.txt";
  std::ofstream(inventory) << inventory_text;
  const auto one = [&](std::size_t i) {
    return std::vector<std::string>{
        Bin(settings, "zvk"), "--host", "127.0.0.1", "--port", std::to_string(modules[i]->port()),
        "--skip-wifi-check",  "read",   "--count",   "1"};
  };
  const std::vector<std::string> fleet = {Bin(settings, "zvk"), "--hosts", inventory.string(),
                                          "--skip-wifi-check", "read"};
  const auto wall = [](const std::vector<std::string>& command) {
    const ProcessRun run = RunProgram(command);
    if (run.exit_code != 0) throw std::runtime_error(command[0] + " failed against the fleet");
    return run.wall_seconds;
  };
  // Each module once on its own: the slowest of them.
  double slowest = 0;
  for (std::size_t i = 0; i < modules.size(); ++i) slowest = std::max(slowest, wall(one(i)));
  std::vector<double> single, round;
  const int runs = settings.quick ? 3 : 15;
  for (int i = 0; i < runs; ++i) {
    single.push_back(wall(one(static_cast<std::size_t>(i) % modules.size())));
    round.push_back(wall(fleet));
  }
  std::filesystem::remove(inventory);
  const double ratio = Median(round) / Median(single);
  Row row{"`zvk read --hosts`, 50 modules, one round, whole process (wall)", Millis(Median(round)),
          Millis(Median(single)) + " (one module's `zvk read --count 1`; slowest module " +
              Millis(slowest) + ")"};
  // Within 2x one module plus the slowest module, as a multiple of one module.
  return WithCeiling(row, ratio, 2.0 + slowest / Median(single));
}

// Many polls in one process each, `zvk read --count N --interval 0` beside the bare client
// polling N times, in interleaved pairs (which of the two runs first alternates): the wall time
// per poll of each, and the median and quartiles of the pairs' ratios, so a loaded machine shows
// as spread instead of as a different figure.
Row ZvkPollsRow(sim::Model model, const Settings& settings) {
  LoopbackModule module(model);
  const std::string port = std::to_string(module.port());
  const int polls = settings.quick ? 100 : 500;
  const std::string count = std::to_string(polls);
  const std::vector<std::string> zvk = {Bin(settings, "zvk"),
                                        "--host",
                                        "127.0.0.1",
                                        "--port",
                                        port,
                                        "--skip-wifi-check",
                                        "read",
                                        "--count",
                                        count,
                                        "--interval",
                                        "0"};
  const std::vector<std::string> bare = {Bin(settings, "zvk_bench_bare_client"), port, count};
  std::vector<double> zvk_wall, bare_wall, ratios;
  const int pairs = settings.quick ? 4 : 15;
  for (int i = 0; i < pairs; ++i) {
    double wall[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      const bool ours = (i + k) % 2 == 0;
      const ProcessRun run = RunProgram(ours ? zvk : bare);
      if (run.exit_code != 0)
        throw std::runtime_error((ours ? zvk[0] : bare[0]) + " failed against the simulator");
      wall[ours ? 0 : 1] = run.wall_seconds / polls;
    }
    zvk_wall.push_back(wall[0]);
    bare_wall.push_back(wall[1]);
    if (wall[1] > 0) ratios.push_back(wall[0] / wall[1]);
  }
  const double ratio = Median(ratios);
  Row row{"`zvk read --count " + count + " --interval 0`, " + std::string(ModelName(model)) +
              ", whole process (wall per poll; pair ratio)",
          Micros(Median(zvk_wall)) + "; " +
              RatioSpread(ratio, Quantile(ratios, 0.25), Quantile(ratios, 0.75), ratios.size()),
          Micros(Median(bare_wall)) + " (bare client process)"};
  return WithCeiling(row, ratio, 1.2);
}

// The desktop app and the bare window, each against its own simulated module, all four at once:
// the same seconds of the same machine for each. Start-up (loading, building the window, the
// identity exchange) is shown apart; the goal is about the polling that follows.
std::vector<Row> DesktopRows(const Settings& settings) {
  constexpr double kStartSeconds = 2.5;
  const double span = settings.gui_seconds;
  const std::string quit_after =
      std::to_string(static_cast<int>((kStartSeconds + span + 1) * 1000));
  const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
  struct Program {
    std::unique_ptr<LoopbackModule> module;
    int pid = 0;
    std::map<int, double> at_start;
    double start_cpu = 0, polling_cpu = 0;
    ProcessRun run;
  };
  struct Pair {
    sim::Model model;
    Program ours, bare;
  };
  std::vector<Pair> pairs;
  for (sim::Model model : {sim::Model::Km3, sim::Model::Qn6}) {
    Pair p{model};
    p.ours.module = std::make_unique<LoopbackModule>(model, true);
    p.bare.module = std::make_unique<LoopbackModule>(model, true);
    pairs.push_back(std::move(p));
  }
  const double started = WallSeconds();
  for (Pair& p : pairs) {
    p.ours.pid = Spawn(
        {Bin(settings, "zvk-analog"), "--host", "127.0.0.1", "--port",
         std::to_string(p.ours.module->port()), "--skip-wifi-check", "--quit-after", quit_after},
        env);
    p.bare.pid = Spawn({Bin(settings, "zvk_bench_bare_window"), "--port",
                        std::to_string(p.bare.module->port()), "--quit-after", quit_after},
                       env);
  }
  auto sleep_until = [started](double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(started + seconds - WallSeconds()));
  };
  sleep_until(kStartSeconds);
  for (Pair& p : pairs)
    for (Program* program : {&p.ours, &p.bare}) program->at_start = CpuByThread(program->pid);
  sleep_until(kStartSeconds + span);
  for (Pair& p : pairs) {
    for (Program* program : {&p.ours, &p.bare}) {
      program->start_cpu = CpuBetween({}, program->at_start);
      program->polling_cpu = CpuBetween(program->at_start, CpuByThread(program->pid));
    }
  }
  for (Pair& p : pairs)
    for (Program* program : {&p.ours, &p.bare}) program->run = Finish(program->pid, started);

  std::vector<Row> rows;
  const auto polls_due = static_cast<std::size_t>(span / 3.1);
  for (Pair& p : pairs) {
    for (const Program* program : {&p.ours, &p.bare}) {
      if (program->run.exit_code != 0 || program->start_cpu <= 0 || program->polling_cpu <= 0)
        throw std::runtime_error("a desktop program failed or could not be measured");
      if (program->module->DataPolls() < polls_due)
        throw std::runtime_error("a desktop program polled " +
                                 std::to_string(program->module->DataPolls()) +
                                 " times, not every 3.1 s");
    }
    const std::string model = ModelName(p.model);
    const std::string seconds = std::to_string(settings.gui_seconds) + " s";
    rows.push_back(
        WithCeiling({"Desktop app, CPU time polling the " + model + " for " + seconds,
                     Millis(p.ours.polling_cpu), Millis(p.bare.polling_cpu) + " (bare Qt window)"},
                    p.ours.polling_cpu / p.bare.polling_cpu, 1.1));
    Row start{"Desktop app, CPU time to start and identify the " + model, Millis(p.ours.start_cpu),
              Millis(p.bare.start_cpu) + " (bare Qt window)"};
    start.ratio = p.ours.start_cpu / p.bare.start_cpu;
    rows.push_back(start);
    rows.push_back(WithCeiling(
        {"Desktop app, peak resident memory with the " + model, Mebibytes(p.ours.run.peak_rss_kib),
         Mebibytes(p.bare.run.peak_rss_kib) + " (bare Qt window)"},
        static_cast<double>(p.ours.run.peak_rss_kib) / static_cast<double>(p.bare.run.peak_rss_kib),
        1.2));
  }
  return rows;
}

std::string MachineText() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model = "unknown CPU";
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  return std::to_string(std::thread::hardware_concurrency()) + " cores, " + model;
}

}  // namespace

int Main(int argc, char** argv) {
  Settings settings;
  settings.bin_dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  std::vector<char*> passed = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      settings.quick = true;
    } else if (arg == "--gui-seconds" && i + 1 < argc) {
      settings.gui_seconds = std::stoi(argv[++i]);
    } else if (arg == "--rows" && i + 1 < argc) {
      settings.rows = argv[++i];
    } else if (arg == "--bin-dir" && i + 1 < argc) {
      settings.bin_dir = argv[++i];
    } else if (arg.rfind("--benchmark_", 0) == 0) {
      passed.push_back(argv[i]);
    } else {
      std::cerr << "usage: zvk_bench [--quick] "
                   "[--rows poll,stream,format,micro,desktop,zvk,fleet,publish,engine] "
                   "[--gui-seconds N] [--bin-dir DIR] [--benchmark_...]\n"
                   "(engine, the long runs over fleets of 200 and 1000 modules, runs only when "
                   "named)\n";
      return 2;
    }
  }
  int passed_count = static_cast<int>(passed.size());
  benchmark::Initialize(&passed_count, passed.data());
  if (settings.quick) settings.gui_seconds = std::min(settings.gui_seconds, 8);

  std::vector<Row> rows;
  auto add = [&rows](std::vector<Row> more) { rows.insert(rows.end(), more.begin(), more.end()); };
  auto wanted = [&settings](const char* name) {
    return ("," + settings.rows + ",").find("," + std::string(name) + ",") != std::string::npos;
  };
  try {
    if (wanted("poll")) {
      std::cerr << "zvk_bench: data polls\n";
      rows.push_back(DataPollRow(sim::Model::Km3, settings));
      rows.push_back(DataPollRow(sim::Model::Qn6, settings));
    }
    if (wanted("stream")) {
      std::cerr << "zvk_bench: content stream\n";
      rows.push_back(ContentStreamRow(settings));
    }
    if (wanted("format")) {
      std::cerr << "zvk_bench: FormatFixed\n";
      add(FormatFixedRows(settings));
    }
    if (wanted("micro")) {
      std::cerr << "zvk_bench: computations\n";
      add(MicroRows());
    }
    if (wanted("desktop")) {
      std::cerr << "zvk_bench: desktop app, " << settings.gui_seconds << " s\n";
      add(DesktopRows(settings));
    }
    if (wanted("zvk")) {
      std::cerr << "zvk_bench: zvk read\n";
      add(ZvkReadRows(settings));
      rows.push_back(ZvkPollsRow(sim::Model::Km3, settings));
      rows.push_back(ZvkPollsRow(sim::Model::Qn6, settings));
    }
    if (wanted("fleet")) {
      std::cerr << "zvk_bench: zvk read --hosts\n";
      rows.push_back(FleetReadRow(settings));
    }
    if (wanted("engine")) {
      std::cerr << "zvk_bench: long runs over a fleet\n";
      add(EngineRows({Bin(settings, "zvk"), Bin(settings, "zvk-sim")}, settings.quick));
    }
#ifdef ZVK_BENCH_PUBLISH
    if (wanted("publish")) {
      std::cerr << "zvk_bench: publishing to a broker\n";
      rows.push_back(PublishRow(settings.quick));
    }
#endif
  } catch (const std::exception& e) {
    std::cerr << "zvk_bench: " << e.what() << "\n";
    return 1;
  }

  std::cout << "Machine: " << MachineText() << "\n\n";
  PrintTable(std::cout, rows);
  bool all_met = true;
  for (const Row& r : rows) all_met = all_met && r.met.value_or(true);
  return all_met ? 0 : 3;
}

}  // namespace zvk::bench

int main(int argc, char** argv) {
  return zvk::bench::Main(argc, argv);
}
