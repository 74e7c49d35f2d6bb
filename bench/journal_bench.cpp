// What the change journal costs.
//
// BM_UpdateJournal: updates of a 2,000-directory site (2,001 directories
// with the root, 20 files in each: 40,020 files) from a loopback pyftpdlib
// server, in which 200 files appeared or went since the update before, so
// that each record holds 200 entries. Three sites of the same server are
// updated in every round, in turn (the order rotates):
//   off   no journal (limits of 0: nothing collected, nothing written)
//   on    a journal that grows by one record an update
//   full  a journal already at its 16 MiB cap, rewritten whole at each save
// Counters: the median update time of each, wall and this process's CPU,
// and the overhead of "on" and "full" over "off" in per cent (medians over
// the rounds; "paired": the median of each round's difference to "off").
// On a shared machine the wall times swing by tens of per cent between
// rounds; the CPU times, BM_MergeJournal and BM_JournalSave tell the cost.
//
// BM_MergeJournal: the crawl's merges of the same tree without the
// network, 200 files appearing or going each time, with and without the
// journal collecting them: the CPU collecting adds to an update.
//
// BM_JournalSave: the catalog's save alone (content.ct, state.st, and the
// journal in the same commit): without a record (0), with one appended to
// a journal that starts empty (1), and with one appended to a journal kept
// at its cap (2): a journal at its cap costs a save what an empty one does
// (the record is appended; the rewrite that keeps the cap comes once in an
// eighth of it).
//
// BM_ChangesCommand / BM_GrepCount: `orvane-cli changes` over a journal of
// 1,000 updates (20 entries each) against `grep -c` over the same records
// as text (what `changes` prints), each a process of its own with its
// output to /dev/null. The summary gives the ratio. orvane-cli is
// ORVANE_CLI, else the one beside the bench directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_ports.h"
#include "catalog/change_journal.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/listing_merge.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/ftp_server.h"
#include "update/update_engine.h"

extern char** environ;

namespace orvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTopDirs = 20;
constexpr int kSubdirsPerTop = 99;
constexpr int kFilesPerDir = 20;
constexpr int kChangedFiles = 200;
constexpr int kRounds = 7;

// Made at first use, removed with everything in it at exit.
struct WorkDirectory {
  fs::path path =
      fs::temp_directory_path() / ("orvane-journal-bench-" + std::to_string(::getpid()));
  WorkDirectory() { fs::create_directories(path); }
  ~WorkDirectory() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

const fs::path& WorkDir() {
  static WorkDirectory dir;
  return dir.path;
}

fs::path SubdirOf(const fs::path& root, int index) {
  return root / ("top-" + std::to_string(index / kSubdirsPerTop)) /
         ("sub-" + std::to_string(index % kSubdirsPerTop));
}

void MakeTree(const fs::path& root) {
  for (int t = 0; t < kTopDirs; ++t) {
    for (int s = -1; s < kSubdirsPerTop; ++s) {
      fs::path dir = root / ("top-" + std::to_string(t));
      if (s >= 0) dir /= "sub-" + std::to_string(s);
      fs::create_directories(dir);
      for (int f = 0; f < kFilesPerDir; ++f) {
        std::ofstream(dir / ("file-" + std::to_string(f) + ".dat")) << std::string(f + 1, 'x');
      }
    }
  }
}

// Round `round` adds 200 files spread over the tree when even, and takes
// them away again when odd.
void ChangeTree(const fs::path& root, int round) {
  for (int i = 0; i < kChangedFiles; ++i) {
    const fs::path file = SubdirOf(root, i * 9) / ("extra-" + std::to_string(i) + ".bin");
    if (round % 2 == 0) {
      std::ofstream(file) << "extra";
    } else {
      fs::remove(file);
    }
  }
}

class QuietListener final : public IEngineListener {
 public:
  void PostSiteStatus(std::shared_ptr<CFTPSite>) override {}
  void PostEntryRemoved(std::unique_ptr<CFTPDir>) override {}
  void PostEntryRemoved(std::unique_ptr<CFTPFile>) override {}
};

// Frames of `count` records of `entries` entries each, paths like the
// tree's.
std::vector<std::string> SyntheticRecords(int count, int entries) {
  std::vector<std::string> frames;
  for (int r = 0; r < count; ++r) {
    JournalRecord record;
    record.startTime = 1'765'000'000 + r * 3600;
    record.endTime = record.startTime + 40;
    for (int e = 0; e < entries; ++e) {
      JournalEntry entry;
      entry.kind = static_cast<JournalEntry::Kind>(1 + (e + r) % 3);
      entry.path = "/top-" + std::to_string(e % kTopDirs) + "/sub-" + std::to_string(e % 97) +
                   "/file-" + std::to_string(r) + "-" + std::to_string(e) + ".dat";
      entry.size = static_cast<std::uint64_t>(e) * 1000 + 17;
      if (entry.kind == JournalEntry::Kind::kResized) entry.oldSize = entry.size / 2;
      if (entry.kind == JournalEntry::Kind::kRemoved) entry.below = 0;
      record.entries.push_back(entry);
    }
    record.added = record.removed = record.resized = static_cast<std::uint64_t>(entries) / 3;
    frames.push_back(EncodeJournalRecord(record));
  }
  return frames;
}

void WriteJournal(const fs::path& path, const std::vector<std::string>& frames) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << RewriteJournal({}, frames, JournalLimits{});
}

// Of the samples there (failed runs are NaN).
double Median(std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

void BM_UpdateJournal(benchmark::State& state) {
  const fs::path tree = WorkDir() / "tree";
  MakeTree(tree);
  auto started = test::CFtpServer::StartPyftpdlib(tree);
  if (!started.server) {
    state.SkipWithError(("the FTP server could not be started: " + started.error).c_str());
    return;
  }
  const char* names[] = {"off", "on", "full"};
  struct Mode {
    std::shared_ptr<CFTPSite> site;
    fs::path data;
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;
  };
  std::vector<Mode> modes(3);
  for (int m = 0; m < 3; ++m) {
    Mode& mode = modes[static_cast<std::size_t>(m)];
    mode.site = std::make_shared<CFTPSite>();
    mode.site->host = "127.0.0.1";
    mode.site->port = started.server->port();
    mode.site->userName = names[m];
    mode.site->password = "pw";
    mode.site->anonymousUpdate = true;
    if (m == 0) mode.site->SetJournalLimits({0, 0});
    mode.data = WorkDir() / ("data-" + std::string(names[m]));
    if (m == 2) {
      // 1,000 records of 400 entries are more than 16 MiB: the cap cuts them.
      WriteJournal(mode.site->DataDirectory(mode.data) / kJournalFileName,
                   SyntheticRecords(1000, 400));
    }
  }
  // This process's CPU time (every thread; the server is another process).
  const auto cpu = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
  };
  int failures = 0;
  const auto update = [&cpu, &failures](Mode& mode, bool measured) {
    bench::WaitForFreePorts(14000);
    QuietListener listener;
    CUpdateEngine engine(listener, mode.data);
    const auto start = Clock::now();
    const double cpuStart = cpu();
    engine.UpdateAll({mode.site});
    while (engine.HasWork()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuSeconds = cpu() - cpuStart;
    engine.Close();
    if (mode.site->updateState.load() != kUpdateSucceeded) {
      // A loaded machine makes the Python server drop a connection now and
      // then: such a run is not a sample.
      const SiteStatus status = mode.site->Status();
      std::fprintf(stderr, "journal_bench: %s: not a sample: outcome %d, %s\n",
                   mode.site->siteKey().c_str(), static_cast<int>(status.outcome),
                   status.errorText.c_str());
      ++failures;
      if (measured) {
        mode.seconds.push_back(NAN);
        mode.cpuSeconds.push_back(NAN);
      }
    } else if (measured) {
      mode.seconds.push_back(seconds);
      mode.cpuSeconds.push_back(cpuSeconds);
    }
  };
  for (auto _ : state) {
    // The first crawl of each, untimed: what follows are updates.
    for (Mode& mode : modes) update(mode, false);
    for (int round = 0; round < kRounds; ++round) {
      ChangeTree(tree, round);
      for (int k = 0; k < 3; ++k) {
        Mode& mode = modes[static_cast<std::size_t>((round + k) % 3)];
        update(mode, true);
      }
    }
  }
  for (int m = 0; m < 3; ++m) {
    std::fprintf(stderr, "journal_bench: %-4s", names[m]);
    const Mode& mode = modes[static_cast<std::size_t>(m)];
    for (std::size_t i = 0; i < mode.seconds.size(); ++i) {
      std::fprintf(stderr, " %5.0f/%4.0f", mode.seconds[i] * 1000, mode.cpuSeconds[i] * 1000);
    }
    std::fprintf(stderr, " ms (wall/cpu)\n");
  }
  state.counters["failed_runs"] = failures;
  const double off = Median(modes[0].seconds);
  for (int m = 0; m < 3; ++m) {
    state.counters[std::string(names[m]) + "_ms"] =
        Median(modes[static_cast<std::size_t>(m)].seconds) * 1000;
  }
  state.counters["on_overhead_%"] = (Median(modes[1].seconds) / off - 1) * 100;
  state.counters["full_overhead_%"] = (Median(modes[2].seconds) / off - 1) * 100;
  // The three of a round ran back to back: their differences leave out
  // most of the machine's drift between rounds.
  for (int m = 1; m < 3; ++m) {
    std::vector<double> differences;
    for (std::size_t i = 0; i < modes[0].seconds.size(); ++i) {
      differences.push_back(modes[static_cast<std::size_t>(m)].seconds[i] - modes[0].seconds[i]);
    }
    state.counters[std::string(names[m]) + "_paired_%"] = Median(differences) / off * 100;
  }
  // CPU time is far steadier than wall time on a shared machine.
  const double offCpu = Median(modes[0].cpuSeconds);
  for (int m = 0; m < 3; ++m) {
    state.counters[std::string(names[m]) + "_cpu_ms"] =
        Median(modes[static_cast<std::size_t>(m)].cpuSeconds) * 1000;
  }
  state.counters["on_cpu_overhead_%"] = (Median(modes[1].cpuSeconds) / offCpu - 1) * 100;
  state.counters["full_cpu_overhead_%"] = (Median(modes[2].cpuSeconds) / offCpu - 1) * 100;
  state.counters["journal_MiB"] =
      static_cast<double>(
          fs::file_size(modes[2].site->DataDirectory(modes[2].data) / kJournalFileName)) /
      (1 << 20);
}
BENCHMARK(BM_UpdateJournal)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A catalog shaped like the tree, with its marks.
void FillCatalog(CFTPDir& root) {
  for (int t = 0; t < kTopDirs; ++t) {
    CFTPDir* top = root.AddSubdir(std::make_unique<CFTPDir>("top-" + std::to_string(t), true));
    for (int s = -1; s < kSubdirsPerTop; ++s) {
      CFTPDir* dir =
          s < 0 ? top : top->AddSubdir(std::make_unique<CFTPDir>("sub-" + std::to_string(s), true));
      for (int f = 0; f < kFilesPerDir; ++f) {
        dir->AddFile(CFTPFile::Make("file-" + std::to_string(f) + ".dat",
                                    static_cast<std::uint64_t>(f + 1), true));
      }
    }
  }
}

void BM_JournalSave(benchmark::State& state) {
  // 0: no record to write (content.ct and state.st only); 1: one record,
  // into a journal that starts empty; 2: one record, into a journal that
  // starts at its cap (1,000 records), so that it stays there: the caps
  // are kept by a rewrite every eighth of them, which the iterations
  // include at their share.
  const int mode = static_cast<int>(state.range(0));
  CFTPSite site;
  site.host = "127.0.0.1";
  FillCatalog(*site.rootDir);
  const fs::path data = WorkDir() / ("save-" + std::to_string(mode));
  fs::remove_all(data);
  fs::create_directories(site.DataDirectory(data));
  const std::vector<std::string> record = SyntheticRecords(1, kChangedFiles);
  if (mode == 2) {
    // Records of the size of `record`, as many as the cap holds.
    const std::vector<std::string> full = SyntheticRecords(1000, kChangedFiles);
    WriteJournal(site.DataDirectory(data) / kJournalFileName, full);
    std::uint64_t bytes = 8;
    for (const std::string& frame : full) bytes += frame.size();
    site.SetJournalLimits({1000, static_cast<std::size_t>(bytes) + (1u << 20)});
  }
  for (auto _ : state) {
    if (!site.SaveCatalogAndState(data, nullptr, mode != 0 ? &record : nullptr)) {
      state.SkipWithError("the save failed");
      return;
    }
  }
  std::string bytes;
  ReadJournalFile(site.DataDirectory(data) / kJournalFileName, bytes);
  state.counters["journal MiB"] = static_cast<double>(bytes.size()) / (1 << 20);
  state.counters["records"] = static_cast<double>(ReadJournal(bytes).size());
}
// Enough saves for two rewrites of the journal at its cap. The work
// directory follows TMPDIR: on a tmpfs the figures leave out the disk's
// fsyncs, which on a shared machine vary more than the save itself.
BENCHMARK(BM_JournalSave)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

class DropRemoved final : public IRemovalSink {
 public:
  void FileRemoved(std::unique_ptr<CFTPFile>) override {}
  void DirRemoved(std::unique_ptr<CFTPDir>) override {}
};

// Every directory of `dir`'s tree merged with its listing, as a crawl
// does, with the 200 extra files of ChangeTree there when `extra`.
void MergeTree(CFTPSite& site, CFTPDir& dir, int& index, bool extra, DropRemoved& sink) {
  std::vector<CFTPDir*> subdirs;
  {
    std::lock_guard guard(site.lock);
    CListingMerge merge(dir);
    for (const auto& sub : dir.subdirs) {
      merge.Add(sub->name(), true, 0);
      subdirs.push_back(sub.get());
    }
    for (int f = 0; f < kFilesPerDir; ++f) {
      merge.Add("file-" + std::to_string(f) + ".dat", false, static_cast<std::uint64_t>(f + 1));
    }
    // The subdirectories are numbered as SubdirOf numbers them.
    if (extra && dir.parent && dir.parent->parent && index % 9 == 0 && index / 9 < kChangedFiles) {
      merge.Add("extra-" + std::to_string(index / 9) + ".bin", false, 5);
    }
    merge.Sweep(sink);
  }
  if (dir.parent && dir.parent->parent) ++index;
  for (CFTPDir* sub : subdirs) MergeTree(site, *sub, index, extra, sink);
}

// The crawl's merges of the whole tree, with the journal collecting what
// they change (1) or not (0): what collecting adds to an update's CPU.
void BM_MergeJournal(benchmark::State& state) {
  const bool journal = state.range(0) != 0;
  CFTPSite site;
  site.host = "127.0.0.1";
  if (!journal) site.SetJournalLimits({0, 0});
  FillCatalog(*site.rootDir);
  DropRemoved sink;
  bool extra = false;
  for (auto _ : state) {
    extra = !extra;
    site.BeginChanges();
    int index = 0;
    MergeTree(site, *site.rootDir, index, extra, sink);
    site.EndChanges(JournalRecord::Outcome::kSucceeded);
    std::lock_guard guard(site.lock);
    site.journalPending.clear();
  }
  state.counters["entries"] =
      static_cast<double>(site.changes.lastAdded + site.changes.lastRemoved);
}
BENCHMARK(BM_MergeJournal)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

fs::path CliProgram() {
  if (const char* chosen = std::getenv("ORVANE_CLI")) return chosen;
  std::error_code error;
  return fs::read_symlink("/proc/self/exe", error).parent_path().parent_path() / "orvane-cli";
}

// Runs `argv` with stdout to `out` (stderr dropped); its exit status.
int RunTo(const std::vector<std::string>& argv, const fs::path& out) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A data directory with one site whose journal holds 1,000 updates, and
// what `changes` prints for them.
struct ChangesData {
  fs::path data = WorkDir() / "changes-data";
  fs::path text = WorkDir() / "changes.txt";
  bool ok = false;
  ChangesData() {
    fs::create_directories(data);
    IDocumentHost host;
    COrvaneDoc doc(data, host);
    doc.OnNewDocument();
    auto site = std::make_shared<CFTPSite>();
    site->host = "mirror.example";
    site->userName = "anonymous";
    site->password = std::string(kAnonymousPassword);
    if (doc.AddSite(site) != SiteChange::kSaved) return;
    WriteJournal(site->DataDirectory(data) / kJournalFileName, SyntheticRecords(1000, 20));
    ok = RunTo({CliProgram().string(), "--data-dir", data.string(), "changes"}, text) == 0;
  }
};

ChangesData& Changes() {
  static ChangesData data;
  return data;
}

void BM_ChangesCommand(benchmark::State& state) {
  ChangesData& changes = Changes();
  if (!changes.ok) {
    state.SkipWithError(("cannot run " + CliProgram().string()).c_str());
    return;
  }
  const std::vector<std::string> argv{CliProgram().string(), "--data-dir", changes.data.string(),
                                      "changes"};
  for (auto _ : state) RunTo(argv, "/dev/null");
  std::ifstream in(changes.text);
  state.counters["lines"] = static_cast<double>(
      std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}
BENCHMARK(BM_ChangesCommand)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_GrepCount(benchmark::State& state) {
  ChangesData& changes = Changes();
  if (!changes.ok) {
    state.SkipWithError(("cannot run " + CliProgram().string()).c_str());
    return;
  }
  const std::vector<std::string> argv{"/usr/bin/grep", "-c", "/", changes.text.string()};
  for (auto _ : state) RunTo(argv, "/dev/null");
}
BENCHMARK(BM_GrepCount)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
