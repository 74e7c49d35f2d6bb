// Reads arbitrary bytes as a site's content.ct and then as its state.st, the
// way a damaged data directory would be read, and checks that whatever was
// kept stores and loads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"

namespace {

using namespace orvane;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string SaveContent(const CFTPDir& root) {
  StringSink sink;
  CArchiveWriter writer(sink);
  root.Serialize(writer);
  Check(writer.Close() == ArchiveError::kNone);
  return sink.bytes;
}

std::string SaveState(const CFTPDir& root) {
  StringSink sink;
  CArchiveWriter writer(sink);
  root.SerializeState(writer);
  Check(writer.Close() == ArchiveError::kNone);
  return sink.bytes;
}

// Parent links and the nesting bound hold for every loaded tree.
void CheckLinks(const CFTPDir& root) {
  struct Item {
    const CFTPDir* dir;
    std::size_t depth;
  };
  std::vector<Item> pending{{&root, 0}};
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    Check(item.depth <= CFTPDir::kMaxLoadDepth);
    for (const auto& file : item.dir->files) Check(file->parent == item.dir);
    for (const auto& sub : item.dir->subdirs) {
      Check(sub->parent == item.dir);
      pending.push_back({sub.get(), item.depth + 1});
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CFTPSite site;
  site.host = "fuzz";
  site.password = std::string(kAnonymousPassword);
  CFTPDir& root = *site.rootDir;
  {
    MemorySource source(data, size);
    CArchiveReader reader(source);
    root.Serialize(reader);
  }
  CheckLinks(root);
  {
    MemorySource source(data, size);
    CArchiveReader reader(source);
    root.SerializeState(reader);
  }

  const std::string content = SaveContent(root);
  const std::string state = SaveState(root);
  Check(state.size() == 4 * root.CountEntries());

  CFTPSite again;
  {
    MemorySource source(content);
    CArchiveReader reader(source);
    Check(again.rootDir->Serialize(reader) == ArchiveError::kNone);
    Check(reader.AtEnd());
  }
  {
    MemorySource source(state);
    CArchiveReader reader(source);
    Check(again.rootDir->SerializeState(reader) == ArchiveError::kNone);
    Check(reader.AtEnd());
  }
  Check(SaveContent(*again.rootDir) == content);
  Check(SaveState(*again.rootDir) == state);
  return 0;
}
