#include "fleet/inventory.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

namespace zvk {

namespace {

// Some of a file: an inventory is a few thousand lines at most.
constexpr std::size_t kMaxInventoryBytes = 4 * 1024 * 1024;

std::string_view Trim(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<unsigned> Decimal(std::string_view digits, unsigned max) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value > max) return std::nullopt;
  return value;
}

bool IsDottedIpv4(std::string_view text) {
  int parts = 0;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.size() > 3 || !std::all_of(part.begin(), part.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        }))
      return false;
    if (!Decimal(part, 255)) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

// The first field of a CSV line, without the quotes a spreadsheet may have put around it.
std::string_view FirstField(std::string_view line) {
  line = Trim(line.substr(0, line.find(',')));
  if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
    line = line.substr(1, line.size() - 2);
  return Trim(line);
}

}  // namespace

std::string InventoryEntry::Label() const {
  return port ? host + ":" + std::to_string(*port) : host;
}

std::optional<InventoryEntry> ParseModuleAddress(std::string_view text) {
  InventoryEntry entry;
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view port = text.substr(colon + 1);
    const std::optional<unsigned> value =
        std::all_of(port.begin(), port.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })
            ? Decimal(port, 65535)
            : std::nullopt;
    if (!value || *value == 0) return std::nullopt;
    entry.port = static_cast<std::uint16_t>(*value);
    text = text.substr(0, colon);
  }
  if (!IsDottedIpv4(text)) return std::nullopt;
  entry.host = std::string(text);
  return entry;
}

std::vector<InventoryEntry> ParseInventory(std::string_view text) {
  std::vector<InventoryEntry> entries;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (line.empty() || line.front() == '#') continue;
    const std::string_view field = FirstField(line);
    std::string lower(field);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "address") continue;  // the scan's CSV header
    const std::optional<InventoryEntry> entry = ParseModuleAddress(field);
    const std::string where = "line " + std::to_string(line_number) + ": ";
    if (!entry)
      throw InventoryError(where + "'" + std::string(field.substr(0, 40)) +
                           "' is not a module address (IPv4, optionally :PORT)");
    if (std::find(entries.begin(), entries.end(), *entry) != entries.end())
      throw InventoryError(where + entry->Label() + " is listed twice");
    entries.push_back(*entry);
  }
  if (entries.empty()) throw InventoryError("no module listed");
  return entries;
}

std::vector<InventoryEntry> LoadInventory(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InventoryError("cannot read the inventory \"" + path + "\"");
  std::string content;
  char piece[4096];
  while (content.size() <= kMaxInventoryBytes && in.read(piece, sizeof piece).gcount() > 0)
    content.append(piece, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) throw InventoryError("cannot read the inventory \"" + path + "\"");
  if (content.size() > kMaxInventoryBytes)
    throw InventoryError("the inventory \"" + path + "\" is larger than 4 MiB");
  try {
    return ParseInventory(content);
  } catch (const InventoryError& e) {
    throw InventoryError("\"" + path + "\" " + e.what());
  }
}

}  // namespace zvk
