// Replacing several files of a site's data directory as one change.
//
// A site's catalog (content.ct) and its marks (state.st) are read together:
// the marks belong to the catalog's entries by position, so one without the
// other gives marks to the wrong entries. CSiteFilesCommit replaces any set
// of files in one directory so that after a failure or a crash at any step a
// reader finds all the old files or all the new ones. The protocol is
// described in catalog/site_files_commit.md.
//
// Use: Add() each file and write its new contents through the returned
// file's sink, then Commit(). A commit destroyed before Commit() leaves the
// directory as it was.
//
// The caller holds the site's files lock (CDataDirLock kSiteFiles) for the
// whole commit, and readers that find a commit record or temporaries in the
// directory take that lock and call RecoverSiteFiles before they read. One
// thread at a time.
#pragma once

#include <filesystem>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/atomic_file.h"

namespace orvane {

// The record of a commit that is being published.
inline constexpr std::string_view kCommitRecordName = "commit.pending";
// Every file a commit may replace, and the find file written after one. A
// file that joins the site's data directory is added here, so that its
// temporaries are cleaned up and it goes with the site.
inline constexpr std::string_view kSiteFileNames[] = {"content.ct", "state.st",    "changes.jn",
                                                      "health.txt", "charset.txt", "find.idx"};

class CSiteFilesCommit {
 public:
  explicit CSiteFilesCommit(std::filesystem::path dir);
  ~CSiteFilesCommit();
  CSiteFilesCommit(const CSiteFilesCommit&) = delete;
  CSiteFilesCommit& operator=(const CSiteFilesCommit&) = delete;

  // A new version of the file `name` in the directory (owner-only). Check
  // is_open() before writing; the reference lives as long as the commit.
  CAtomicFile& Add(std::string_view name);
  // Bytes to append to the existing file `name` at `offset` (what lies
  // beyond it is cut): the commit writes them to a temporary first and
  // appends them once it is decided, so the file's old bytes are never
  // read or rewritten. The file must exist.
  CAtomicFile& AddAppend(std::string_view name, std::uint64_t offset);

  // Makes the new versions current together. False, with every old file in
  // place, when any step before the commit record was durable failed.
  // Once the record is written the change is decided (decided()): a rename
  // that fails after it is tried once more through RecoverSiteFiles, and
  // when that fails too Commit() is false with the rename's error. The new
  // versions then wait under their temporary names for the next recovery
  // (the next load or save of the site, which any reader runs first); no
  // reader takes the files until it has finished.
  bool Commit();
  // Whether the commit record was written: the new versions are the
  // site's files from then on, even when Commit() failed.
  bool decided() const { return decided_; }
  // "<path>: <reason>" of the step that failed.
  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::filesystem::path& path, int error);

  std::filesystem::path dir_;
  std::vector<std::unique_ptr<CAtomicFile>> files_;
  // Per file: the offset to append at, or nothing for a rename.
  std::vector<std::optional<std::uint64_t>> appendAt_;
  std::string error_;
  bool decided_ = false;
};

// Whether `dir` holds a commit record or a temporary of a site file, i.e.
// whether RecoverSiteFiles has work to do. Takes no lock, changes nothing.
bool SiteFilesNeedRecovery(const std::filesystem::path& dir);

// Finishes a commit whose record is in `dir` (renames what it names that
// is still under its temporary name), removes the record, then removes the
// temporaries of site files left by interrupted saves. Call under the
// site's files lock. False (with "<path>: <reason>") when a step failed;
// the record then stays for the next attempt.
bool RecoverSiteFiles(const std::filesystem::path& dir, std::string* error = nullptr);

}  // namespace orvane
