#include "catalog/site_files_commit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
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

// One step of a decided commit: the temporary renamed over the target, or,
// with an offset, appended to the target at that offset.
struct RecordLine {
  std::string temp;
  std::string target;
  std::optional<std::uint64_t> appendAt;
};

// The record's lines, "<temporary>\t<target>\n" or
// "<temporary>\t<target>\t<offset>\n"; false when the bytes are no such list
// (only a hand-edited file can be: the record is itself replaced
// atomically).
bool ParseRecord(std::string_view bytes, std::vector<RecordLine>& lines) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return false;
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    const std::string_view temp = line.substr(0, tab);
    std::string_view target = line.substr(tab + 1);
    std::optional<std::uint64_t> appendAt;
    if (const std::size_t second = target.find('\t'); second != std::string_view::npos) {
      const std::string_view offset = target.substr(second + 1);
      target = target.substr(0, second);
      std::uint64_t value = 0;
      const auto [at, ec] = std::from_chars(offset.data(), offset.data() + offset.size(), value);
      if (offset.empty() || ec != std::errc() || at != offset.data() + offset.size()) return false;
      appendAt = value;
    }
    if (!IsPlainName(temp) || !IsPlainName(target) || !IsTemporaryOf(temp, target)) return false;
    lines.push_back(RecordLine{std::string(temp), std::string(target), appendAt});
  }
  return true;
}

// Puts the bytes of `from` into `to` at `offset`, cutting what lay there
// before, makes them durable and removes `from`. Run again after an
// interruption it gives the same file: this is how a decided commit
// appends.
bool AppendTail(const std::filesystem::path& from, const std::filesystem::path& to,
                std::uint64_t offset, std::string* error) {
  const auto fail = [&](const std::filesystem::path& path) {
    if (error) *error = Reason(path, errno ? errno : EIO);
    return false;
  };
  std::string tail;
  if (!ReadWholeFile(from, tail)) return fail(from);
  const int fd = ::open(to.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return fail(to);
  bool written = ::ftruncate(fd, static_cast<off_t>(offset)) == 0 &&
                 ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
  for (std::size_t done = 0; written && done < tail.size();) {
    const ssize_t n = FileSystem().Write(fd, tail.data() + done, tail.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      written = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written && FileSystem().Fsync(fd) != 0) written = false;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  if (!written) return fail(to);
  if (FileSystem().Unlink(from.c_str()) != 0 && errno != ENOENT) return fail(from);
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
  appendAt_.emplace_back();
  return *files_.back();
}

CAtomicFile& CSiteFilesCommit::AddAppend(std::string_view name, std::uint64_t offset) {
  CAtomicFile& file = Add(name);
  appendAt_.back() = offset;
  return file;
}

bool CSiteFilesCommit::Fail(const std::filesystem::path& path, int error) {
  if (error_.empty()) error_ = Reason(path, error ? error : EIO);
  return false;
}

bool CSiteFilesCommit::Commit() {
  for (const auto& file : files_) {
    if (!file->Stage()) return Fail(file->target(), file->error());
  }
  if (files_.size() == 1 && !appendAt_.front()) {
    return files_.front()->Publish() || Fail(files_.front()->target(), files_.front()->error());
  }
  // The record may name only temporaries whose names survive a power loss.
  if (!SyncDirectory(dir_)) return Fail(dir_, errno);
  const std::filesystem::path recordPath = dir_ / kCommitRecordName;
  {
    std::string lines;
    for (std::size_t i = 0; i < files_.size(); ++i) {
      lines.append(files_[i]->temporary().filename().string())
          .append("\t")
          .append(files_[i]->target().filename().string());
      if (appendAt_[i]) lines.append("\t").append(std::to_string(*appendAt_[i]));
      lines.append("\n");
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
  for (std::size_t i = 0; i < files_.size(); ++i) {
    CAtomicFile& file = *files_[i];
    std::string appendError;
    const bool published = appendAt_[i] ? AppendTail(file.temporary(), file.target(),
                                                     *appendAt_[i], &appendError)
                                        : file.Publish();
    if (!published) {
      // The rest stays under its temporary name: the recovery renames them
      // all, in the record's order.
      if (appendAt_[i]) {
        if (error_.empty()) error_ = appendError;
      } else {
        Fail(file.target(), file.error());
      }
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
    std::vector<RecordLine> lines;
    if (ParseRecord(bytes, lines)) {
      for (const RecordLine& line : lines) {
        const std::filesystem::path from = dir / line.temp;
        if (!Exists(from)) continue;  // done before the interruption
        if (line.appendAt) {
          if (!AppendTail(from, dir / line.target, *line.appendAt, error)) return false;
        } else if (FileSystem().Rename(from.c_str(), (dir / line.target).c_str()) != 0) {
          if (error) *error = Reason(dir / line.target, errno);
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
