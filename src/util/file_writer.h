// Every file the programs write (a profile, a recording, a log, an export) goes through here, so
// each is written by the same rules: only a regular file (or a new one) is written; a device, a
// FIFO, a socket or a folder is refused, saying which it is, before anything is opened; a
// symlink is written through, to its target, and stays a link; a file written whole replaces
// the old one in one rename, so a reader sees the old or the new file, never a part of either.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zvk {

// A file that cannot be written; the text names it and says why.
class FileWriteError : public std::runtime_error {
 public:
  explicit FileWriteError(const std::string& what, int error = 0)
      : std::runtime_error(what), error_(error) {}
  // The system's reason (an errno value) when the system refused; 0 when the name is refused
  // for what it is.
  int error() const { return error_; }

 private:
  int error_;
};

// What a file holds, for the mode it gets.
enum class FileContent {
  Plain,   // a new file gets 0666 less the umask; a replaced one keeps its mode
  Secret,  // keys: only the owner may read it, a new file and a replaced one alike (0600)
};

// The file a write to `path` lands in: `path` itself, or the file a symlink (or a chain of
// them) leads to, which may not exist yet. Throws FileWriteError when that is anything but a
// regular file (a folder, a device, a FIFO, a socket) or cannot be looked at.
std::filesystem::path WriteTargetOf(const std::filesystem::path& path);

// Replaces the file at `path` (or the target of its link) with `content`: written to a new file
// in the same folder, put on the disk, given the mode (and, where the system allows, the owner)
// of the file it replaces, and renamed over it. Nothing is left behind when it fails.
void ReplaceFile(const std::filesystem::path& path, std::string_view content,
                 FileContent kind = FileContent::Plain);

// Opens `path` (or the target of its link) to append to, creating a missing file (0666 less
// the umask); returns the open file descriptor. Refuses what WriteTargetOf refuses, also when
// the name is swapped for something else between the look and the open, and never waits on a
// FIFO. FileWriteError with the system's reason when it cannot be opened.
int OpenToAppend(const std::filesystem::path& path);
// Gives the file at `from` the name `to` in the same folder, never replacing a file of that
// name (FileWriteError EEXIST then), and puts the new name on the disk (the folder synced).
void RenameAside(const std::filesystem::path& from, const std::filesystem::path& to);
// Closes a descriptor OpenToAppend returned.
void CloseDescriptor(int fd);
// One write(2) of up to `size` bytes to a descriptor: the count written, or -1 with errno set.
long WriteSome(int fd, const char* data, std::size_t size);

}  // namespace zvk
