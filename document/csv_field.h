// One field of a CSV record, written so that no text can change the
// record's shape or be run by a spreadsheet.
//
// RFC 4180: a field holding ',', '"', CR or LF is quoted, its quotes
// doubled. A field that begins with '=', '+', '-', '@', TAB or CR is one a
// spreadsheet would take as a formula; it gets a leading "'", which the
// spreadsheet shows as text and hides. Every text column of every export
// goes through here; numbers the program writes need not.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvane {

// `text` (UTF-8) as one CSV field.
std::string CsvField(std::string_view text);

// Appends `fields` as one record: each through CsvField, joined by ',',
// ended by CRLF.
void AppendCsvRecord(std::string& out, std::initializer_list<std::string_view> fields);

}  // namespace orvane
