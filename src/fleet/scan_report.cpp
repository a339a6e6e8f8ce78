#include "fleet/scan_report.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

namespace zvk {

namespace {

constexpr std::array<const char*, 8> kTitles{"ADDRESS",  "MODEL", "NAME", "LOCATION",
                                             "FIRMWARE", "MAC",   "RSSI", "WI-FI"};

std::array<std::string, 8> Cells(const ScanRow& r, const std::string& absent) {
  return {r.address,
          r.model,
          r.name,
          r.location,
          r.firmware,
          r.mac.value_or(absent),
          r.rssi_dbm ? std::to_string(*r.rssi_dbm) : absent,
          r.wifi_mode};
}

// Characters of UTF-8 text: every byte that does not continue a sequence.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string CsvField(const std::string& text) {
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
    for (std::size_t c = 0; c < cells.size(); ++c) out += (c ? "," : "") + CsvField(cells[c]);
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
  return list.dump(2) + "\n";
}

}  // namespace zvk
