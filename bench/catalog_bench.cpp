// Catalog storage and merge costs on a catalog of one million entries
// (50,000 directories, 950,000 files, names of 8 to 40 bytes).
//
// Targets: load content.ct + state.st >= 10M entries/s; save both >= 20M
// entries/s; resident memory after loading <= 64 bytes per entry plus the
// names' bytes; merging a 100,000-entry listing into a 100,000-entry
// directory (half known, half new) <= 50 ms.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalog/archive_reader.h"
#include "catalog/archive_writer.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kDirectories = 50000;
constexpr std::size_t kFiles = 950000;
constexpr std::size_t kEntries = kDirectories + kFiles;

// Deterministic names of 8 to 40 bytes.
class NameMaker {
 public:
  explicit NameMaker(std::uint64_t seed) : random_(seed) {}
  std::string Next() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-";
    const std::size_t length = 8 + random_() % 33;
    std::string name(length, ' ');
    for (char& c : name) c = kChars[random_() % (sizeof kChars - 1)];
    return name;
  }
  std::uint64_t Number() { return random_(); }

 private:
  std::mt19937_64 random_;
};

struct Catalog {
  std::unique_ptr<CFTPSite> site;
  std::size_t nameBytes = 0;
};

// Each directory hangs below a random earlier one; each file goes into a
// random directory. About one entry in ten is new.
Catalog MakeCatalog() {
  Catalog catalog;
  catalog.site = std::make_unique<CFTPSite>();
  catalog.site->host = "bench.example.org";
  catalog.site->password = std::string(kAnonymousPassword);
  NameMaker names(20240601);
  std::vector<CFTPDir*> dirs{catalog.site->rootDir.get()};
  dirs.reserve(kDirectories + 1);
  for (std::size_t i = 0; i < kDirectories; ++i) {
    CFTPDir* parent = dirs[names.Number() % dirs.size()];
    std::string name = names.Next();
    catalog.nameBytes += name.size();
    dirs.push_back(
        parent->AddSubdir(std::make_unique<CFTPDir>(name, names.Number() % 10 == 0 ? 1 : 0)));
  }
  for (std::size_t i = 0; i < kFiles; ++i) {
    CFTPDir* parent = dirs[names.Number() % dirs.size()];
    std::string name = names.Next();
    catalog.nameBytes += name.size();
    const std::uint64_t size = names.Number() % (std::uint64_t{1} << (names.Number() % 40));
    parent->AddFile(CFTPFile::Make(name, size, names.Number() % 10 == 0 ? 1 : 0));
  }
  return catalog;
}

// The benchmark catalog saved once into a program directory of its own.
struct StoredCatalog {
  StoredCatalog() {
    std::string pattern = (fs::temp_directory_path() / "orvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    programDir = pattern;
    catalog = MakeCatalog();
    if (!catalog.site->SaveCatalog(programDir) || !catalog.site->SaveState(programDir)) {
      std::abort();
    }
    dataDir = catalog.site->DataDirectory(programDir);
    // Saves start from a loaded catalog, laid out in memory the way a real
    // one is (a directory's entries made together), not from the generator's
    // scattered one.
    loaded = FreshSite();
    if (loaded->LoadCatalog(dataDir / "content.ct") != ArchiveError::kNone ||
        !loaded->LoadState(dataDir / "state.st")) {
      std::abort();
    }
  }
  ~StoredCatalog() { fs::remove_all(programDir); }

  std::unique_ptr<CFTPSite> FreshSite() const {
    auto site = std::make_unique<CFTPSite>();
    site->host = catalog.site->host;
    site->password = catalog.site->password;
    return site;
  }

  fs::path programDir;
  fs::path dataDir;
  Catalog catalog;
  std::unique_ptr<CFTPSite> loaded;
};

StoredCatalog& Stored() {
  static StoredCatalog stored;
  return stored;
}

void BM_LoadCatalogAndState(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  for (auto _ : state) {
    auto site = stored.FreshSite();
    if (site->LoadCatalog(stored.dataDir / "content.ct") != ArchiveError::kNone) std::abort();
    if (!site->LoadState(stored.dataDir / "state.st")) std::abort();
    benchmark::DoNotOptimize(site.get());
    state.PauseTiming();
    if (site->rootDir->CountEntries() != kEntries) std::abort();
    site.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_LoadCatalogAndState)->Unit(benchmark::kMillisecond)->UseRealTime();

// A window thread that takes the site's lock (to snapshot the root) again
// and again while a worker loads the catalog: the longest it waited for the
// lock, against the whole load. The parse runs outside the lock; only the
// link of its result under the root is done under it.
void BM_LockWaitDuringLoad(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  double longestWait = 0;
  for (auto _ : state) {
    auto site = stored.FreshSite();
    std::atomic<bool> done{false};
    std::thread worker([&] {
      site->LoadCatalogAndState(stored.dataDir / "content.ct", stored.dataDir / "state.st");
      done.store(true);
    });
    while (!done.load()) {
      const auto asked = std::chrono::steady_clock::now();
      { std::lock_guard guard(site->lock); }
      const std::chrono::duration<double, std::milli> waited =
          std::chrono::steady_clock::now() - asked;
      longestWait = std::max(longestWait, waited.count());
      std::this_thread::yield();
    }
    worker.join();
    state.PauseTiming();
    site.reset();
    state.ResumeTiming();
  }
  state.counters["longestLockWaitMs"] = longestWait;
}
BENCHMARK(BM_LockWaitDuringLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same from memory: what the decoding and tree building cost without
// the file system.
void BM_LoadFromMemory(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  StringSink content;
  StringSink marks;
  {
    CArchiveWriter writer(content);
    stored.catalog.site->rootDir->Serialize(writer);
    writer.Close();
    CArchiveWriter stateWriter(marks);
    stored.catalog.site->rootDir->SerializeState(stateWriter);
    stateWriter.Close();
  }
  for (auto _ : state) {
    auto site = stored.FreshSite();
    MemorySource contentSource(content.bytes);
    CArchiveReader contentReader(contentSource);
    if (site->rootDir->Serialize(contentReader) != ArchiveError::kNone) std::abort();
    MemorySource stateSource(marks.bytes);
    CArchiveReader stateReader(stateSource);
    if (site->rootDir->SerializeState(stateReader) != ArchiveError::kNone) std::abort();
    state.PauseTiming();
    site.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
  state.counters["content_MB"] = static_cast<double>(content.bytes.size()) / 1e6;
}
BENCHMARK(BM_LoadFromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both files replaced atomically, fsync included.
void BM_SaveCatalogAndState(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  for (auto _ : state) {
    if (!stored.loaded->SaveCatalog(stored.programDir)) std::abort();
    if (!stored.loaded->SaveState(stored.programDir)) std::abort();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_SaveCatalogAndState)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same in one walk of the catalog.
void BM_SaveCatalogAndStateInOneWalk(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  for (auto _ : state) {
    if (!stored.loaded->SaveCatalogAndState(stored.programDir)) std::abort();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_SaveCatalogAndStateInOneWalk)->Unit(benchmark::kMillisecond)->UseRealTime();

// The save that other processes can live with (flock, identity checks,
// the state file read back), when no other process changed anything.
void BM_SaveFilesUnchangedOnDisk(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  for (auto _ : state) {
    if (stored.loaded->SaveFiles(stored.programDir, true) != CFTPSite::SaveResult::kSaved) {
      std::abort();
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_SaveFilesUnchangedOnDisk)->Unit(benchmark::kMillisecond)->UseRealTime();

// A state-only save after another process cleared every mark (an empty
// state file): the catalog on disk is read again and the clears (one
// entry in ten) taken over before the state is written.
void BM_SaveStateTakingOverClearedMarks(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  const fs::path statePath = stored.dataDir / "state.st";
  for (auto _ : state) {
    state.PauseTiming();
    if (!stored.catalog.site->SaveState(stored.programDir)) std::abort();
    auto site = stored.FreshSite();
    site->LoadCatalogAndState(stored.dataDir / "content.ct", statePath);
    site->rootDir->files.front()->readState.store(0);  // this process's own clear
    std::ofstream(statePath, std::ios::trunc);
    state.ResumeTiming();
    if (site->SaveFiles(stored.programDir, false) != CFTPSite::SaveResult::kSaved) std::abort();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_SaveStateTakingOverClearedMarks)->Unit(benchmark::kMillisecond)->UseRealTime();

// The plain state save, for comparison.
void BM_SaveStateOnly(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  for (auto _ : state) {
    if (!stored.loaded->SaveState(stored.programDir)) std::abort();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_SaveStateOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

class NullSink final : public ByteSink {
 public:
  bool Write(const void*, std::size_t size) override {
    bytes += size;
    return true;
  }
  std::size_t bytes = 0;
};

// Encoding alone, the bytes dropped.
void BM_SaveEncodingOnly(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  for (auto _ : state) {
    NullSink sink;
    CArchiveWriter writer(sink);
    stored.loaded->rootDir->Serialize(writer);
    stored.loaded->rootDir->SerializeState(writer);
    writer.Close();
    benchmark::DoNotOptimize(sink.bytes);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_SaveEncodingOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

long ResidentBytes() {
  long pages = 0;
  long resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return resident * ::sysconf(_SC_PAGESIZE);
}

// Memory held by a loaded catalog, beyond its names' bytes: by the heap's
// own count and by resident pages.
void BM_MemoryAfterLoad(benchmark::State& state) {
  StoredCatalog& stored = Stored();
  const double names = static_cast<double>(stored.catalog.nameBytes);
  double heapPerEntry = 0;
  double residentPerEntry = 0;
  for (auto _ : state) {
    ::malloc_trim(0);
    const auto heapBefore = ::mallinfo2().uordblks;
    const long residentBefore = ResidentBytes();
    auto site = stored.FreshSite();
    site->LoadCatalog(stored.dataDir / "content.ct");
    site->LoadState(stored.dataDir / "state.st");
    const auto heapAfter = ::mallinfo2().uordblks;
    const long residentAfter = ResidentBytes();
    heapPerEntry = (static_cast<double>(heapAfter - heapBefore) - names) / kEntries;
    residentPerEntry = (static_cast<double>(residentAfter - residentBefore) - names) / kEntries;
    benchmark::DoNotOptimize(site.get());
  }
  state.counters["heap_B_per_entry"] = heapPerEntry;
  state.counters["rss_B_per_entry"] = residentPerEntry;
  state.counters["name_B_per_entry"] = names / kEntries;
}
BENCHMARK(BM_MemoryAfterLoad)->Unit(benchmark::kMillisecond)->Iterations(1);

class DiscardingSink final : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile>) override { ++removed; }
  void DirRemoved(std::unique_ptr<CFTPDir>) override { ++removed; }
  std::size_t removed = 0;
};

// A 100,000-entry directory (5% subdirectories) merged with a listing that
// keeps every other stored entry, in shuffled order, and brings as many new
// ones; the sweep removes the other half.
void BM_MergeLargeDirectory(benchmark::State& state) {
  constexpr std::size_t kSize = 100000;
  NameMaker names(7);
  struct Entry {
    std::string name;
    bool isDirectory;
    std::uint64_t size;
  };
  std::vector<Entry> stored;
  std::vector<Entry> listing;
  for (std::size_t i = 0; i < kSize; ++i) {
    // The numeric suffix keeps the generated names distinct.
    stored.push_back({names.Next() + std::to_string(i), i % 20 == 0, i});
    if (i % 2 == 0) listing.push_back(stored.back());
  }
  for (std::size_t i = 0; i < kSize / 2; ++i) {
    listing.push_back({names.Next() + "n" + std::to_string(i), i % 20 == 0, i});
  }
  std::shuffle(listing.begin(), listing.end(), std::mt19937_64(11));

  std::unique_ptr<CFTPSite> site;
  for (auto _ : state) {
    state.PauseTiming();
    site.reset();
    site = std::make_unique<CFTPSite>();
    CFTPDir& dir = *site->rootDir;
    dir.files.reserve(kSize);
    for (const Entry& e : stored) {
      if (e.isDirectory) {
        dir.AddSubdir(std::make_unique<CFTPDir>(e.name));
      } else {
        dir.AddFile(CFTPFile::Make(e.name, e.size));
      }
    }
    DiscardingSink sink;
    state.ResumeTiming();

    CListingMerge merge(dir);
    for (const Entry& e : listing) merge.Add(e.name, e.isDirectory, e.size + 1);
    merge.Sweep(sink);

    state.PauseTiming();
    if (sink.removed != kSize / 2 || dir.files.size() + dir.subdirs.size() != kSize) std::abort();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}
BENCHMARK(BM_MergeLargeDirectory)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
