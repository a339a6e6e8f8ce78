// Recording readings to a CSV file, one row per poll, each row on the disk before the next poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "record/sample.h"
#include "util/file_path.h"

namespace zvk {

// A file that cannot be recorded to, or a row that could not be written; the text says why.
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first line of an existing, non-empty file (without its line end); none when the file is
// missing or empty. RecordError when the path is no file or cannot be read.
std::optional<std::string> FirstLineOf(const std::filesystem::path& path);

class CsvRecorder {
 public:
  // Opens `path` to append rows of these channels. A missing or empty file gets the header; a
  // file whose first line is the same header is continued, in the line ends of that line (CRLF
  // or LF; a new file gets the platform's); any other file is refused with a RecordError naming
  // both headers, and nothing is written to it.
  CsvRecorder(const std::filesystem::path& path, std::vector<std::string> channels);
  // The long form of many modules (kLongCsvHeader): continued and refused by the same rules.
  struct LongForm {};
  CsvRecorder(const std::filesystem::path& path, LongForm);
  ~CsvRecorder();
  CsvRecorder(const CsvRecorder&) = delete;
  CsvRecorder& operator=(const CsvRecorder&) = delete;

  enum class Written { Row, Gap, Nothing };
  // Appends the sample's row and puts it on the disk: its values, or the time alone for a gap
  // (also for readings of other channels than the file's, say another module). A pause writes
  // nothing. Throws RecordError when the row could not be written.
  Written Append(const Sample& sample);
  // Long form: one line per channel of the module's sample, in one write put on the disk; a
  // poll that brought nothing is one line with the time and the module alone.
  Written AppendLong(const std::string& module, const Sample& sample);

  const std::filesystem::path& path() const { return path_; }
  const std::vector<std::string>& channels() const { return channels_; }
  bool continued() const { return continued_; }  // an existing file with the same header
  // The file's length in bytes, header included; 0 when unknown.
  std::uint64_t length() const;
  std::size_t rows() const { return rows_; }  // rows written by this recorder, gaps included
  std::size_t gaps() const { return gaps_; }
  // The last readings had other channels than the file's columns (written as a gap).
  bool foreign_channels() const { return foreign_channels_; }

 private:
  void Open(const std::string& header);
  void WriteLine(const std::string& line);

  std::filesystem::path path_;
  std::vector<std::string> channels_;
  std::string line_end_;  // "\n" or "\r\n": one convention in a file
  int fd_ = -1;
  bool continued_ = false;
  std::size_t rows_ = 0;
  std::size_t gaps_ = 0;
  bool foreign_channels_ = false;
};

}  // namespace zvk
