#include "document/program_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace orvane {

namespace {

std::filesystem::path EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return {};
  return std::filesystem::path(value);
}

bool IsDirectory(const std::filesystem::path& dir) {
  struct stat info {};
  return ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::filesystem::path ExecutableDirectory() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || exe.empty()) return {};
  return exe.parent_path();
}

std::filesystem::path ChooseDataDirectory(const std::filesystem::path& explicitDir,
                                          const std::filesystem::path& executableDir) {
  if (!explicitDir.empty()) return explicitDir;
  if (std::filesystem::path home = EnvironmentPath("ORVANE_HOME"); !home.empty()) return home;
  if (!executableDir.empty() && IsDirectory(executableDir)) {
    // A program directory that already holds a site list is the user's
    // data directory, even if it is read-only now: its sites must show.
    // An installed program (share/orvane beside its bin directory) never
    // starts one there: root can write to /usr/bin, and a package's
    // directory is no place for a user's passwords.
    const bool installed = IsDirectory(executableDir.parent_path() / "share" / "orvane");
    if (::access((executableDir / "site.ds").c_str(), F_OK) == 0 ||
        (!installed && ::access(executableDir.c_str(), W_OK) == 0)) {
      return executableDir;
    }
  }
  std::filesystem::path xdg = EnvironmentPath("XDG_DATA_HOME");
  // XDG base directories: a relative value is to be ignored.
  if (!xdg.empty() && xdg.is_absolute()) return xdg / "orvane";
  const std::filesystem::path home = EnvironmentPath("HOME");
  if (home.empty()) return {};
  return home / ".local" / "share" / "orvane";
}

bool CreateDataDirectory(const std::filesystem::path& dir, std::string& error) {
  if (dir.empty()) {
    error = "no data directory";
    return false;
  }
  // Walk up to the first existing ancestor, then make the rest top-down, so
  // that every directory made here is owner-only (create_directories would
  // use the umask).
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path p = dir; !p.empty() && !IsDirectory(p); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
      error = it->string() + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!IsDirectory(dir)) {
    error = dir.string() + ": not a directory";
    return false;
  }
  return true;
}

}  // namespace orvane
