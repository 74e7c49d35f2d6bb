// Reads arbitrary bytes as a site list (site.ds) and as an import file, and
// builds the full address of a display path for every site read. What the
// site list kept must store and load back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/code_page.h"
#include "document/ftp_address.h"
#include "document/orvane_doc.h"

namespace {

using namespace orvane;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Store(const COrvaneDoc& doc) {
  StringSink sink;
  CArchiveWriter writer(sink);
  doc.Serialize(writer);
  Check(writer.Close() == ArchiveError::kNone);
  return sink.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  IDocumentHost host;

  // The bytes as site.ds: the sites before any damage stay and round-trip.
  COrvaneDoc doc("/nonexistent", host);
  MemorySource source(bytes);
  CArchiveReader reader(source);
  doc.Serialize(reader);
  const std::string stored = Store(doc);
  COrvaneDoc again("/nonexistent", host);
  MemorySource storedSource(stored);
  CArchiveReader storedReader(storedSource);
  Check(again.Serialize(storedReader) == ArchiveError::kNone);
  Check(Store(again) == stored);

  // The same bytes as the lines of an import file, each also used as a
  // display path against every site read above.
  std::string_view text = bytes;
  ImportedLogin login;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ParseImportLine(line, login);
    std::string_view key;
    std::string_view place;
    SplitDisplayPath(line, key, place);
    for (const auto& site : doc.sites()) {
      const std::string address = BuildFileAddress(*site, place);
      // Addresses are single lines of visible ASCII: everything else is
      // percent-encoded.
      for (const char c : address) Check(c > 0x20 && c < 0x7F);
    }
  }
  return 0;
}
