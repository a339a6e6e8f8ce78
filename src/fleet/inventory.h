// The list of modules a command runs over: read from an inventory file (one address a line, or
// the CSV that `zvk scan --csv` writes, whose first column is the address) or given one by one.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zvk {

// An inventory that cannot be used; the message names the line and what is wrong with it.
class InventoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct InventoryEntry {
  std::string host;                   // dotted IPv4 address
  std::optional<std::uint16_t> port;  // unset: the command's port
  // "ADDR" or "ADDR:PORT", as the module is named in results.
  std::string Label() const;
  bool operator==(const InventoryEntry&) const = default;
};

// "192.168.1.20" or "127.0.0.1:40001"; nullopt when it is neither.
std::optional<InventoryEntry> ParseModuleAddress(std::string_view text);

// The modules of an inventory's text, in file order. Blank lines and lines starting with '#'
// are skipped, and so is a CSV header whose first column is "address" (in any case). The text is
// read as CSV: a quoted field, line breaks and all, belongs to its record, so a module's text in
// the scan's CSV never becomes a line of its own. Throws InventoryError
// for a malformed address, a module listed twice (two runs on one module would clash), or a
// list with no module in it.
std::vector<InventoryEntry> ParseInventory(std::string_view text);

// ParseInventory of a file's content; InventoryError also when it cannot be read (with the
// reason: missing, a folder, a device or pipe, no permission).
std::vector<InventoryEntry> LoadInventory(const std::string& path);

}  // namespace zvk
