#include "record/recorder.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "record/csv_format.h"
#include "util/file_writer.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zvk {

namespace fs = std::filesystem;

namespace {

// A header longer than this is not one of ours.
constexpr std::size_t kLongestHeader = 4096;
constexpr std::size_t kLongestQuotedHeader = 120;

std::string Quoted(const fs::path& path) {
  return "\"" + PathToUtf8(path) + "\"";
}

// errno texts, the same on every platform's C runtime.
std::string SystemMessage(int error) {
  return std::generic_category().message(error);
}

// What the first line of an existing file shows in a message: itself when it is short plain
// text, otherwise a description.
std::string Shown(const std::string& line) {
  bool plain = line.size() <= kLongestQuotedHeader;
  for (unsigned char c : line) plain = plain && c >= 0x20 && c != 0x7F;
  return plain ? "\"" + line + "\"" : "a first line that is no header of readings";
}

// The one writer's open: only a regular file, through a link to its target, never waiting on a
// FIFO.
int OpenForAppend(const fs::path& path) {
  try {
    return OpenToAppend(path);
  } catch (const FileWriteError& e) {
    if (e.error() == 0) throw RecordError(e.what());
    throw RecordError("cannot open " + Quoted(path) + " for writing: " + SystemMessage(e.error()));
  }
}

// Past the operating system's cache: what has been written survives a power cut.
bool SyncToDisk(int fd) {
#ifdef _WIN32
  return ::_commit(fd) == 0;
#else
  return ::fsync(fd) == 0;
#endif
}

// The file's length, which is where an appended row begins; -1 when unknown.
long long FileEnd(int fd) {
#ifdef _WIN32
  return ::_lseeki64(fd, 0, SEEK_END);
#else
  return static_cast<long long>(::lseek(fd, 0, SEEK_END));
#endif
}

bool CutBackTo(int fd, long long length) {
#ifdef _WIN32
  return ::_chsize_s(fd, length) == 0;
#else
  return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
#endif
}

void CloseFile(int fd) {
#ifdef _WIN32
  ::_close(fd);
#else
  ::close(fd);
#endif
}

// A new file's name is on the disk only once its folder is; Windows has nothing to do here.
void SyncFolder([[maybe_unused]] const fs::path& file) {
#ifndef _WIN32
  fs::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
#endif
}

// A new file's line end: the platform's text convention, as `zvk read --csv` prints rows there.
#ifdef _WIN32
constexpr const char* kNewFileLineEnd = "\r\n";
#else
constexpr const char* kNewFileLineEnd = "\n";
#endif

struct ExistingFile {
  bool has_content = false;
  std::string first_line;
  std::string line_end;  // of the first line; empty when it has none
  bool ends_with_line_end = true;
};

ExistingFile Inspect(const fs::path& path) {
  ExistingFile file;
  try {
    WriteTargetOf(path);  // a folder, a device, a FIFO or a socket is refused, saying which
  } catch (const FileWriteError& e) {
    // A name the system cannot even look at (too long, no permission) is refused by the open,
    // in its words.
    if (e.error() != 0) return file;
    throw RecordError(e.what());
  }
  std::error_code ec;
  if (!fs::exists(path, ec)) return file;
  const auto size = fs::file_size(path, ec);
  if (ec) throw RecordError("cannot read " + Quoted(path) + ": " + ec.message());
  if (size == 0) return file;

  std::ifstream in(path, std::ios::binary);
  if (!in) throw RecordError("cannot read " + Quoted(path));
  file.has_content = true;
  char c = 0;
  bool newline = false;
  while (file.first_line.size() <= kLongestHeader && in.get(c)) {
    if ((newline = c == '\n')) break;
    file.first_line += c;
  }
  if (newline) file.line_end = "\n";
  if (newline && !file.first_line.empty() && file.first_line.back() == '\r') {
    file.first_line.pop_back();
    file.line_end = "\r\n";
  }
  in.clear();
  in.seekg(-1, std::ios::end);
  file.ends_with_line_end = in.get(c) && c == '\n';
  return file;
}

}  // namespace

std::optional<std::string> FirstLineOf(const fs::path& path) {
  ExistingFile file = Inspect(path);
  if (!file.has_content) return std::nullopt;
  return std::move(file.first_line);
}

CsvRecorder::CsvRecorder(const fs::path& path, std::vector<std::string> channels)
    : path_(path), channels_(std::move(channels)) {
  Open(CsvHeader(channels_));
}

CsvRecorder::CsvRecorder(const fs::path& path, LongForm) : path_(path) {
  Open(kLongCsvHeader);
}

void CsvRecorder::Open(const std::string& header) {
  const ExistingFile existing = Inspect(path_);
  if (existing.has_content && existing.first_line != header)
    throw RecordError(Quoted(path_) + " holds other columns: " + Shown(existing.first_line) +
                      ", not \"" + header + "\"; choose another file");
  continued_ = existing.has_content;
  // A continued file keeps its own line ends, whichever program and platform began it.
  line_end_ = existing.line_end.empty() ? kNewFileLineEnd : existing.line_end;

  std::error_code ec;
  const bool created = !fs::exists(path_, ec);
  fd_ = OpenForAppend(path_);
  try {
    if (!continued_) {
      WriteLine(header);
      SyncFolder(path_);
    } else if (!existing.ends_with_line_end) {
      // The row being written when the last recording stopped: it stays a line of its own.
      WriteLine("");
    }
  } catch (...) {
    CloseFile(fd_);
    fd_ = -1;
    // A file made here that could not even take its header would be taken for a recording.
    // Through a link, the file made is the link's target; the link stays.
    if (created) {
      try {
        fs::remove(WriteTargetOf(path_), ec);
      } catch (const FileWriteError&) {
      }
    }
    throw;
  }
}

CsvRecorder::~CsvRecorder() {
  if (fd_ >= 0) CloseFile(fd_);
}

std::uint64_t CsvRecorder::length() const {
  const long long end = fd_ < 0 ? -1 : FileEnd(fd_);
  return end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

CsvRecorder::Written CsvRecorder::Append(const Sample& sample) {
  if (sample.kind == SampleKind::Pause) return Written::Nothing;
  const bool values =
      sample.kind == SampleKind::Readings && SameChannels(sample.readings, channels_);
  foreign_channels_ = sample.kind == SampleKind::Readings && !values;
  WriteLine(CsvRow(sample.time, values ? TextsOf(sample.readings) : std::vector<std::string>(),
                   channels_.size()));
  ++rows_;
  if (!values) ++gaps_;
  return values ? Written::Row : Written::Gap;
}

CsvRecorder::Written CsvRecorder::AppendLong(const std::string& module, const Sample& sample) {
  if (sample.kind == SampleKind::Pause) return Written::Nothing;
  const std::string time = CsvRow(sample.time, {}, 0);
  const bool values = sample.kind == SampleKind::Readings && !sample.readings.empty();
  std::string lines;
  if (!values) lines = time + "," + module + ",,,";
  for (std::size_t ch = 0; values && ch < sample.readings.size(); ++ch) {
    const Reading& r = sample.readings[ch];
    const auto [value, unit] = ValueAndUnit(r.text);
    if (!lines.empty()) lines += '\n';
    lines += time + "," + module + "," + r.channel + "," + value + "," + unit;
  }
  WriteLine(lines);
  ++rows_;
  if (!values) ++gaps_;
  return values ? Written::Row : Written::Gap;
}

void CsvRecorder::WriteLine(const std::string& text) {
  // One write for the whole row: a process killed now leaves the row whole or not at all.
  const std::string line = text + line_end_;
  const long long start = FileEnd(fd_);
  std::size_t done = 0;
  int error = 0;
  while (done < line.size()) {
    const long n = WriteSome(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (error == 0 && !SyncToDisk(fd_)) error = errno;
  if (error == 0) return;
  // A cut-off row would read as a valid value (-7.49 cut to -7), here and in a continued
  // recording: the file goes back to where the row began.
  std::string kept;
  if (done > 0 && (start < 0 || !CutBackTo(fd_, start) || !SyncToDisk(fd_)))
    kept = "; the row could not be taken back: its last line is cut off";
  throw RecordError("cannot write to " + Quoted(path_) + ": " + SystemMessage(error) + kept);
}

}  // namespace zvk
