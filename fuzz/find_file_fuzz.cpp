// Reads arbitrary bytes as a site's find file (find.idx). The reader either
// refuses them or every entry it then offers can be read: texts, names,
// sizes, kinds, marks and paths stay inside the bytes, and every parent
// comes before its child.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "document/find_file.h"

namespace {

using namespace orvane;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The file is read in place, as mapped: aligned as a mapping is.
  std::vector<std::uint64_t> aligned(size / 8 + 1);
  std::memcpy(aligned.data(), data, size);
  const std::string_view bytes(reinterpret_cast<const char*>(aligned.data()), size);
  const std::unique_ptr<CFindFile> file = CFindFile::Parse(bytes, nullptr);
  if (!file) return 0;
  const char* begin = bytes.data();
  const char* end = begin + size;
  const auto inside = [&](std::string_view part) {
    return part.empty() || (part.data() >= begin && part.data() + part.size() <= end);
  };
  Check(inside(file->texts()));
  std::size_t pathBytes = 0;
  for (std::uint32_t i = 0; i < file->count(); ++i) {
    Check(inside(file->Texts(i)));
    Check(inside(file->Name(i)));
    Check(inside(file->TerminalName(i)));
    const std::uint32_t parent = file->Parent(i);
    Check(parent == CFindFile::kNoParent || (parent < i && file->IsDir(parent)));
    Check(!file->IsNew(i));  // no state.st is read by Parse
    file->Prefetch(i);
    file->PrefetchName(i);
    // Paths of the first entries (a deep chain would make all of them
    // quadratic).
    if (pathBytes < (std::size_t{1} << 20)) {
      pathBytes += file->RawPath(i).size() + file->TerminalPath(i).size() + 1;
    }
  }
  return 0;
}
