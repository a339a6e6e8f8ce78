#include "util/file_writer.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "util/file_path.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zvk {

namespace fs = std::filesystem;

namespace {

// Links a name may pass through before it is taken for a loop (the system's own limit).
constexpr int kMostLinks = 40;
// Tries at a name for the new file that nobody else has taken.
constexpr int kNameTries = 16;

std::string Quoted(const fs::path& path) {
  return "\"" + PathToUtf8(path) + "\"";
}

// errno texts, the same on every platform's C runtime.
std::string SystemMessage(int error) {
  return std::generic_category().message(error);
}

FileWriteError CannotWrite(const fs::path& path, int error) {
  return FileWriteError("cannot write " + Quoted(path) + ": " + SystemMessage(error), error);
}

std::string PartName(const fs::path& target) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char suffix[20];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return PathToUtf8(target.filename()) + "." + suffix + ".part";
}

#ifndef _WIN32

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

FileWriteError NotAFile(const fs::path& path, mode_t mode) {
  return FileWriteError(Quoted(path) + " is " + KindOf(mode) + ", not a file; nothing written");
}

struct Target {
  fs::path path;  // the name to write: past every link
  bool exists = false;
  struct stat info {};  // of the existing file
};

// The kernel follows the name first, so a link it alone can follow (/dev/stdout to a pipe) is
// judged by what it leads to; then the links are followed by name to find the file to replace.
Target Resolve(const fs::path& path) {
  Target target;
  struct stat followed {};
  const bool exists = ::stat(path.c_str(), &followed) == 0;
  if (!exists && errno != ENOENT) throw CannotWrite(path, errno);
  if (exists && !S_ISREG(followed.st_mode)) throw NotAFile(path, followed.st_mode);

  fs::path name = path;
  for (int links = 0;; ++links) {
    struct stat own {};
    if (::lstat(name.c_str(), &own) != 0) {
      if (errno != ENOENT) throw CannotWrite(path, errno);
      if (exists) break;   // a name only the kernel can follow; caught below
      target.path = name;  // a link to a file yet to be made, or a new name
      return target;
    }
    if (!S_ISLNK(own.st_mode)) {
      if (!S_ISREG(own.st_mode)) throw NotAFile(path, own.st_mode);
      if (exists && own.st_dev == followed.st_dev && own.st_ino == followed.st_ino) {
        target.path = name;
        target.exists = true;
        target.info = own;
        return target;
      }
      break;
    }
    if (links == kMostLinks) throw CannotWrite(path, ELOOP);
    std::error_code ec;
    const fs::path next = fs::read_symlink(name, ec);
    if (ec) throw CannotWrite(path, ec.value());
    name = next.is_absolute() ? next : name.parent_path() / next;
  }
  throw FileWriteError(Quoted(path) +
                       " is a link whose file cannot be named to be replaced; nothing written");
}

bool WriteAll(int fd, std::string_view content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

#endif

}  // namespace

#ifndef _WIN32

fs::path WriteTargetOf(const fs::path& path) {
  return Resolve(path).path;
}

void ReplaceFile(const fs::path& path, std::string_view content, FileContent kind) {
  const Target target = Resolve(path);
  fs::path folder = target.path.parent_path();
  if (folder.empty()) folder = ".";
  // The new file is its owner's alone until it has its final mode: a key, or the content of a
  // file someone made private, never sits where others can read it, not even for a moment. A
  // new plain file gets the usual mode, the umask's.
  const mode_t created = kind == FileContent::Secret || target.exists ? 0600 : 0666;
  fs::path part;
  int fd = -1;
  for (int tries = 0; fd < 0 && tries < kNameTries; ++tries) {
    part = folder / PathFromUtf8(PartName(target.path));
    fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, created);
    if (fd < 0 && errno != EEXIST) throw CannotWrite(path, errno);
  }
  if (fd < 0) throw CannotWrite(path, EEXIST);

  int error = 0;
  if (!WriteAll(fd, content) || ::fsync(fd) != 0) error = errno;
  if (error == 0 && target.exists) {
    // The replacement is the same file to its owner and its readers; a key file stays the
    // owner's alone. The owner first: changing it clears the set-id bits.
    if (target.info.st_uid != ::geteuid() || target.info.st_gid != ::getegid())
      (void)!::fchown(fd, target.info.st_uid, target.info.st_gid);
    mode_t mode = target.info.st_mode & 07777;
    if (kind == FileContent::Secret) mode &= 0700;
    if (::fchmod(fd, mode) != 0) error = errno;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(part.c_str(), target.path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(part.c_str());
    throw CannotWrite(path, error);
  }
  SyncFolder(folder);
}

int OpenToAppend(const fs::path& path) {
  Resolve(path);
  // Non-blocking: opening a FIFO would otherwise wait for a reader; the kind is checked again on
  // what was opened, so a name swapped since the look is refused too.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    if (errno == ENXIO) throw NotAFile(path, S_IFIFO);  // a FIFO nobody reads
    throw CannotWrite(path, errno);
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    const int error = errno;
    ::close(fd);
    if (opened.st_mode != 0) throw NotAFile(path, opened.st_mode);
    throw CannotWrite(path, error);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    throw CannotWrite(path, error);
  }
  return fd;
}

void RenameAside(const fs::path& from, const fs::path& to) {
  // RENAME_NOREPLACE leaves no moment where a file of that name would be replaced; a file
  // system without it gets the look first.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) throw CannotWrite(to, errno);
    struct stat taken {};
    if (::lstat(to.c_str(), &taken) == 0) throw CannotWrite(to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) throw CannotWrite(to, errno);
  }
  fs::path folder = to.parent_path();
  SyncFolder(folder.empty() ? fs::path(".") : folder);
}

#else

// Windows has no FIFOs or sockets among file names and its links are rare; a name that is not a
// regular file is refused, the rest is written by the standard library.
fs::path WriteTargetOf(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::exists(status) && !fs::is_regular_file(status))
    throw FileWriteError(Quoted(path) +
                         (fs::is_directory(status) ? " is a folder" : " is a device") +
                         ", not a file; nothing written");
  if (fs::is_symlink(fs::symlink_status(path, ec))) {
    const fs::path target = fs::read_symlink(path, ec);
    if (!ec) return target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

void ReplaceFile(const fs::path& path, std::string_view content, FileContent) {
  const fs::path target = WriteTargetOf(path);
  fs::path folder = target.parent_path();
  const fs::path part = (folder.empty() ? fs::path(".") : folder) / PathFromUtf8(PartName(target));
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      std::error_code ec;
      fs::remove(part, ec);
      throw FileWriteError("cannot write " + Quoted(path));
    }
  }
  std::error_code ec;
  fs::rename(part, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(part, ignored);
    throw FileWriteError("cannot write " + Quoted(path) + ": " + ec.message());
  }
}

void RenameAside(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (fs::exists(to, ec))
    throw FileWriteError("cannot write " + Quoted(to) + ": file exists", EEXIST);
  // _wrename never replaces a file.
  if (::_wrename(from.c_str(), to.c_str()) != 0) throw CannotWrite(to, errno);
}

int OpenToAppend(const fs::path& path) {
  WriteTargetOf(path);
  const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
  if (fd < 0) throw CannotWrite(path, errno);
  return fd;
}

#endif

void CloseDescriptor(int fd) {
#ifdef _WIN32
  ::_close(fd);
#else
  ::close(fd);
#endif
}

long WriteSome(int fd, const char* data, std::size_t size) {
#ifdef _WIN32
  return ::_write(fd, data, static_cast<unsigned>(size));
#else
  return static_cast<long>(::write(fd, data, size));
#endif
}

}  // namespace zvk
