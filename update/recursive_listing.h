// Splitting one recursive listing ("LIST -R" after a CWD into the listed
// directory) into the listings of the directories it covers.
//
// The reply is `ls -lR` output: the listed directory's own lines, then for
// each subdirectory a section
//
//     <blank line(s)>
//     ./a b/sub:            (or "a b/sub:", or the absolute path, then ":")
//     <blank line(s)> or "total N"
//     <entry lines>
//
// Nothing in the format marks a header as such except its place after a
// blank line and its final ":", so nothing here is taken on trust. A header
// is accepted only when it names, exactly, a directory that an earlier
// section listed and that has no section yet; any other line after a blank
// line (an unknown or repeated header, or a header that would also read as
// an entry line) makes the whole reply ambiguous, and none of it is used.
// A section is usable only when every line of it is a plain file or
// directory line in the Unix `ls -l` form (links, devices and other forms
// leave the directory to be listed on its own, where the parser and the
// session's checks see it), it holds at least one entry that is not the
// directory itself (an empty or unreadable directory is confirmed by a
// listing of its own), and it ended before the next header, or with the
// reply when the reply ended complete. Directories whose path holds a byte
// below 0x20 or a character a LIST argument would glob are never taken from
// here: they are listed the way the session lists them on their own.
//
// What is not usable is not lost: the walk lists it directory by directory.
// After a complete reply, a directory that was listed but got no section is
// doubtful; after an incomplete one (cut short, 426, dropped, a last line
// without its line end) it is simply not covered.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "update/listing_parser.h"

namespace orvane {

class CRecursiveListing {
 public:
  // `basePath`: the absolute path of the directory listed ("/" or "/a/b").
  explicit CRecursiveListing(std::string basePath);

  // Data as it comes from the data connection; chunks may split lines.
  void Feed(std::string_view data);
  // The end of the reply. `complete`: the server said it sent everything
  // (a 2xx that does not say it was cut short).
  void Finish(bool complete);

  // Some header could not be placed: nothing of the reply may be used.
  bool ambiguous() const { return ambiguous_; }
  // At least one section header was accepted: the server lists recursively.
  bool showsRecursion() const { return sectionsSeen_ > 0; }
  // The listed directory's own lines named a subdirectory.
  bool baseHasSubdirectories() const { return baseSubdirectories_ > 0; }
  std::size_t bytes() const { return bytes_; }
  // Moves out the directories seen so far (in entry lines) whose paths a
  // recursive listing can never stand for (RecursiveListingCovers): they
  // are listed on their own whatever the rest of the reply holds, so they
  // can be while it is still coming.
  std::vector<std::string> TakeUncovered() { return std::move(uncovered_); }

  // The usable listings by absolute path, entries in the server's order
  // ("." and ".." left out), and the directories that must be listed on
  // their own. Empty when ambiguous. Call once, after Finish.
  void TakeResults(std::unordered_map<std::string, std::vector<ListingEntry>>& usable,
                   std::unordered_set<std::string>& doubtful);

 private:
  struct Section {
    std::string path;
    std::vector<ListingEntry> entries;
    bool usable = true;
    bool ended = false;  // a later header came, or a complete reply ended
  };
  enum class State { kStart, kAfterHeader, kInSection, kBetween };

  void Line(std::string_view line);
  bool TryHeader(std::string_view line);
  void Content(std::string_view line);
  std::string Resolve(std::string_view header) const;
  void OpenSection(std::string path);

  std::string base_;
  std::string partial_;
  bool overlong_ = false;
  State state_ = State::kStart;
  bool ambiguous_ = false;
  bool finished_ = false;
  std::size_t bytes_ = 0;
  std::size_t sectionsSeen_ = 0;
  std::size_t baseSubdirectories_ = 0;
  std::vector<Section> sections_;
  // Directories listed so far that have no section yet.
  std::unordered_set<std::string> expected_;
  std::unordered_set<std::string> withSection_;
  std::vector<std::string> uncovered_;
  bool complete_ = false;
};

// Whether the directory at `path` may take its listing from a recursive
// one: no byte below 0x20 and nothing a LIST argument would glob, the paths
// the session lists in a way of their own.
bool RecursiveListingCovers(std::string_view path);

}  // namespace orvane
