#include "sim/file_store.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace zvk::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxName = 43;

}  // namespace

FileStore::FileStore(std::string dir) : dir_(std::move(dir)) {}

bool FileStore::ValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxName) return false;
  for (const char c : name)
    if (c <= ' ' || c > '~' || c == '\\' || c == ':') return false;
  std::size_t start = name.front() == '/' ? 1 : 0;
  while (true) {
    const std::size_t slash = name.find('/', start);
    const std::string part = name.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::string FileStore::PathOf(const std::string& name) const {
  return (fs::path(dir_) / fs::path(name.front() == '/' ? name.substr(1) : name)).string();
}

bool FileStore::Put(const std::string& name, const Bytes& content) {
  if (!ValidName(name)) return false;
  if (dir_.empty()) {
    memory_[name] = content;
    return true;
  }
  const fs::path path = PathOf(name);
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out.flush());
}

std::optional<FileStore::Bytes> FileStore::Get(const std::string& name) const {
  if (!ValidName(name)) return std::nullopt;
  if (dir_.empty()) {
    const auto it = memory_.find(name);
    if (it == memory_.end()) return std::nullopt;
    return it->second;
  }
  const fs::path path = PathOf(name);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileStore::Remove(const std::string& name) {
  if (!ValidName(name)) return false;
  if (dir_.empty()) return memory_.erase(name) > 0;
  std::error_code ec;
  return fs::remove(PathOf(name), ec);
}

std::vector<std::string> FileStore::Names() const {
  std::vector<std::string> names;
  if (dir_.empty()) {
    for (const auto& entry : memory_) names.push_back(entry.first);
    return names;
  }
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    // Names keep the leading "/" of the module's own: "/local/locate.cfg".
    const std::string relative = fs::relative(it->path(), dir_, ec).generic_string();
    if (ec) continue;
    const std::string name = relative.find('/') == std::string::npos ? relative : "/" + relative;
    if (ValidName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

FileStore FileStore::InMemoryCopy() const {
  FileStore copy;
  for (const std::string& name : Names())
    if (auto content = Get(name)) copy.memory_[name] = std::move(*content);
  return copy;
}

}  // namespace zvk::sim
