// The module's flash file system: whole files by name ("/local/ap_ssid.cfg", "mcuimg.bin"),
// kept in memory or, when a directory is given, as files under it, so a test or a person can
// look at them (the name "/local/locate.cfg" is DIR/local/locate.cfg).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zvk::sim {

class FileStore {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Empty `dir`: in memory.
  explicit FileStore(std::string dir = {});

  // A name the store accepts: 1 to 43 printable ASCII characters, parts separated by "/", none
  // of them empty (but a leading "/"), "." or "..", no "\" or ":". Nothing outside the
  // directory can be named.
  static bool ValidName(const std::string& name);

  // False when the name is not valid or the file could not be written.
  bool Put(const std::string& name, const Bytes& content);
  std::optional<Bytes> Get(const std::string& name) const;
  // True when a file of that name was there.
  bool Remove(const std::string& name);
  // Every file's name, sorted.
  std::vector<std::string> Names() const;

  // The same files held in memory: a copy that nothing can write through to the directory.
  FileStore InMemoryCopy() const;

 private:
  std::string PathOf(const std::string& name) const;

  std::string dir_;
  std::map<std::string, Bytes> memory_;
};

}  // namespace zvk::sim
