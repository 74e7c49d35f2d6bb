#include "catalog/site_files_commit.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "catalog/file_system.h"

namespace orvane {

namespace {

constexpr mode_t kFileMode = 0600;

std::string Reason(const std::filesystem::path& path, int error) {
  return path.string() + ": " + std::strerror(error);
}

// A name the record may hold: one entry of the directory itself.
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool Exists(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The record's lines, "<temporary>\t<target>\n", as pairs; false when the
// bytes are no such list (only a hand-edited file can be: the record is
// itself replaced atomically).
bool ParseRecord(std::string_view bytes,
                 std::vector<std::pair<std::string, std::string>>& renames) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return false;
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    const std::string_view temp = line.substr(0, tab);
    const std::string_view target = line.substr(tab + 1);
    if (!IsPlainName(temp) || !IsPlainName(target) || !IsTemporaryOf(temp, target)) return false;
    renames.emplace_back(temp, target);
  }
  return true;
}

bool IsSiteTemporary(std::string_view entry) {
  if (IsTemporaryOf(entry, kCommitRecordName)) return true;
  for (std::string_view name : kSiteFileNames) {
    if (IsTemporaryOf(entry, name)) return true;
  }
  return false;
}

}  // namespace

CSiteFilesCommit::CSiteFilesCommit(std::filesystem::path dir) : dir_(std::move(dir)) {}

CSiteFilesCommit::~CSiteFilesCommit() = default;

CAtomicFile& CSiteFilesCommit::Add(std::string_view name) {
  files_.push_back(std::make_unique<CAtomicFile>(dir_ / name, kFileMode));
  return *files_.back();
}

bool CSiteFilesCommit::Fail(const std::filesystem::path& path, int error) {
  if (error_.empty()) error_ = Reason(path, error ? error : EIO);
  return false;
}

bool CSiteFilesCommit::Commit() {
  for (const auto& file : files_) {
    if (!file->Stage()) return Fail(file->target(), file->error());
  }
  if (files_.size() == 1) {
    return files_.front()->Publish() || Fail(files_.front()->target(), files_.front()->error());
  }
  // The record may name only temporaries whose names survive a power loss.
  if (!SyncDirectory(dir_)) return Fail(dir_, errno);
  const std::filesystem::path recordPath = dir_ / kCommitRecordName;
  {
    std::string lines;
    for (const auto& file : files_) {
      lines.append(file->temporary().filename().string())
          .append("\t")
          .append(file->target().filename().string())
          .append("\n");
    }
    CAtomicFile record(recordPath, kFileMode);
    if (!record.is_open() || !record.sink().Write(lines.data(), lines.size()) || !record.Commit()) {
      return Fail(recordPath, record.error());
    }
  }
  // Decided: from here on a temporary goes away only by its rename, here or
  // in the recovery.
  decided_ = true;
  for (const auto& file : files_) file->KeepTemporary();
  for (const auto& file : files_) {
    if (!file->Publish()) {
      // The rest stays under its temporary name: the recovery renames them
      // all, in the record's order.
      Fail(file->target(), file->error());
      // A failure that passes (a busy moment) is finished here; one that
      // stays is the save's error, and every reader finds the record and
      // finishes it, or says that it cannot, before it reads.
      if (RecoverSiteFiles(dir_)) {
        error_.clear();
        return true;
      }
      return false;
    }
  }
  // The renames must be durable before the record's removal is; a record
  // that outlives them only makes the next reader look for temporaries.
  if (SyncDirectory(dir_)) FileSystem().Unlink(recordPath.c_str());
  return true;
}

bool SiteFilesNeedRecovery(const std::filesystem::path& dir) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (entry == kCommitRecordName || IsSiteTemporary(entry)) return true;
  }
  return false;
}

bool RecoverSiteFiles(const std::filesystem::path& dir, std::string* error) {
  const std::filesystem::path recordPath = dir / kCommitRecordName;
  std::string bytes;
  if (ReadWholeFile(recordPath, bytes)) {
    std::vector<std::pair<std::string, std::string>> renames;
    if (ParseRecord(bytes, renames)) {
      for (const auto& [temp, target] : renames) {
        const std::filesystem::path from = dir / temp;
        if (!Exists(from)) continue;  // renamed before the interruption
        if (FileSystem().Rename(from.c_str(), (dir / target).c_str()) != 0) {
          if (error) *error = Reason(dir / target, errno);
          return false;
        }
      }
      if (!SyncDirectory(dir)) {
        if (error) *error = Reason(dir, errno);
        return false;
      }
    }
    // A record that names nothing it could have written is dropped, and the
    // files it may mean go with the other temporaries below.
    if (FileSystem().Unlink(recordPath.c_str()) != 0 && errno != ENOENT) {
      if (error) *error = Reason(recordPath, errno);
      return false;
    }
  } else if (errno != ENOENT && errno != ENOTDIR) {
    if (error) *error = Reason(recordPath, errno);
    return false;
  }
  std::error_code listError;
  for (std::filesystem::directory_iterator it(dir, listError), end; !listError && it != end;
       it.increment(listError)) {
    if (IsSiteTemporary(it->path().filename().string())) {
      FileSystem().Unlink(it->path().c_str());
    }
  }
  return true;
}

}  // namespace orvane
