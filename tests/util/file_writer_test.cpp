// The one writer of the files the programs write: what it writes to, what it refuses and the
// modes it leaves, on real files, links, FIFOs, sockets and devices.
#include "util/file_writer.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>

namespace zvk {
namespace {

namespace fs = std::filesystem;

class utilFileWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zvk-writer-" + std::to_string(std::random_device{}()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  // Nothing of a write is left beside its target.
  void ExpectNoPartFiles() {
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
  fs::path dir;
};

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST_F(utilFileWriter, WritesAFileOrThroughALinkAndRefusesEverythingElse) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  struct Case {
    const char* what;
    // Makes what the name is and returns the name to write.
    std::function<std::optional<fs::path>()> make;
    std::string refusal;  // empty: written
    fs::path lands_in;    // where the content is then, for a name that is written
  };
  const Case cases[] = {
      {"a new file", [&] { return dir / "new.json"; }, "", dir / "new.json"},
      {"an existing file",
       [&] {
         Write(dir / "old.json", "the old content\n");
         return dir / "old.json";
       },
       "", dir / "old.json"},
      {"a link to a file",
       [&] {
         Write(dir / "real.json", "old\n");
         fs::create_symlink("real.json", dir / "link.json");
         return dir / "link.json";
       },
       "", dir / "real.json"},
      {"a chain of links into another folder",
       [&] {
         fs::create_directories(dir / "elsewhere");
         Write(dir / "elsewhere" / "far.json", "old\n");
         fs::create_symlink(dir / "elsewhere" / "far.json", dir / "hop.json");
         fs::create_symlink("hop.json", dir / "first.json");
         return dir / "first.json";
       },
       "", dir / "elsewhere" / "far.json"},
      {"a link to a file yet to be made",
       [&] {
         fs::create_symlink("made.json", dir / "dangling.json");
         return dir / "dangling.json";
       },
       "", dir / "made.json"},
      {"a folder",
       [&] {
         fs::create_directories(dir / "folder");
         return dir / "folder";
       },
       "is a folder, not a file; nothing written",
       {}},
      {"a FIFO nobody reads",
       [&] {
         EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
         return dir / "fifo";
       },
       "is a FIFO, not a file; nothing written",
       {}},
      {"a socket",
       [&]() -> std::optional<fs::path> {
         const fs::path path = dir / "sock";
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         if (path.string().size() >= sizeof address.sun_path) return std::nullopt;
         std::strcpy(address.sun_path, path.c_str());
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         ::close(fd);
         return path;
       },
       "is a socket, not a file; nothing written",
       {}},
      {"a link to the null device",
       [&] {
         fs::create_symlink("/dev/null", dir / "null.json");
         return dir / "null.json";
       },
       "is a character device, not a file; nothing written",
       {}},
      {"a device node",
       [&]() -> std::optional<fs::path> {
         // Only root may make one; the link above covers devices otherwise.
         if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
           return std::nullopt;
         return dir / "null";
       },
       "is a character device, not a file; nothing written",
       {}},
      {"a name the system alone follows to a pipe (as /dev/stdout)",
       [&] { return fs::path("/proc/self/fd/" + std::to_string(pipe_ends[1])); },
       "is a FIFO, not a file; nothing written",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<fs::path> name = c.make();
    if (!name) continue;
    const fs::file_status before = fs::symlink_status(*name);
    for (const bool append : {false, true}) {
      SCOPED_TRACE(append ? "appended" : "replaced");
      const std::string content = append ? "a row\n" : "{\"profile\": 1}\n";
      const std::string kept = c.refusal.empty() ? Read(c.lands_in) : "";
      try {
        if (append) {
          const int fd = OpenToAppend(*name);
          EXPECT_EQ(::write(fd, content.data(), content.size()),
                    static_cast<ssize_t>(content.size()));
          CloseDescriptor(fd);
        } else {
          ReplaceFile(*name, content);
        }
        EXPECT_EQ(c.refusal, "");
        EXPECT_EQ(Read(c.lands_in), append ? kept + content : content);
      } catch (const FileWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "\"" + name->string() + "\" " + c.refusal);
      }
      // A link stays a link, and whatever was refused is as it was.
      EXPECT_EQ(fs::symlink_status(*name).type(),
                before.type() == fs::file_type::not_found ? fs::file_type::regular : before.type());
    }
  }
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
  ExpectNoPartFiles();
}

TEST_F(utilFileWriter, AReplacedFileKeepsItsModeAndKeysAreTheOwnersAlone) {
  struct Case {
    const char* what;
    std::optional<mode_t> existing;  // none: a new file
    FileContent kind;
    mode_t umask;
    mode_t expected;
  };
  const Case cases[] = {
      {"a new file", std::nullopt, FileContent::Plain, 022, 0644},
      {"a new file under a shared umask", std::nullopt, FileContent::Plain, 002, 0664},
      {"a new file of keys", std::nullopt, FileContent::Secret, 022, 0600},
      {"a new file of keys under no umask", std::nullopt, FileContent::Secret, 0, 0600},
      {"a file made the owner's", 0600, FileContent::Plain, 022, 0600},
      {"a file shared with the group", 0640, FileContent::Plain, 077, 0640},
      {"a script", 0755, FileContent::Plain, 022, 0755},
      {"keys over a file all may read", 0644, FileContent::Secret, 022, 0600},
  };
  const mode_t saved = ::umask(022);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = dir / ("profile" + std::to_string(n++) + ".json");
    if (c.existing) {
      Write(path, "old\n");
      ASSERT_EQ(::chmod(path.c_str(), *c.existing), 0);
    }
    ::umask(c.umask);
    ReplaceFile(path, "new\n", c.kind);
    EXPECT_EQ(Read(path), "new\n");
    EXPECT_EQ(ModeOf(path), c.expected) << std::oct << ModeOf(path);
  }
  ::umask(saved);
  ExpectNoPartFiles();
}

}  // namespace
}  // namespace zvk
#endif
