#include "fleet/scan_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "util/text_codec.h"

namespace zvk {

namespace {

constexpr std::array<const char*, 8> kTitles{"ADDRESS",  "MODEL", "NAME", "LOCATION",
                                             "FIRMWARE", "MAC",   "RSSI", "WI-FI"};

// The columns that hold text (the others hold an address, a MAC or a number).
constexpr std::array<bool, 8> kTextColumn{false, true, true, true, true, false, false, true};

// A module's texts are set by anyone on its network: each cell shows its control characters
// escaped, so no cell breaks its line or acts on the terminal that shows it.
std::array<std::string, 8> Cells(const ScanRow& r, const std::string& absent) {
  return {r.address,
          ControlCharactersEscaped(r.model),
          ControlCharactersEscaped(r.name),
          ControlCharactersEscaped(r.location),
          ControlCharactersEscaped(r.firmware),
          r.mac.value_or(absent),
          r.rssi_dbm ? std::to_string(*r.rssi_dbm) : absent,
          ControlCharactersEscaped(r.wifi_mode)};
}

// Characters of UTF-8 text: every byte that does not continue a sequence.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// A spreadsheet takes a cell that starts with one of these for a formula; a text cell gets an
// apostrophe first, which it shows as text.
bool LooksLikeFormula(const std::string& text) {
  return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
}

std::string CsvField(std::string text, bool is_text) {
  if (is_text && LooksLikeFormula(text)) text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string ScanTable(const std::vector<ScanRow>& rows) {
  std::array<std::size_t, 8> widths{};
  for (std::size_t c = 0; c < kTitles.size(); ++c) widths[c] = Width(kTitles[c]);
  std::vector<std::array<std::string, 8>> lines;
  for (const ScanRow& r : rows) {
    lines.push_back(Cells(r, "-"));
    for (std::size_t c = 0; c < widths.size(); ++c)
      widths[c] = std::max(widths[c], Width(lines.back()[c]));
  }
  std::string out;
  const auto add_line = [&](const auto& cells) {
    std::string line;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      const std::string cell = cells[c];
      line += cell;
      if (c + 1 < widths.size()) line += std::string(widths[c] - Width(cell) + 2, ' ');
    }
    out += line + "\n";
  };
  add_line(kTitles);
  for (const auto& cells : lines) add_line(cells);
  return out;
}

std::string ScanCsv(const std::vector<ScanRow>& rows) {
  std::string out = std::string(kScanCsvHeader) + "\n";
  for (const ScanRow& r : rows) {
    const auto cells = Cells(r, "");
    for (std::size_t c = 0; c < cells.size(); ++c)
      out += (c ? "," : "") + CsvField(cells[c], kTextColumn[c]);
    out += "\n";
  }
  return out;
}

std::string ScanJson(const std::vector<ScanRow>& rows) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const ScanRow& r : rows) {
    nlohmann::ordered_json o;
    o["address"] = r.address;
    o["model"] = r.model;
    o["name"] = r.name;
    o["location"] = r.location;
    o["firmware"] = r.firmware;
    o["mac"] = r.mac ? nlohmann::ordered_json(*r.mac) : nullptr;
    o["rssi_dbm"] = r.rssi_dbm ? nlohmann::ordered_json(*r.rssi_dbm) : nullptr;
    o["wifi_mode"] = r.wifi_mode;
    list.push_back(std::move(o));
  }
  // JSON escapes C0 controls itself; DEL and the C1 ones (U+0080 to U+009F, C2 80 to C2 9F in
  // UTF-8; both only ever inside a string) it writes as they are, and terminals act on them.
  const std::string json = list.dump(2);
  std::string out;
  out.reserve(json.size() + 1);
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto next = i + 1 < json.size() ? static_cast<unsigned char>(json[i + 1]) : 0u;
    if (json[i] == '\x7F') {
      out += "\\u007f";
    } else if (static_cast<unsigned char>(json[i]) == 0xC2 && next >= 0x80 && next <= 0x9F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", next);
      out += escaped;
      ++i;
    } else {
      out += json[i];
    }
  }
  return out + "\n";
}

}  // namespace zvk
