// The CSV sink's rotation, fed samples with chosen times: files finished by size and by period,
// their names, headers and whole rows, --keep among look-alike files, compression, and a run
// started again after a crash between the move of a finished file and the new file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/csv_sink.h"
#include "engine/rotation.h"

#if __has_include(<zlib.h>)
#include <zlib.h>
#define ZVK_TEST_GZIP 1
#endif

namespace zvk::engine {
namespace {

namespace fs = std::filesystem;

const std::string kHeader = "time,AI0,AI1";

// Local wall-clock time, so the expected names hold in every time zone.
TimePoint Local(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

// Sample n's value as the file holds it: "0.0100" for 1, every row of the same length.
std::string Text(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%.4f", n / 100.0);
  return text;
}

Sample Values(TimePoint time, int n) {
  Sample s;
  s.time = time;
  s.kind = SampleKind::Readings;
  for (const char* channel : {"AI0", "AI1"}) {
    s.readings.push_back({channel, n / 100.0, ReadingUnit::Volt, ReadingState::Ok, Text(n) + "V"});
  }
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a new file's rows on Windows
    lines.push_back(line);
  }
  return lines;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

class CsvRotation : public ::testing::Test {
 protected:
  void SetUp() override {
    // Unique to this run: test runs of other checkouts on the machine share the temp folder.
    dir = fs::temp_directory_path() /
          ("zvk-rotation-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = dir / "log.csv";
  }
  void TearDown() override { fs::remove_all(dir); }

  std::unique_ptr<CsvSink> Sink(const Rotation& rotation) {
    auto sink =
        std::make_unique<CsvSink>(file, "log.csv", std::vector<std::string>{"AI0", "AI1"}, nullptr);
    sink->SetRotation(rotation);
    sink->Admit(0, {"", "127.0.0.1:13577"}, {});
    return sink;
  }

  // The second value of each row of a file, checking that the file begins with the header and
  // every row is whole.
  std::vector<std::string> RowsOf(const std::string& text) {
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "a row was cut";
    std::vector<std::string> lines = Lines(text);
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return {};
    EXPECT_EQ(lines[0], kHeader);
    std::vector<std::string> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      EXPECT_EQ(std::count(line.begin(), line.end(), ','), 2) << line;
      values.push_back(line.substr(line.rfind(',') + 1));
    }
    return values;
  }

  fs::path dir;
  fs::path file;
};

TEST_F(CsvRotation, BySizeFilesAreCountedOnEachHoldsItsHeaderAndWholeRowsInOrder) {
  Rotation rotation = *ParseRotation("200");
  {
    auto sink = Sink(rotation);
    for (int n = 1; n <= 20; ++n) sink->Receive(0, Values(Local(2026, 12, 11, 10, n), n));
    EXPECT_EQ(sink->Summary(), "\"log.csv\": 20 rows written (0 gaps)");
  }
  // A header of 13 bytes and rows of 44 (one more each with CRLF): a file is finished before
  // its next row once it holds 200 bytes or more, which is after 5 rows.
  EXPECT_EQ(Names(dir), (std::set<std::string>{"log.1.csv", "log.2.csv", "log.3.csv", "log.csv"}));
  std::vector<std::string> all;
  for (const char* name : {"log.1.csv", "log.2.csv", "log.3.csv", "log.csv"}) {
    SCOPED_TRACE(name);
    const std::string text = Read(dir / name);
    if (std::string(name) != "log.csv") {
      EXPECT_GE(text.size(), 200u);
    }
    const std::vector<std::string> rows = RowsOf(text);
    all.insert(all.end(), rows.begin(), rows.end());
  }
  ASSERT_EQ(all.size(), 20u);
  for (int n = 1; n <= 20; ++n) EXPECT_EQ(all[n - 1], Text(n));

  // A run started again continues the file, and the counter after the last finished one.
  auto again = Sink(rotation);
  for (int n = 21; n <= 23; ++n) again->Receive(0, Values(Local(2026, 12, 11, 11, n), n));
  EXPECT_TRUE(fs::exists(dir / "log.4.csv"));
  EXPECT_EQ(RowsOf(Read(dir / "log.4.csv")).front(), Text(16));
}

TEST_F(CsvRotation, ByPeriodAFileIsNamedByTheDayOrHourOfItsRows) {
  struct Case {
    const char* every;
    std::vector<TimePoint> times;
    std::set<std::string> names;
  };
  const Case cases[] = {
      {"daily",
       {Local(2026, 12, 10, 23, 58), Local(2026, 12, 10, 23, 59), Local(2026, 12, 11, 0, 0),
        Local(2026, 12, 11, 23, 0), Local(2026, 12, 13, 8, 0)},
       {"log.2026-12-10.csv", "log.2026-12-11.csv", "log.csv"}},
      {"hourly",
       {Local(2026, 12, 11, 13, 59), Local(2026, 12, 11, 14, 0), Local(2026, 12, 11, 14, 59),
        Local(2026, 12, 11, 15, 30)},
       {"log.2026-12-11T13.csv", "log.2026-12-11T14.csv", "log.csv"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.every);
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
      auto sink = Sink(*ParseRotation(c.every));
      int n = 0;
      for (TimePoint t : c.times) sink->Receive(0, Values(t, ++n));
    }
    EXPECT_EQ(Names(dir), c.names);
    std::size_t rows = 0;
    for (const std::string& name : c.names) rows += RowsOf(Read(dir / name)).size();
    EXPECT_EQ(rows, c.times.size());
  }
  // The rows of one day stay together, the last file holds the latest.
  EXPECT_EQ(RowsOf(Read(dir / "log.2026-12-11T14.csv")),
            (std::vector<std::string>{Text(2), Text(3)}));
  EXPECT_EQ(RowsOf(Read(dir / "log.csv")), std::vector<std::string>{Text(4)});
}

TEST_F(CsvRotation, KeepRemovesOnlyTheOldestFinishedFilesOfThisRecording) {
  // Names beside it that are not finished files of log.csv by size.
  const std::vector<std::string> others = {"log.csv.bak", "log.x.csv",  "log.2026-12-11.csv",
                                           "other.1.csv", "log.1a.csv", "log..csv",
                                           "log.1.txt",   "xlog.1.csv", "log.1.csv.part"};
  for (const std::string& name : others) std::ofstream(dir / name, std::ios::binary) << "keep me\n";

  Rotation rotation = *ParseRotation("100");
  rotation.keep = 2;
  {
    auto sink = Sink(rotation);
    for (int n = 1; n <= 12; ++n) sink->Receive(0, Values(Local(2026, 12, 11, 10, n), n));
  }
  std::set<std::string> expected(others.begin(), others.end());
  // Two rows make a file of 100 bytes or more: five files finished, the newest two kept.
  expected.insert({"log.4.csv", "log.5.csv", "log.csv"});
  EXPECT_EQ(Names(dir), expected);
  for (const std::string& name : others) EXPECT_EQ(Read(dir / name), "keep me\n") << name;
}

TEST_F(CsvRotation, ARunStartedAfterACrashBetweenTheMoveAndTheNewFileOverwritesNothing) {
  const Rotation daily = *ParseRotation("daily");
  {
    auto sink = Sink(daily);
    sink->Receive(0, Values(Local(2026, 12, 11, 10, 0), 1));
    sink->Receive(0, Values(Local(2026, 12, 11, 11, 0), 2));
  }
  // The crash: the finished file was moved aside, the new one not yet begun.
  RotatedFiles(file, daily).MoveAside("2026-12-11");
  ASSERT_FALSE(fs::exists(file));

  {
    // The clock set back to the same day: its rows get a name of their own.
    auto sink = Sink(daily);
    sink->Receive(0, Values(Local(2026, 12, 11, 12, 0), 3));
    sink->Receive(0, Values(Local(2026, 12, 12, 0, 1), 4));
  }
  EXPECT_EQ(RowsOf(Read(dir / "log.2026-12-11.csv")), (std::vector<std::string>{Text(1), Text(2)}));
  EXPECT_EQ(RowsOf(Read(dir / "log.2026-12-11-2.csv")), std::vector<std::string>{Text(3)});
  EXPECT_EQ(RowsOf(Read(file)), std::vector<std::string>{Text(4)});
  EXPECT_EQ(RotatedFiles(file, daily).Finished(),
            (std::vector<fs::path>{dir / "log.2026-12-11.csv", dir / "log.2026-12-11-2.csv"}));
}

#ifdef ZVK_TEST_GZIP
TEST_F(CsvRotation, CompressedFinishedFilesHoldTheRowsAndNoPlainCopyIsLeft) {
  ASSERT_TRUE(CanCompress());
  Rotation rotation = *ParseRotation("hourly");
  rotation.gzip = true;
  {
    auto sink = Sink(rotation);
    for (int n = 1; n <= 3; ++n) sink->Receive(0, Values(Local(2026, 12, 11, 8 + n / 3, n), n));
  }
  EXPECT_EQ(Names(dir), (std::set<std::string>{"log.2026-12-11T08.csv.gz", "log.csv"}));
  gzFile in = gzopen((dir / "log.2026-12-11T08.csv.gz").c_str(), "rb");
  ASSERT_NE(in, nullptr);
  std::string text(4096, '\0');
  const int n = gzread(in, text.data(), static_cast<unsigned>(text.size()));
  gzclose(in);
  ASSERT_GE(n, 0);
  text.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(RowsOf(text), (std::vector<std::string>{Text(1), Text(2)}));
}
#endif

TEST(Rotation, ParsesPeriodsAndSizes) {
  struct Case {
    const char* text;
    Rotation::Every every;
    std::uint64_t size;
  };
  const Case good[] = {
      {"daily", Rotation::Every::Day, 0},      {"hourly", Rotation::Every::Hour, 0},
      {"1500", Rotation::Every::Size, 1500},   {"10K", Rotation::Every::Size, 10240},
      {"3m", Rotation::Every::Size, 3u << 20}, {"2G", Rotation::Every::Size, 2ULL << 30}};
  for (const Case& c : good) {
    SCOPED_TRACE(c.text);
    const std::optional<Rotation> r = ParseRotation(c.text);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->every, c.every);
    EXPECT_EQ(r->size, c.size);
  }
  for (const char* bad : {"", "weekly", "Daily", "0", "0K", "K", "1.5M", "-1", " 1", "1T", "10KB",
                          "99999999999999999999", "17179869184G"})
    EXPECT_FALSE(ParseRotation(bad)) << bad;
}

}  // namespace
}  // namespace zvk::engine
