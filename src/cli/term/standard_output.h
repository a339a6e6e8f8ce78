// Standard output that tells why it could not be written: a full disk or a closed pipe under
// `zvk scan --csv > plant.csv` is a failure of the command, never a silent success.
#pragma once

#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace zvk::cli {

// A stream buffer that knows the system's reason for its first failed write (an errno value).
class WriteErrorSource {
 public:
  virtual int write_error() const = 0;

 protected:
  ~WriteErrorSource() = default;
};

// Writes to a file descriptor through the system's write: held until a line ends when
// `line_buffered` (a terminal), otherwise until the buffer is full or flushed. After a failed
// write it takes nothing more, so the stream shows the failure.
class DescriptorOutput final : public std::streambuf, public WriteErrorSource {
 public:
  DescriptorOutput(int fd, bool line_buffered);
  ~DescriptorOutput() override;
  DescriptorOutput(const DescriptorOutput&) = delete;
  DescriptorOutput& operator=(const DescriptorOutput&) = delete;
  int write_error() const override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool Drain();  // with mutex_ held

  int fd_;
  bool line_buffered_;
  int error_ = 0;
  std::string pending_;
  mutable std::mutex mutex_;  // the runs of many modules may write at once
};

// While it lives, std::cout writes to standard output through a DescriptorOutput (POSIX; a
// Windows console keeps the writer it was given, see Utf8ConsoleOutput).
class StandardOutput {
 public:
  StandardOutput();
  ~StandardOutput();
  StandardOutput(const StandardOutput&) = delete;
  StandardOutput& operator=(const StandardOutput&) = delete;

 private:
  std::optional<DescriptorOutput> buffer_;
  std::streambuf* saved_ = nullptr;
};

// After flushing `out`: "cannot write standard output: REASON" when a write to it failed (the
// reason from its buffer when it knows it), none when everything was written.
std::optional<std::string> StandardOutputFailure(std::ostream& out);

}  // namespace zvk::cli
