// The history of rollouts: a file of JSON lines, one a module and attempt, appended as the
// rollout goes, so an interrupted rollout can be resumed and an update traced afterwards:
//   {"time":"2026-12-11T13:45:02Z","mac":"02:5A:51:36:00:03","address":"127.0.0.3:13577",
//    "old":"01.12","new":"01.13","result":"updated","reason":""}
// "result" is "updated" or "failed" (with the reason); "new" is the version the rollout was
// to install.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

namespace zvk::rollout {

struct HistoryEntry {
  std::chrono::system_clock::time_point time;
  std::string mac;
  std::string address;
  std::string old_version;
  std::string new_version;
  bool updated = false;
  std::string reason;
};

// The entry as its line (without the line break).
std::string HistoryLine(const HistoryEntry& entry);

// A history file open to append to (util/file_writer's rules: a device or a FIFO is refused);
// FileWriteError when it cannot be opened or written. Append may be called from any thread.
class HistoryFile {
 public:
  // `name`: the file as the user gave it, for messages.
  HistoryFile(const std::filesystem::path& path, std::string name);
  ~HistoryFile();
  HistoryFile(const HistoryFile&) = delete;
  HistoryFile& operator=(const HistoryFile&) = delete;
  void Append(const HistoryEntry& entry);

 private:
  std::mutex mutex_;
  std::string name_;
  int fd_ = -1;
};

// The modules a history holds as updated: their MAC, or their address when the line has no
// MAC. A missing file, anything but a plain file, or a line that is no entry (named) is a
// HistoryError.
class HistoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
std::set<std::string> UpdatedModules(const std::filesystem::path& path);

}  // namespace zvk::rollout
