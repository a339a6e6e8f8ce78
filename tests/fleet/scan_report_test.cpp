#include "fleet/scan_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace zvk {
namespace {

std::vector<ScanRow> Rows() {
  ScanRow a{"192.168.1.7",
            wire::kModelQn6,
            "zVK-QN6",
            "zVK-Analog-0001",
            "Kessel \xC3\xA9st",
            "V01.12",
            "02:5A:51:36:00:01",
            -61,
            "AP"};
  ScanRow b{"192.168.1.12", wire::kModelKm3, "zVK-KM3", "Line \"B\", north", "", "V02.00",
            std::nullopt,   std::nullopt,    "Station"};
  return {a, b};
}

TEST(ScanReport, CsvQuotesWhatNeedsItAndLeavesAbsentFieldsEmpty) {
  EXPECT_EQ(
      ScanCsv(Rows()),
      "address,model,name,location,firmware,mac,rssi_dbm,wifi_mode\n"
      "192.168.1.7,zVK-QN6,zVK-Analog-0001,Kessel \xC3\xA9st,V01.12,02:5A:51:36:00:01,-61,AP\n"
      "192.168.1.12,zVK-KM3,\"Line \"\"B\"\", north\",,V02.00,,,Station\n");
  EXPECT_EQ(ScanCsv({}), std::string(kScanCsvHeader) + "\n");
}

TEST(ScanReport, JsonHasTheCsvColumnsWithNullForAbsentFields) {
  const auto json = nlohmann::json::parse(ScanJson(Rows()));
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["location"], "Kessel \xC3\xA9st");
  EXPECT_EQ(json[0]["rssi_dbm"], -61);
  EXPECT_EQ(json[1]["name"], "Line \"B\", north");
  EXPECT_TRUE(json[1]["mac"].is_null());
  EXPECT_TRUE(json[1]["rssi_dbm"].is_null());
  EXPECT_EQ(json[1]["wifi_mode"], "Station");
  EXPECT_EQ(ScanJson({}), "[]\n");
}

// Where `cell` starts in `line`, counted in characters.
std::size_t CharColumn(const std::string& line, const std::string& cell) {
  const std::size_t at = line.find(cell);
  EXPECT_NE(at, std::string::npos) << cell << " in " << line;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < at && i < line.size(); ++i)
    if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++chars;
  return chars;
}

TEST(ScanReport, TableColumnsLineUpByCharactersAndShowAbsentFieldsAsDashes) {
  std::vector<std::string> lines;
  const std::string table = ScanTable(Rows());
  for (std::size_t start = 0, end; (end = table.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(table.substr(start, end - start));
  ASSERT_EQ(lines.size(), 3u);
  const std::vector<std::vector<std::string>> columns = {
      {"MODEL", "zVK-QN6", "zVK-KM3"},
      {"LOCATION", "Kessel \xC3\xA9st", "V02.00"},  // the empty location leaves its column
      {"WI-FI", "AP", "Station"}};
  for (const auto& column : columns) {
    if (column[0] == "LOCATION") {
      EXPECT_LT(CharColumn(lines[0], "LOCATION"), CharColumn(lines[2], "V02.00"));
      EXPECT_EQ(CharColumn(lines[0], "FIRMWARE"), CharColumn(lines[2], "V02.00"));
      EXPECT_EQ(CharColumn(lines[0], "LOCATION"), CharColumn(lines[1], column[1]));
      continue;
    }
    EXPECT_EQ(CharColumn(lines[0], column[0]), CharColumn(lines[1], column[1])) << column[0];
    EXPECT_EQ(CharColumn(lines[0], column[0]), CharColumn(lines[2], column[2])) << column[0];
  }
  EXPECT_EQ(CharColumn(lines[0], "FIRMWARE"), CharColumn(lines[1], "V01.12"));
  const std::size_t mac = CharColumn(lines[0], "MAC");
  EXPECT_EQ(CharColumn(lines[1], "02:5A:51:36:00:01"), mac);
  EXPECT_EQ(lines[2].substr(mac, 3), "-  ");  // no MAC; the second row is plain ASCII
}

// Anyone on a module's network can set its location and name: no printer lets such a text break
// a line, act on the terminal, or make a spreadsheet evaluate it.
TEST(ScanReport, ModuleTextsNeitherBreakLinesNorReachTheTerminalNorEvaluate) {
  struct Case {
    std::string text;   // the module's location and name, in UTF-8
    std::string shown;  // in the table
    std::string cell;   // in the CSV
  };
  const Case cases[] = {
      {"\x1B]0;owned\x07\x1B[2J", "\\x1B]0;owned\\x07\\x1B[2J", "\\x1B]0;owned\\x07\\x1B[2J"},
      {"Tank\r\n4", "Tank\\x0D\\x0A4", "Tank\\x0D\\x0A4"},
      {"\tTab", "\\x09Tab", "\\x09Tab"},
      {"\xC2\x9B"
       "2J",
       "\\x9B2J", "\\x9B2J"},  // the C1 introducer of a control sequence
      {"Del\x7F", "Del\\x7F", "Del\\x7F"},
      {"=HYPERLINK(\"http://x\",\"y\")", "=HYPERLINK(\"http://x\",\"y\")",
       "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
      {"+1", "+1", "'+1"},
      {"-5", "-5", "'-5"},
      {"@SUM(A1)", "@SUM(A1)", "'@SUM(A1)"},
      {"a=b-c", "a=b-c", "a=b-c"},
      {"K\xC3\xA9sst", "K\xC3\xA9sst", "K\xC3\xA9sst"},
  };
  const auto safe = [](const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      if ((b < 0x20 && b != '\n') || b == 0x7F) return false;
      if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
          static_cast<unsigned char>(text[i + 1]) <= 0x9F)
        return false;
    }
    return true;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScanRow row = Rows()[0];
    row.name = c.text;
    row.location = c.text;

    const std::string csv = ScanCsv({row});
    EXPECT_EQ(csv, std::string(kScanCsvHeader) + "\n192.168.1.7,zVK-QN6," + c.cell + "," + c.cell +
                       ",V01.12,02:5A:51:36:00:01,-61,AP\n");

    const std::string table = ScanTable({row});
    EXPECT_TRUE(safe(table)) << table;
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2) << table;
    EXPECT_NE(table.find("zVK-QN6  " + c.shown), std::string::npos) << table;

    // JSON keeps the text whole, in escapes a terminal does not act on.
    const std::string json = ScanJson({row});
    EXPECT_TRUE(safe(json)) << json;
    EXPECT_EQ(nlohmann::json::parse(json)[0]["location"], c.text);
  }
}

}  // namespace
}  // namespace zvk
