#include "rollout/history.h"

#include <cerrno>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "util/file_writer.h"

namespace zvk::rollout {

namespace {

std::string UtcText(std::chrono::system_clock::time_point time) {
  const std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

std::string HistoryLine(const HistoryEntry& e) {
  nlohmann::ordered_json j;
  j["time"] = UtcText(e.time);
  j["mac"] = e.mac;
  j["address"] = e.address;
  j["old"] = e.old_version;
  j["new"] = e.new_version;
  j["result"] = e.updated ? "updated" : "failed";
  j["reason"] = e.reason;
  // A module's texts may hold anything: bytes that are no UTF-8 are replaced, not thrown on.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

HistoryFile::HistoryFile(const std::filesystem::path& path, std::string name)
    : name_(std::move(name)), fd_(OpenToAppend(path)) {}

HistoryFile::~HistoryFile() {
  if (fd_ >= 0) CloseDescriptor(fd_);
}

void HistoryFile::Append(const HistoryEntry& entry) {
  const std::string line = HistoryLine(entry) + "\n";
  std::lock_guard lock(mutex_);
  std::size_t done = 0;
  while (done < line.size()) {
    const long n = WriteSome(fd_, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      throw FileWriteError(
          "cannot write to " + name_ + ": " + std::generic_category().message(error), error);
    }
    done += static_cast<std::size_t>(n);
  }
}

std::set<std::string> UpdatedModules(const std::filesystem::path& path) {
  std::set<std::string> done;
  // Only a plain file: a FIFO would hold the rollout before it started.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw HistoryError(ec || !std::filesystem::exists(path, ec) ? "no such file"
                                                                : "not a plain file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HistoryError("cannot be read");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line == "\r") continue;
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || !j.contains("result") || !j["result"].is_string() ||
        !j.contains("address") || !j["address"].is_string())
      throw HistoryError("line " + std::to_string(number) + " is no rollout history entry");
    if (j["result"] != "updated") continue;
    const std::string mac = j.value("mac", std::string());
    done.insert(mac.empty() ? j["address"].get<std::string>() : mac);
  }
  return done;
}

}  // namespace zvk::rollout
