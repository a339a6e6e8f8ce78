// The trend window's model: the lines each channel draws, the spans, thinning, the CSV export;
// and the recording beside it, both fed by the watched module's sinks.
#include "record/trend_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/watch_sinks.h"
#include "record/csv_format.h"
#include "support/readings.h"

namespace zvk {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;
using test::C;
using test::F;
using test::V;
using test::Without;

const std::vector<std::string> kTh = {"TH0", "TH1"};
const TimePoint kT0 = TimePoint(seconds(1'780'000'000));

// A model on a clock the test moves.
struct Trend {
  TimePoint now = kT0;
  TrendModel model{[this] { return now; }};
  engine::WatchSinks sinks{model};

  void Readings(std::vector<Reading> readings, std::vector<std::string> names = kTh,
                const std::string& module = "") {
    sinks.Receive({now, SampleKind::Readings, test::Named(names, std::move(readings)), module,
                   module.empty() ? "" : "bench " + module.substr(module.size() - 2)});
    now += seconds(3);
  }
  void Add(SampleKind kind, const std::string& module = "") {
    sinks.Receive({now, kind, {}, module, ""});
    now += seconds(3);
  }
  // Each line of the channel as its values, in the whole history.
  std::vector<std::vector<double>> Values(std::size_t ch) {
    std::vector<std::vector<double>> values;
    for (const TrendLine& line : model.Lines(ch, model.Range(TrendSpan::Everything), 1000)) {
      values.emplace_back();
      for (const TrendPoint& p : line) values.back().push_back(p.value);
    }
    return values;
  }
};

TEST(TrendModel, LinesEndWhereAValueIsMissingOrTheUnitChanges) {
  Trend t;
  t.Readings({C(24.9), V(1.5)});
  t.Readings({C(25.0), V(-10.2540)});
  t.Add(SampleKind::Gap);
  t.Readings({C(25.1), Without(ReadingState::Disable)});
  t.Readings({Without(ReadingState::OverRange), V(2.0)});
  t.Readings({Without(ReadingState::UnderRange), V(3.0)});
  t.Add(SampleKind::Pause);
  t.Add(SampleKind::Pause);
  t.Readings({F(77.5), V(4.0)});
  t.Readings({F(77.7), V(5.0)});
  t.Readings({C(25.0), V(6.0)});

  using Lines = std::vector<std::vector<double>>;
  EXPECT_EQ(t.Values(0), (Lines{{24.9, 25.0}, {25.1}, {77.5, 77.7}, {25.0}}));
  EXPECT_EQ(t.Values(1), (Lines{{1.5, -10.254}, {2.0, 3.0}, {4.0, 5.0, 6.0}}));
  EXPECT_EQ(t.model.Unit(0), "\u2103");
  EXPECT_EQ(t.model.Unit(1), "V");
  // A long pause is kept as one break.
  EXPECT_EQ(t.model.size(), 10u);
}

TEST(TrendModel, SpansEndNowAndEverythingStartsAtTheFirstSample) {
  Trend t;
  t.now += minutes(2);
  const TimePoint first = t.now;
  for (int i = 0; i < 200; ++i) t.Readings({C(20.0), C(21.0)});  // 10 minutes
  const TimePoint now = t.now;

  struct Case {
    TrendSpan span;
    TimePoint from;
    std::size_t points;
  } cases[] = {
      {TrendSpan::Last5Minutes, now - minutes(5), 100},
      {TrendSpan::LastHour, now - minutes(60), 200},
      {TrendSpan::Everything, first, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kTrendSpanNames[static_cast<int>(c.span)]);
    const TrendRange range = t.model.Range(c.span);
    EXPECT_EQ(range.from, c.from);
    EXPECT_EQ(range.to, now);
    const auto lines = t.model.Lines(0, range, 1000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), c.points);
  }
}

TEST(TrendModel, ManyValuesAreThinnedToTheLowestAndHighestOfEachSlice) {
  Trend t;
  // A sawtooth of 1000 values, with one spike that must survive the thinning.
  for (int i = 0; i < 1000; ++i) {
    t.Readings({C(i == 637 ? 99.0 : i % 10), C(0.0)});
  }
  const TrendRange range = t.model.Range(TrendSpan::Everything);
  const auto lines = t.model.Lines(0, range, 100);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LE(lines[0].size(), 102u);
  EXPECT_GE(lines[0].size(), 90u);
  double high = 0, low = 100;
  for (std::size_t i = 0; i < lines[0].size(); ++i) {
    high = std::max(high, lines[0][i].value);
    low = std::min(low, lines[0][i].value);
    if (i > 0) {
      EXPECT_LT(lines[0][i - 1].ms, lines[0][i].ms);  // still in time order
    }
  }
  EXPECT_EQ(high, 99.0);
  EXPECT_EQ(low, 0.0);
  // Few enough values are all drawn.
  EXPECT_EQ(t.model.Lines(0, range, 1000)[0].size(), 1000u);
}

TEST(TrendModel, CsvHoldsTheSamplesOfTheRangeAsReadCsvPrintsThem) {
  Trend t;
  t.Readings({C(24.9), Without(ReadingState::Disable)});
  const TimePoint second = t.now;
  t.Add(SampleKind::Gap);
  t.Add(SampleKind::Pause);
  const TimePoint third = t.now;
  t.Readings({F(77.5), C(-0.5)});

  EXPECT_EQ(t.model.Csv(t.model.Range(TrendSpan::Everything)),
            "time,TH0,TH1\n" + LocalTimestamp(kT0) + ",24.9,Disable\n" + LocalTimestamp(second) +
                ",,\n" + LocalTimestamp(third) + ",77.5,-0.5\n");
  // Both ends of the span belong to it.
  const struct {
    TrendRange range;
    std::string rows;
  } spans[] = {
      {{second, third - milliseconds(1)}, LocalTimestamp(second) + ",,\n"},
      {{second, third}, LocalTimestamp(second) + ",,\n" + LocalTimestamp(third) + ",77.5,-0.5\n"},
      {{third, third}, LocalTimestamp(third) + ",77.5,-0.5\n"},
      {{second + milliseconds(1), third - milliseconds(1)}, ""},
  };
  for (const auto& span : spans) EXPECT_EQ(t.model.Csv(span.range), "time,TH0,TH1\n" + span.rows);
}

TEST(TrendModel, AnotherModulesChannelsStartTheHistoryAgainWhileTheRecordingGoesOnWithGaps) {
  const fs::path file = fs::temp_directory_path() / "zvk-trend-model-other-module.csv";
  fs::remove(file);
  Trend t;
  EXPECT_THROW(t.sinks.StartRecording(file), RecordError);  // no channels yet
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(t.sinks.RecordingStatus(), "Not recording");

  t.Readings({C(24.9), C(25.0)});
  t.sinks.StartRecording(file);
  t.Readings({C(25.0), C(25.1)});
  t.Add(SampleKind::Gap);
  t.Readings({V(1.0000)}, {"AI0"});
  EXPECT_EQ(t.model.channels(), std::vector<std::string>{"AI0"});
  EXPECT_EQ(t.model.size(), 1u);
  EXPECT_EQ(t.sinks.RecordingStatus(),
            "Recording to zvk-trend-model-other-module.csv: 3 rows, 2 gaps (the module shows "
            "other channels than the file)");
  t.sinks.StopRecording();
  t.Readings({V(2.0000)}, {"AI0"});
  EXPECT_EQ(t.sinks.RecordingStatus(), "Not recording");

  std::vector<std::string> lines;
  {
    std::ifstream in(file);  // closed before the file is removed: Windows refuses an open one
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  EXPECT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "time,TH0,TH1");
  EXPECT_EQ(lines[3], LocalTimestamp(kT0 + seconds(9)) + ",,");
  fs::remove(file);
}

TEST(TrendModel, AnotherModuleEndsTheLinesWithAMarkAndTheRecordingOfTheFirst) {
  const std::string a = "02:5A:51:36:00:01";
  const std::string b = "02:5A:51:36:00:02";
  const fs::path file = fs::temp_directory_path() / "zvk-trend-model-module-change.csv";
  fs::remove(file);
  Trend t;
  std::vector<std::string> told;
  t.sinks.on_record_error = [&](const std::string& reason) { told.push_back(reason); };
  t.Readings({C(24.6), C(25.0)}, kTh, a);
  t.sinks.StartRecording(file);
  t.Readings({C(24.6), C(25.0)}, kTh, a);
  t.Readings({C(34.6), C(35.0)}, kTh, b);
  t.Readings({C(34.7), C(35.1)}, kTh, b);

  // Same channels, other module: two lines, never one running across.
  EXPECT_EQ(t.Values(0), (std::vector<std::vector<double>>{{24.6, 24.6}, {34.6, 34.7}}));
  ASSERT_EQ(t.model.marks().size(), 1u);
  EXPECT_EQ(
      t.model.marks()[0].ms,
      std::chrono::duration_cast<milliseconds>((kT0 + seconds(6)).time_since_epoch()).count());
  EXPECT_EQ(t.model.marks()[0].name, "bench 02");
  EXPECT_EQ(t.model.marks()[0].mac, b);
  EXPECT_EQ(t.model.module_mac(), b);
  EXPECT_EQ(t.model.module_name(), "bench 02");

  const std::string reason =
      "the main window now watches another module (bench 02); its readings do not belong in "
      "zvk-trend-model-module-change.csv. Record again to start a file for it.";
  EXPECT_EQ(told, std::vector<std::string>{reason});
  EXPECT_FALSE(t.sinks.recording());
  EXPECT_EQ(t.sinks.RecordingStatus(), "Recording stopped: " + reason);
  std::vector<std::string> lines;
  {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"time,TH0,TH1",
                                             LocalTimestamp(kT0 + seconds(3)) + ",24.6,25.0"}));
  // The export holds the module shown now: its file would name no module.
  std::istringstream csv(t.model.Csv(t.model.Range(TrendSpan::Everything)));
  std::vector<std::string> rows;
  for (std::string line; std::getline(csv, line);) rows.push_back(line);
  EXPECT_EQ(rows, (std::vector<std::string>{"time,TH0,TH1",
                                            LocalTimestamp(kT0 + seconds(6)) + ",34.6,35.0",
                                            LocalTimestamp(kT0 + seconds(9)) + ",34.7,35.1"}));
  fs::remove(file);
}

TEST(TrendModel, WhatCountsAsAnotherModule) {
  const std::string a = "02:5A:51:36:00:01";
  const struct {
    SampleKind kind;
    std::string module;
    bool other;
  } cases[] = {
      {SampleKind::Readings, a, false},
      {SampleKind::Readings, "02:5A:51:36:00:02", true},
      {SampleKind::Readings, "", true},  // readings whose identity record was not whole
      {SampleKind::Gap, "", false},
      {SampleKind::Gap, a, false},
      {SampleKind::Gap, "02:5A:51:36:00:02", true},
      {SampleKind::Pause, "02:5A:51:36:00:02", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.module + (c.kind == SampleKind::Readings ? " readings" : " gap or pause"));
    Sample s{kT0, c.kind, {}, c.module, ""};
    EXPECT_EQ(OfAnotherModule(s, a), c.other);
    Trend t;
    t.Readings({V(1.0), V(2.0)}, kTh, a);
    t.model.Add(s);
    EXPECT_EQ(t.model.marks().size(), c.other ? 1u : 0u);
  }
}

}  // namespace
}  // namespace zvk
