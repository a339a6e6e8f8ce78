// `zvk log`: the readings recorded to a CSV file over hours or days, through the same recorder
// as the trend window. Unlike `read` it never stops at a failed poll: the row becomes a gap, the
// module is asked for its identity again until it answers, and the rows go on.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/metrics_option.h"
#include "cli/session.h"
#include "cli/term/live_status.h"
#include "cli/term/reopen_request.h"
#include "cli/term/stop_request.h"
#include "engine/csv_sink.h"
#include "engine/engine.h"
#include "engine/metrics_sink.h"
#include "engine/module_lines.h"
#include "engine/rotation.h"
#include "monitor/main_form.h"
#include "record/csv_format.h"
#include "record/recorder.h"
#include "record/sample.h"
#include "util/file_writer.h"

namespace zvk::cli {

namespace {

// Opens the file for appending, as the recording will, so that a name the system refuses (too
// long, no permission, a device or a FIFO) is refused before the module is asked anything. A
// file the probe created is removed again; an existing one is left as it was.
void ProbeWritable(const std::filesystem::path& path, const std::string& shown) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  try {
    CloseDescriptor(OpenToAppend(path));
    if (!existed) std::filesystem::remove(WriteTargetOf(path), ec);
  } catch (const FileWriteError& e) {
    if (e.error() == 0) throw Failed(e.what());
    throw Failed("cannot record to \"" + shown +
                 "\": " + std::generic_category().message(e.error()));
  }
}

constexpr double kLongestInterval = 24 * 3600.0;
// Twenty polls a second at most: a shorter interval would only pile rows up as fast as the
// module answers (thousands a second on a fast link), so it is taken as this.
constexpr double kShortestInterval = 0.05;
constexpr double kLongestDuration = 366 * 24 * 3600.0;
// A smaller file would hold little more than its header.
constexpr std::uint64_t kSmallestRotatedFile = 1024;

// "90", "90s", "15m", "2.5h", "7d" to seconds; none when the text is no such duration.
std::optional<double> ParseDuration(const std::string& text) {
  if (text.empty()) return std::nullopt;
  double factor = 1;
  std::string number = text;
  switch (text.back()) {
    case 's':
      number.pop_back();
      break;
    case 'm':
      factor = 60;
      number.pop_back();
      break;
    case 'h':
      factor = 3600;
      number.pop_back();
      break;
    case 'd':
      factor = 24 * 3600;
      number.pop_back();
      break;
    default:
      break;
  }
  double value = 0;
  const char* last = number.data() + number.size();
  const auto [end, ec] = std::from_chars(number.data(), last, value);
  if (number.empty() || ec != std::errc() || end != last || !std::isfinite(value))
    return std::nullopt;
  return value * factor;
}

// The headers a recording of either module starts with.
std::vector<std::string> KnownHeaders() {
  const MainForm f;
  std::vector<std::string> analog, thermistor;
  for (const Label& l : f.analog_caption) analog.push_back(l.caption);
  for (const Label& l : f.thermistor_caption) thermistor.push_back(l.caption);
  return {CsvHeader(analog), CsvHeader(thermistor)};
}

class LogCommand final : public CopyableCommand<LogCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("file", file_, "CSV file; an existing one with the same header is continued")
        ->required();
    sub.add_option(
           "--interval", interval_text_,
           "Seconds from the start of one poll to the next; less than 0.05 is taken as 0.05")
        ->type_name("FLOAT")
        ->capture_default_str();
    CLI::Option* duration =
        sub.add_option("--duration", duration_text_,
                       "Stop after this long: seconds, or a number with s, m, h or d (e.g. 8h)");
    CLI::Option* count =
        sub.add_option("--count", count_text_, "Stop after this many polls")->type_name("INT");
    duration->excludes(count);
    sub.add_option("--rotate", rotate_text_,
                   "Finish the file daily, hourly, or once it holds SIZE bytes (K, M or G "
                   "after the number): it is moved aside as FILE's name with the day, the hour "
                   "or a counter before its extension, and a new FILE begins")
        ->type_name("daily|hourly|SIZE");
    sub.add_option("--keep", keep_text_, "With --rotate: keep only the newest N finished files")
        ->type_name("N");
    sub.add_flag("--gzip", gzip_, "With --rotate: compress finished files (.gz)");
    sub.add_option("--metrics", metrics_text_,
                   "Serve the readings to Prometheus at http://ADDR:PORT/metrics (ADDR "
                   "127.0.0.1 unless given)")
        ->type_name("[ADDR:]PORT");
    sub.footer(
        "Without --duration or --count the log runs until SIGINT (Ctrl+C) or SIGTERM; the file "
        "is closed cleanly either way; SIGHUP reopens it (the next row goes to a file of its "
        "name, begun with its header when it was moved away). With many modules (--hosts) the file "
        "is in long form: "
        "time,module,channel,value,unit.");
  }

  void Attach(CliEnv& env) override { metrics_backend_ = env.metrics; }

  void CheckArguments() override {
    if (metrics_text_) {
      metrics_ = ParseMetricsAddress(*metrics_text_, "log");
      if (!metrics_backend_) MetricsNotAvailable("log");
    }
    interval_ = ParseDecimal(interval_text_, "log: --interval");
    if (interval_ < 0 || interval_ > kLongestInterval)
      throw UsageError("log: --interval must be 0 to 86400 seconds, not " + interval_text_);
    if (count_text_) {
      count_ = ParseWholeNumber(*count_text_, "log: --count");
      if (*count_ < 1) throw UsageError("log: --count must be 1 or more, not " + *count_text_);
    }
    if (duration_text_) {
      duration_ = ParseDuration(*duration_text_);
      if (!duration_ || *duration_ <= 0 || *duration_ > kLongestDuration)
        throw UsageError(
            "log: --duration is a time such as 90, 90s, 15m, 8h or 7d (at most 366d), "
            "not '" +
            *duration_text_ + "'");
    }
    CheckRotation();
    // Refused before anything is sent: a file that can only belong to something else.
    if (file_.empty()) throw UsageError("log: cannot record to a file without a name");
    // A recording is continued and put on the disk row by row, which standard output cannot be.
    if (file_ == "-")
      throw UsageError(
          "log: - is standard output, not a file to record to (read --csv prints the rows there; "
          "./- names a file called -)");
    const std::filesystem::path path = PathFromUtf8(file_);
    const std::filesystem::path folder = path.parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
      throw Failed("cannot record to \"" + file_ + "\": the folder does not exist");
    std::optional<std::string> header;
    try {
      header = FirstLineOf(path);
    } catch (const RecordError& e) {
      throw Failed(e.what());
    }
    ProbeWritable(path, file_);
    if (!header) return;
    if (module_count() > 1) {
      if (*header != kLongCsvHeader)
        throw Failed("\"" + file_ + "\" holds no recording of many modules (its first line is " +
                     "not \"" + kLongCsvHeader + "\"); choose another file");
      return;
    }
    const std::vector<std::string> known = KnownHeaders();
    if (std::find(known.begin(), known.end(), *header) == known.end())
      throw Failed("\"" + file_ + "\" holds no recording of readings (its first line is not " +
                   "a header such as \"" + known.back() + "\"); choose another file");
  }

  void Run(Session& s) override {
    std::vector<std::string> names, texts;
    ShownChannels(s.window().form, names, texts);
    // --verbose writes lines of its own inside every poll: no line to rewrite in place then.
    LiveStatus status(s.err, s.options().verbose ? 0 : s.status_columns());
    engine::ModuleLines lines(s.err, {""}, [&status] { status.Clear(); });
    // Listening first: a port that is taken leaves no file begun.
    engine::MetricsSink metrics;
    const auto endpoint = ServeMetrics(metrics_backend_, metrics_, metrics, s.err);
    std::optional<engine::CsvSink> csv;
    try {
      csv.emplace(PathFromUtf8(file_), file_, names, Teller(lines));
    } catch (const RecordError& e) {
      throw Failed(e.what());
    }
    Configure(*csv);
    engine::SinkSet sinks;
    sinks.Add(*csv);
    sinks.Add(metrics);
    engine::Engine run({{{"", AddressOf(s)}, &s}}, lines, sinks, Options());
    StopRequestSignal stop(StopRequest::Install());
    try {
      run.Run(stop, [&] { status.Show(StatusLine(*csv, run.poller(0), run.state(0).last)); });
    } catch (const engine::SinkError& e) {
      status.Clear();
      throw Failed(e.what());
    }
    status.Clear();
    s.out << csv->Summary() << '\n';
    // A file of gaps alone is no recording: the run did not do what it was started for.
    if (!run.state(0).answered)
      throw Failed("the module never answered during the run" +
                   (run.poller(0).lost_reason().empty() ? std::string()
                                                        : ": " + run.poller(0).lost_reason()));
  }

  bool RunsOnManyTogether() const override { return true; }

  // Every module polled in each round, all at once; their samples appended in the inventory's
  // order, so the file reads round by round.
  int RunOnMany(const std::vector<std::string>& labels, const SessionMaker& open, std::ostream& out,
                std::ostream& err) override {
    const std::size_t n = labels.size();
    // Told on standard error as each module said it, named by the module.
    engine::ModuleLines lines(err, labels);
    engine::MetricsSink metrics;
    const auto endpoint = ServeMetrics(metrics_backend_, metrics_, metrics, err);
    std::optional<engine::CsvSink> csv;
    try {
      csv.emplace(PathFromUtf8(file_), file_, CsvRecorder::LongForm{}, Teller(lines));
    } catch (const RecordError& e) {
      throw Failed(e.what());
    }
    // What a module's session shows on standard output is no part of a recording.
    std::vector<std::unique_ptr<std::ostream>> discarded;
    std::vector<std::unique_ptr<Session>> sessions;
    std::vector<engine::EngineModule> modules;
    for (std::size_t i = 0; i < n; ++i) {
      discarded.push_back(std::make_unique<std::ostream>(nullptr));
      sessions.push_back(open(i, *discarded.back(), lines.stream(i)));
      modules.push_back({{labels[i], AddressOf(*sessions.back())}, sessions.back().get()});
    }
    Configure(*csv);
    engine::SinkSet sinks;
    sinks.Add(*csv);
    sinks.Add(metrics);
    engine::Engine run(std::move(modules), lines, sinks, Options());
    run.Start();
    StopRequestSignal stop(StopRequest::Install());
    try {
      run.Run(stop);
    } catch (const engine::SinkError& e) {
      throw Failed(e.what());
    }
    out << csv->Summary() << '\n';
    int status = kExitOk;
    for (std::size_t i = 0; i < n; ++i) {
      if (run.state(i).answered) continue;
      const std::string& why = run.poller(i).lost_reason();
      err << labels[i] << ": zvk: the module never answered during the run"
          << (why.empty() ? "" : ": " + why) << '\n';
      status = kExitFailed;
    }
    return status;
  }

 private:
  void CheckRotation() {
    if (rotate_text_) {
      rotation_ = engine::ParseRotation(*rotate_text_);
      if (!rotation_ || (rotation_->every == engine::Rotation::Every::Size &&
                         rotation_->size < kSmallestRotatedFile))
        throw UsageError(
            "log: --rotate is daily, hourly or a size such as 500K, 10M or 1G (at least 1K), "
            "not '" +
            *rotate_text_ + "'");
    }
    if (keep_text_) {
      if (!rotation_) throw UsageError("log: --keep is for finished files: it needs --rotate");
      const std::int64_t keep = ParseWholeNumber(*keep_text_, "log: --keep");
      if (keep < 1) throw UsageError("log: --keep must be 1 or more, not " + *keep_text_);
      rotation_->keep = static_cast<std::size_t>(keep);
    }
    if (gzip_) {
      if (!rotation_) throw UsageError("log: --gzip is for finished files: it needs --rotate");
      if (!engine::CanCompress())
        throw UsageError("log: --gzip is not available in this build of zvk");
      rotation_->gzip = true;
    }
  }

  // The file's rotation, and SIGHUP to reopen it.
  void Configure(engine::CsvSink& csv) const {
    try {
      if (rotation_) csv.SetRotation(*rotation_);
    } catch (const RecordError& e) {
      throw Failed(e.what());
    }
    ReopenRequest::Install();
    csv.SetReopen([] { return ReopenRequest::Take(); });
  }

  engine::EngineOptions Options() const {
    engine::EngineOptions options;
    options.limits.interval_s = interval_;
    options.limits.shortest_interval_s = kShortestInterval;
    if (count_) options.limits.count = static_cast<std::size_t>(*count_);
    options.limits.duration_s = duration_;
    options.gap_note = "the rows are gaps until the module answers";
    return options;
  }

  static engine::CsvSink::Tell Teller(engine::ModuleLines& lines) {
    return [&lines](std::size_t i, const std::string& message) { lines.Tell(i, message); };
  }

  static std::string AddressOf(Session& s) {
    return s.app().link.DeviceHost + ":" + std::to_string(s.options().port);
  }

  static std::string StatusLine(const engine::CsvSink& csv, const engine::ModulePoller& poller,
                                const Sample& last) {
    std::string line = csv.Status() + " |";
    if (poller.lost()) return line + " waiting for the module: " + poller.lost_reason();
    for (const Reading& r : last.readings) line += " " + r.channel + " " + r.text;
    return line;
  }

  std::string file_;
  std::string interval_text_ = "3.1";
  double interval_ = 3.1;
  std::optional<std::string> duration_text_;
  std::optional<double> duration_;
  std::optional<std::string> count_text_;
  std::optional<std::int64_t> count_;
  std::optional<std::string> rotate_text_;
  std::optional<std::string> keep_text_;
  bool gzip_ = false;
  std::optional<engine::Rotation> rotation_;
  std::optional<std::string> metrics_text_;
  std::optional<MetricsAddress> metrics_;
  MetricsBackend* metrics_backend_ = nullptr;
};

}  // namespace

void AddRecordingCommands(std::vector<CommandEntry>& table) {
  table.push_back({"log", "Recording",
                   "Record every poll to a CSV file (as read --csv), through dropouts, until "
                   "stopped",
                   true, false, [] { return std::unique_ptr<Command>(new LogCommand); }});
}

}  // namespace zvk::cli
