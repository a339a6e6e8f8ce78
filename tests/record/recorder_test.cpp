// Recording to a CSV file: the rows of each kind of sample, continuing an existing file, and
// refusing one that belongs to something else.
#include "record/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "record/csv_format.h"
#include "support/readings.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace zvk {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

const std::vector<std::string> kTh = {"TH0", "TH1", "TH2"};
const std::string kThHeader = "time,TH0,TH1,TH2";
const TimePoint kT0 = TimePoint(seconds(1'780'000'000));
// The line end of a new file: the platform's, as `zvk read --csv` prints rows there.
#ifdef _WIN32
const std::string kEol = "\r\n";
#else
const std::string kEol = "\n";
#endif

// The recorder writes the texts as shown; their numbers are of no concern to it.
Sample Readings(TimePoint t, std::vector<std::string> texts, std::vector<std::string> names = kTh) {
  std::vector<Reading> readings;
  for (std::string& text : texts) readings.push_back(test::Shown(std::move(text)));
  return {t, SampleKind::Readings, test::Named(names, std::move(readings))};
}
Sample Gap(TimePoint t) {
  return {t, SampleKind::Gap, {}};
}
Sample Pause(TimePoint t) {
  return {t, SampleKind::Pause, {}};
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zvk-recorder-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(Recorder, WritesTheHeaderThenOneRowPerPollWithGapsAsTimeAlone) {
  const fs::path file = dir / "run.csv";
  CsvRecorder recorder(file, kTh);
  EXPECT_FALSE(recorder.continued());

  using W = CsvRecorder::Written;
  EXPECT_EQ(recorder.Append(Readings(kT0, {"24.9\u2103", "77.5\u2109", "Disable"})), W::Row);
  EXPECT_EQ(recorder.Append(Gap(kT0 + seconds(3))), W::Gap);
  EXPECT_EQ(recorder.Append(Pause(kT0 + seconds(6))), W::Nothing);
  // Another module's channels do not fit the file's columns: the row is a gap.
  EXPECT_EQ(recorder.Append(Readings(kT0 + seconds(9), {"1.2346V"}, {"AI0"})), W::Gap);
  EXPECT_TRUE(recorder.foreign_channels());
  EXPECT_EQ(recorder.Append(Readings(kT0 + seconds(12), {"Over Range", "-0.5\u2103", "0.0\u2103"})),
            W::Row);
  EXPECT_FALSE(recorder.foreign_channels());

  EXPECT_EQ(recorder.rows(), 4u);
  EXPECT_EQ(recorder.gaps(), 2u);
  EXPECT_EQ(Read(file), kThHeader + kEol +                                       //
                            LocalTimestamp(kT0) + ",24.9,77.5,Disable" + kEol +  //
                            LocalTimestamp(kT0 + seconds(3)) + ",,," + kEol +    //
                            LocalTimestamp(kT0 + seconds(9)) + ",,," + kEol +    //
                            LocalTimestamp(kT0 + seconds(12)) + ",Over Range,-0.5,0.0" + kEol);
}

TEST_F(Recorder, ContinuesAFileWithTheSameHeader) {
  const std::string row = LocalTimestamp(kT0) + ",1.0,2.0,3.0";
  const std::string next = LocalTimestamp(kT0 + seconds(3)) + ",4.0,5.0,6.0";
  struct Case {
    const char* what;
    std::string before;
    std::string after;
    bool continued;
  } cases[] = {
      {"empty file", "", kThHeader + kEol + next + kEol, false},
      // A file keeps the line ends its header has, on every platform.
      {"earlier rows", kThHeader + "\n" + row + "\n", kThHeader + "\n" + row + "\n" + next + "\n",
       true},
      {"CRLF line ends", kThHeader + "\r\n" + row + "\r\n",
       kThHeader + "\r\n" + row + "\r\n" + next + "\r\n", true},
      // A recording cut off mid-row: that row stays a broken line of its own.
      {"cut-off last row", kThHeader + "\n" + row.substr(0, 20),
       kThHeader + "\n" + row.substr(0, 20) + "\n" + next + "\n", true},
      {"cut-off last row, CRLF", kThHeader + "\r\n" + row.substr(0, 20),
       kThHeader + "\r\n" + row.substr(0, 20) + "\r\n" + next + "\r\n", true},
      {"header alone without line end", kThHeader, kThHeader + kEol + next + kEol, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = dir / "continued.csv";
    Write(file, c.before);
    CsvRecorder recorder(file, kTh);
    EXPECT_EQ(recorder.continued(), c.continued);
    recorder.Append(Readings(kT0 + seconds(3), {"4.0\u2103", "5.0\u2103", "6.0\u2103"}));
    EXPECT_EQ(Read(file), c.after);
  }
}

TEST_F(Recorder, RefusesWhatIsNoRecordingOfTheseChannelsAndLeavesItAlone) {
  struct Case {
    const char* what;
    std::string content;
    std::string message;
  } cases[] = {
      {"other module", "time,AI0,AI1,AI2,AI3,AI4\n1,2,3,4,5,6\n",
       "holds other columns: \"time,AI0,AI1,AI2,AI3,AI4\", not \"time,TH0,TH1,TH2\"; choose "
       "another file"},
      {"fewer channels", "time,TH0,TH1\n", "holds other columns: \"time,TH0,TH1\""},
      {"more channels", "time,TH0,TH1,TH2,TH3\n1,2,3,4,5\n",
       "holds other columns: \"time,TH0,TH1,TH2,TH3\""},
      {"not a recording",
       std::string("\x7F"
                   "ELF\x02\x01",
                   6),
       "holds other columns: a first line that is no header of readings"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = dir / "other.csv";
    Write(file, c.content);
    try {
      CsvRecorder recorder(file, kTh);
      ADD_FAILURE() << "not refused";
    } catch (const RecordError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("\"" + file.string() + "\"", 0), 0u) << e.what();
    }
    EXPECT_EQ(Read(file), c.content);
  }

  EXPECT_THROW(CsvRecorder(dir, kTh), RecordError);  // a folder
  try {
    CsvRecorder(dir / "missing" / "run.csv", kTh);
    ADD_FAILURE() << "not refused";
  } catch (const RecordError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot open"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

#ifndef _WIN32
// The disk fills up: the file may grow by no more than `room` bytes. SIGXFSZ is ignored, so a
// write past the limit stops short or fails as on a full disk.
class FileSizeLimit {
 public:
  FileSizeLimit(const fs::path& file, std::size_t room) {
    std::error_code ec;
    const auto size = fs::exists(file) ? fs::file_size(file, ec) : 0;
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = static_cast<rlim_t>(size + room);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, SIG_DFL);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
};

TEST_F(Recorder, ARowThatCannotBeWrittenIsReportedAndNoPartOfItIsKept) {
  const Sample row = Readings(kT0, {"-7.4912\u2103", "77.5\u2109", "Disable"});
  const std::string line = CsvRow(kT0, TextsOf(row.readings), kTh.size()) + "\n";
  // No room at all, room for the start of the row (its value would read -7), all but its end.
  for (const std::size_t room : {std::size_t{0}, line.size() - 12, line.size() - 1}) {
    SCOPED_TRACE(room);
    const fs::path file = dir / ("full" + std::to_string(room) + ".csv");
    CsvRecorder recorder(file, kTh);
    recorder.Append(row);
    const std::string before = Read(file);
    {
      FileSizeLimit full(file, room);
      EXPECT_THROW(recorder.Append(row), RecordError);
    }
    EXPECT_EQ(Read(file), before);
    // Room again: the recording goes on where the whole rows end.
    recorder.Append(row);
    EXPECT_EQ(Read(file), before + line);
    CsvRecorder continued(file, kTh);
    EXPECT_TRUE(continued.continued());
  }
}

TEST_F(Recorder, ANewFileThatCannotTakeItsHeaderIsRemoved) {
  const std::string header = kThHeader + "\n";
  struct Case {
    std::size_t room;
    bool kept;
  };
  // Room for part of the header: no file is left. Room for the header alone: it stays.
  for (const Case c : {Case{0, false}, Case{5, false}, Case{header.size(), true}}) {
    SCOPED_TRACE(c.room);
    const fs::path file = dir / ("new" + std::to_string(c.room) + ".csv");
    {
      FileSizeLimit full(dir / "no such file", c.room);
      try {
        CsvRecorder recorder(file, kTh);
        EXPECT_THROW(recorder.Append(Readings(kT0, {"1", "2", "3"})), RecordError);
      } catch (const RecordError& e) {
        EXPECT_FALSE(c.kept) << e.what();
      }
    }
    EXPECT_EQ(fs::exists(file), c.kept);
    if (c.kept) {
      EXPECT_EQ(Read(file), header);
    }
  }
}
#endif

}  // namespace
}  // namespace zvk
