// The scan's rows for a person (a text table) and for scripts (CSV, JSON). The CSV's header line
// names the columns, so a file of it can be read back as a list of modules.
#pragma once

#include <string>
#include <vector>

#include "fleet/scan.h"

namespace zvk {

// address,model,name,location,firmware,mac,rssi_dbm,wifi_mode
inline constexpr const char* kScanCsvHeader =
    "address,model,name,location,firmware,mac,rssi_dbm,wifi_mode";

// Columns padded to their widest cell (counted in characters, not bytes); an absent MAC or
// signal strength shows as "-".
std::string ScanTable(const std::vector<ScanRow>& rows);
// The header line, then one line a module; a field with a comma, a quote or a line break is
// quoted (RFC 4180); an absent MAC or signal strength is an empty field.
std::string ScanCsv(const std::vector<ScanRow>& rows);
// An array of objects with the CSV's column names; an absent MAC or signal strength is null.
std::string ScanJson(const std::vector<ScanRow>& rows);

}  // namespace zvk
