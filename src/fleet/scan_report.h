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

// Every text cell of both shows a control character of the module's texts as \xNN (a module's
// location is anyone's to set on its network), so a row stays one line and never acts on the
// terminal that shows it.
//
// Columns padded to their widest cell (counted in characters, not bytes); an absent MAC or
// signal strength shows as "-".
std::string ScanTable(const std::vector<ScanRow>& rows);
// The header line, then one line a module; a field with a comma or a quote is quoted (RFC 4180);
// a text cell starting with =, +, - or @ gets an apostrophe first, so a spreadsheet shows it
// as text instead of evaluating it; an absent MAC or signal strength is an empty field.
std::string ScanCsv(const std::vector<ScanRow>& rows);
// An array of objects with the CSV's column names; an absent MAC or signal strength is null.
// Texts are whole, their control characters (C1 ones too) escaped as JSON escapes them.
std::string ScanJson(const std::vector<ScanRow>& rows);

}  // namespace zvk
