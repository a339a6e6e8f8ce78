// A recording that rotates: the file being written keeps its name; a finished one is moved aside
// under a name of its period ("log.2026-12-11.csv", "log.2026-12-11T14.csv", by the local time
// of its rows) or of a counter when files are finished by size ("log.1.csv", "log.2.csv"), is
// compressed on request ("log.1.csv.gz") and only the newest finished files are kept on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "record/sample.h"

namespace zvk::engine {

struct Rotation {
  enum class Every { Never, Day, Hour, Size };
  Every every = Every::Never;
  std::uint64_t size = 0;  // Size: a file holding this many bytes is finished before its next row
  std::size_t keep = 0;    // finished files kept, the newest; 0 keeps them all
  bool gzip = false;       // finished files compressed (FILE.gz)
};

// "daily", "hourly", or a size in bytes with an optional K, M or G (1024 and its powers):
// the rotation's `every` and `size`; none for any other text or a size of 0.
std::optional<Rotation> ParseRotation(const std::string& text);

// Whether this build can compress finished files.
bool CanCompress();

// The finished files of the recording at `file` (the file a link leads to, when it is one).
class RotatedFiles {
 public:
  RotatedFiles(std::filesystem::path file, Rotation rotation);

  // The period a row of this time belongs to: "2026-12-11" (Day) or "2026-12-11T14" (Hour), in
  // local time; empty when files are finished by size.
  std::string PeriodOf(TimePoint time) const;
  // Moves the closed file aside: named by `period`, or by the next counter when it is empty.
  // The name of a finished file is never taken twice: a period seen again (the clock set back,
  // the recording reopened) gets "-2", "-3" after it. Every row of the file is on the disk
  // already; the folder is synced, so the move is too before a new file is started.
  // Throws FileWriteError when it cannot be moved.
  std::filesystem::path MoveAside(const std::string& period);
  // What follows once the new file is started: compresses `finished` (when asked; the
  // uncompressed file is removed only once the compressed one is whole on the disk) and
  // removes the oldest finished files beyond `keep`. Throws FileWriteError.
  void Settle(const std::filesystem::path& finished);
  // The finished files of this recording in its way of naming them, oldest first; nothing
  // else in the folder.
  std::vector<std::filesystem::path> Finished() const;

 private:
  struct Name {
    std::string key;      // the period, or the counter padded to sort as a number
    unsigned repeat = 0;  // the "-N" of a period seen again
    std::filesystem::path path;
  };
  std::optional<Name> Parse(const std::filesystem::path& entry) const;
  std::filesystem::path NameFor(const std::string& middle) const;
  std::filesystem::path Target() const;

  std::filesystem::path file_;
  Rotation rotation_;
};

}  // namespace zvk::engine
