#include "document/csv_field.h"

#include <utility>

namespace orvane {

std::string CsvField(std::string_view text) {
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos;
  std::string field;
  field.reserve(text.size() + 3);
  if (quote) field += '"';
  if (formula) field += '\'';
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  if (quote) field += '"';
  return field;
}

void AppendCsvRecord(std::string& out, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!std::exchange(first, false)) out += ',';
    out += CsvField(field);
  }
  out += "\r\n";
}

}  // namespace orvane
