#include "fleet/inventory.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

#include "admin/local_file.h"
#include "util/file_path.h"

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

// Four numbers 0 to 255 written plainly: a leading zero ("127.000.0.1", "010") is refused as
// --host refuses it, since some tools read such a number as octal.
bool IsDottedIpv4(std::string_view text) {
  int parts = 0;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.size() > 3 || !std::all_of(part.begin(), part.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        }))
      return false;
    if (!Decimal(part, 255) || (part.size() > 1 && part.front() == '0')) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

// One record of the file: a comment or plain line, or a CSV record whose quoted fields may hold
// line breaks (a module's location is any text its network lets someone set).
struct Record {
  std::size_t line = 0;       // where it starts, from 1
  std::string_view text;      // without its line end
  bool comment = false;       // a line starting with '#'
  bool unterminated = false;  // a quoted field that the file never closes
};

class Records {
 public:
  explicit Records(std::string_view text) : text_(text) {}
  bool Next(Record& record) {
    if (at_ >= text_.size()) return false;
    record = Record{};
    record.line = line_;
    const std::size_t start = at_;
    const std::string_view rest = Trim(text_.substr(at_, text_.find('\n', at_) - at_));
    record.comment = !rest.empty() && rest.front() == '#';
    bool quoted = false;
    std::size_t end = at_;
    for (; end < text_.size(); ++end) {
      const char c = text_[end];
      if (c == '\n') {
        ++line_;
        if (!quoted || record.comment) break;
      } else if (c == '"' && !record.comment) {
        quoted = !quoted;  // a doubled quote inside a field toggles twice
      }
    }
    record.unterminated = quoted && !record.comment;
    record.text = text_.substr(start, end - start);
    at_ = end < text_.size() ? end + 1 : end;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
};

// The first field of a CSV record, unquoted as a spreadsheet would have quoted it.
std::string FirstField(std::string_view record) {
  record = Trim(record);
  if (record.empty() || record.front() != '"')
    return std::string(Trim(record.substr(0, record.find(','))));
  std::string field;
  for (std::size_t i = 1; i < record.size(); ++i) {
    if (record[i] != '"') {
      field += record[i];
    } else if (i + 1 < record.size() && record[i + 1] == '"') {
      field += '"';
      ++i;
    } else {
      break;
    }
  }
  return std::string(Trim(field));
}

// A field's text for a message: one line, short.
std::string Shown(const std::string& field) {
  std::string shown;
  for (const unsigned char c : field.substr(0, 40))
    shown += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  return shown;
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
  Records records(text);
  for (Record record; records.Next(record);) {
    const std::string where = "line " + std::to_string(record.line) + ": ";
    if (record.comment || Trim(record.text).empty()) continue;
    if (record.unterminated) throw InventoryError(where + "a quoted field is never closed");
    const std::string field = FirstField(record.text);
    std::string lower(field);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "address") continue;  // the scan's CSV header
    const std::optional<InventoryEntry> entry = ParseModuleAddress(field);
    if (!entry)
      throw InventoryError(where + "'" + Shown(field) +
                           "' is not a module address (IPv4, optionally :PORT)");
    if (std::find(entries.begin(), entries.end(), *entry) != entries.end())
      throw InventoryError(where + entry->Label() + " is listed twice");
    entries.push_back(*entry);
  }
  if (entries.empty()) throw InventoryError("no module listed");
  return entries;
}

std::vector<InventoryEntry> LoadInventory(const std::string& path) {
  const std::string cannot = "cannot read the inventory \"" + path + "\": ";
  // Looked at before opening: a FIFO would hang the open, a folder or a device is no list.
  const LocalFileCheck check = CheckLocalFile(path);
  if (check.error) throw InventoryError(cannot + *check.error);
  errno = 0;
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw InventoryError(cannot + std::generic_category().message(errno != 0 ? errno : EIO));
  std::string content;
  char piece[4096];
  while (content.size() <= kMaxInventoryBytes && in.read(piece, sizeof piece).gcount() > 0)
    content.append(piece, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) throw InventoryError(cannot + std::generic_category().message(EIO));
  if (content.size() > kMaxInventoryBytes)
    throw InventoryError("the inventory \"" + path + "\" is larger than 4 MiB");
  try {
    return ParseInventory(content);
  } catch (const InventoryError& e) {
    throw InventoryError("\"" + path + "\" " + e.what());
  }
}

}  // namespace zvk
