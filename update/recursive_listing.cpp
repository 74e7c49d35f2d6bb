#include "update/recursive_listing.h"

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

std::string ChildPath(const std::string& parent, std::string_view name) {
  std::string path = parent;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

bool IsTotalLine(std::string_view line) {
  if (!line.starts_with("total ") || line.size() == 6) return false;
  return std::all_of(line.begin() + 6, line.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A plain file or directory line of `ls -l`: type, then nine permission
// characters (an ACL or extended attribute marker may follow).
bool IsPlainEntryLine(std::string_view line) {
  if (line.size() < 11 || (line[0] != '-' && line[0] != 'd')) return false;
  return std::all_of(line.begin() + 1, line.begin() + 10, [](char c) {
    return c == 'r' || c == 'w' || c == 'x' || c == '-' || c == 's' || c == 'S' || c == 't' ||
           c == 'T';
  });
}

}  // namespace

bool RecursiveListingCovers(std::string_view path) {
  if (path.find("/-") != std::string_view::npos) return false;
  return std::none_of(path.begin(), path.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || std::string_view("*?[]{}~\\").find(c) != std::string_view::npos;
  });
}

CRecursiveListing::CRecursiveListing(std::string basePath) : base_(std::move(basePath)) {
  while (base_.size() > 1 && base_.back() == '/') base_.pop_back();
  OpenSection(base_);
}

void CRecursiveListing::OpenSection(std::string path) {
  withSection_.insert(path);
  expected_.erase(path);
  Section section;
  section.path = std::move(path);
  sections_.push_back(std::move(section));
}

void CRecursiveListing::Feed(std::string_view data) {
  bytes_ += data.size();
  while (!data.empty() && !ambiguous_) {
    const std::size_t end = data.find('\n');
    if (end == std::string_view::npos) {
      if (partial_.size() + data.size() > CListingSplitter::kMaxLineBytes) {
        overlong_ = true;
        partial_.clear();
      } else if (!overlong_) {
        partial_.append(data);
      }
      return;
    }
    std::string_view line = data.substr(0, end);
    data.remove_prefix(end + 1);
    if (overlong_ || partial_.size() + line.size() > CListingSplitter::kMaxLineBytes) {
      // Whatever the line was, its section cannot be trusted; it is no
      // header (no directory path is that long).
      overlong_ = false;
      partial_.clear();
      sections_.back().usable = false;
      if (state_ != State::kInSection) ambiguous_ = true;
      continue;
    }
    if (!partial_.empty()) {
      partial_.append(line);
      std::string joined = std::move(partial_);
      partial_.clear();
      Line(joined);
    } else {
      Line(line);
    }
  }
}

void CRecursiveListing::Line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (state_ == State::kStart) {
    // The listed directory's own header (".:" or its path) may come
    // first; anything else starts its lines.
    state_ = State::kAfterHeader;
    if (!line.empty() && line.back() == ':' && !IsPlainEntryLine(line) &&
        Resolve(line.substr(0, line.size() - 1)) == base_) {
      return;
    }
  }
  switch (state_) {
    case State::kStart:
    case State::kAfterHeader:
      if (line.empty() || IsTotalLine(line)) return;
      // An empty section is followed at once by the next header.
      if (line.back() == ':' && TryHeader(line)) return;
      if (ambiguous_) return;
      state_ = State::kInSection;
      Content(line);
      return;
    case State::kInSection:
      if (line.empty()) {
        state_ = State::kBetween;
        return;
      }
      Content(line);
      return;
    case State::kBetween:
      if (line.empty()) return;
      // After a blank line only a header may come.
      if (line.back() != ':' || !TryHeader(line)) ambiguous_ = true;
      return;
  }
}

bool CRecursiveListing::TryHeader(std::string_view line) {
  const std::string path = Resolve(line.substr(0, line.size() - 1));
  if (!expected_.contains(path)) {
    // A directory nobody listed, or one that had its section already.
    if (state_ == State::kBetween || withSection_.contains(path)) ambiguous_ = true;
    return false;
  }
  if (IsPlainEntryLine(line)) {
    // Could be either; no guessing.
    ambiguous_ = true;
    return false;
  }
  sections_.back().ended = true;
  ++sectionsSeen_;
  OpenSection(path);
  state_ = State::kAfterHeader;
  return true;
}

void CRecursiveListing::Content(std::string_view line) {
  Section& section = sections_.back();
  ListingEntry entry;
  const LineResult parsed =
      IsPlainEntryLine(line) ? ParseListLine(line, entry) : LineResult::kUnusable;
  if (parsed == LineResult::kSkip && line[0] == 'd') return;  // "." and ".."
  if (parsed != LineResult::kEntry || entry.isLink || entry.isDirectory != (line[0] == 'd')) {
    section.usable = false;
    return;
  }
  if (entry.isDirectory) {
    std::string child = ChildPath(section.path, entry.name);
    if (!RecursiveListingCovers(child)) uncovered_.push_back(child);
    if (!withSection_.contains(child)) expected_.insert(std::move(child));
    if (sections_.size() == 1) ++baseSubdirectories_;
  }
  section.entries.push_back(std::move(entry));
}

std::string CRecursiveListing::Resolve(std::string_view header) const {
  if (header.starts_with('/')) return std::string(header);
  if (header == ".") return base_;
  if (header.starts_with("./")) header.remove_prefix(2);
  return ChildPath(base_, header);
}

void CRecursiveListing::Finish(bool complete) {
  if (finished_) return;
  finished_ = true;
  // A last line without its line end may be cut anywhere.
  // A last line without its line end may be cut anywhere: its section is
  // left to a listing of its own.
  complete_ = complete && partial_.empty() && !overlong_;
  partial_.clear();
  if (complete_) sections_.back().ended = true;
}

void CRecursiveListing::TakeResults(
    std::unordered_map<std::string, std::vector<ListingEntry>>& usable,
    std::unordered_set<std::string>& doubtful) {
  if (ambiguous_) return;
  for (Section& section : sections_) {
    const std::string_view name =
        std::string_view(section.path).substr(section.path.rfind('/') + 1);
    const bool confirmed = !section.entries.empty() &&
                           !(section.entries.size() == 1 && section.entries[0].name == name);
    if (section.usable && section.ended && confirmed && RecursiveListingCovers(section.path)) {
      usable.insert_or_assign(section.path, std::move(section.entries));
    } else {
      doubtful.insert(section.path);
    }
  }
  // A complete reply that left a listed directory out: the server would
  // not go there (unreadable, too deep), so the directory is asked itself.
  if (complete_) doubtful.insert(expected_.begin(), expected_.end());
}

}  // namespace orvane
