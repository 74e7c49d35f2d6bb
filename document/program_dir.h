// Where Orvane keeps its files (site.ds and Data/), the "program directory"
// of the stored-file layout.
//
// The rule, first match wins:
//   1. the directory given with --data-dir;
//   2. $ORVANE_HOME when set and not empty;
//   3. the directory of the program file, when it already holds site.ds or
//      is writable (a portable installation keeps its data beside it), but
//      the latter not for an installed program (PREFIX/bin beside
//      PREFIX/share/orvane);
//   4. $XDG_DATA_HOME/orvane, or ~/.local/share/orvane when XDG_DATA_HOME is
//      unset, empty or not absolute.
// The chosen directory is created (with missing parents) owner-only, 0700.
#pragma once

#include <filesystem>
#include <string>

namespace orvane {

// Directory of the running program file (/proc/self/exe); empty when it
// cannot be found.
std::filesystem::path ExecutableDirectory();

// Applies the rule above without touching the file system beyond the tests
// it needs. `explicitDir` is the --data-dir value (empty: not given);
// `executableDir` the directory of the program file (empty: unknown).
// Environment variables are read from the process environment. Empty when no
// rule applies (no program directory and no home directory).
std::filesystem::path ChooseDataDirectory(const std::filesystem::path& explicitDir,
                                          const std::filesystem::path& executableDir);

// Creates `dir` and its missing parents; the directories made get mode
// 0700. True when `dir` exists as a directory afterwards (an existing one
// keeps its mode). On failure `error` holds a message.
bool CreateDataDirectory(const std::filesystem::path& dir, std::string& error);

}  // namespace orvane
