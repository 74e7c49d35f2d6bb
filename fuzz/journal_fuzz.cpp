// Reads arbitrary bytes as a change journal (changes.jn). Whatever the
// reader keeps must survive the writer: the records rewritten from the
// bytes read back equal, and the rewrite leaves no damage behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/change_journal.h"

namespace {

using namespace orvane;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool damaged = false;
  const std::vector<JournalRecord> records = ReadJournal(bytes, &damaged);
  const JournalFrames scan = ScanJournal(bytes);
  Check(scan.validBytes <= size);
  Check(records.size() <= scan.frames.size());

  // The whole frames are kept byte for byte by a rewrite.
  const std::string rewritten = RewriteJournal(bytes, {}, {});
  const JournalFrames again = ScanJournal(rewritten);
  Check(!again.damaged || rewritten.size() <= 8);
  Check(again.frames.size() == scan.frames.size());

  // Decoded records encode to frames that decode to the same records.
  std::vector<std::string> frames;
  for (const JournalRecord& record : records) frames.push_back(EncodeJournalRecord(record));
  bool redamaged = true;
  Check(ReadJournal(RewriteJournal({}, frames, {records.size() + 1, SIZE_MAX}), &redamaged) ==
        records);
  Check(!redamaged);
  return 0;
}
