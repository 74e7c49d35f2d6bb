// Compiled into every Qt test program: before anything reads settings, the
// program gets a configuration directory of its own (XDG_CONFIG_HOME, where
// QSettings writes on Linux), removed when it ends, so that no test run
// reads or writes the user's ~/.config. A directory the environment
// already names is kept (ctest gives the window suites one each; a child
// process a test starts shares its parent's).
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

class PrivateSettings {
 public:
  PrivateSettings() {
    const char* given = ::getenv("XDG_CONFIG_HOME");
    if (given != nullptr && *given != '\0') return;
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "orvane-test-config-XXXXXX");
    if (error || ::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~PrivateSettings() {
    if (dir_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  PrivateSettings(const PrivateSettings&) = delete;
  PrivateSettings& operator=(const PrivateSettings&) = delete;

 private:
  std::filesystem::path dir_;
};

const PrivateSettings kPrivateSettings;

}  // namespace
