// The data directory rule: --data-dir, ORVANE_HOME, the program's own
// directory, then the XDG data directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "document/program_dir.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class DataDirectoryTest : public ::testing::Test {
 protected:
  test::CTempTree tree;
  ScopedEnv home{"HOME", (tree.path() / "home").c_str()};
  ScopedEnv xdg{"XDG_DATA_HOME", nullptr};
  ScopedEnv orvaneHome{"ORVANE_HOME", nullptr};
  // A program directory that does not exist is neither holding site.ds nor
  // writable, whoever runs the test.
  fs::path missingProgramDir = tree.path() / "no-such-program-dir";
};

TEST_F(DataDirectoryTest, ExplicitDirectoryWinsOverEverything) {
  ScopedEnv orvane("ORVANE_HOME", "/somewhere/else");
  EXPECT_EQ(ChooseDataDirectory("/given", tree.path()), fs::path("/given"));
}

TEST_F(DataDirectoryTest, OrvaneHomeComesNext) {
  ScopedEnv orvane("ORVANE_HOME", "/from/env");
  EXPECT_EQ(ChooseDataDirectory({}, tree.path()), fs::path("/from/env"));
  ScopedEnv empty("ORVANE_HOME", "");
  EXPECT_EQ(ChooseDataDirectory({}, tree.path()), tree.path());
}

TEST_F(DataDirectoryTest, WritableProgramDirectoryIsUsed) {
  EXPECT_EQ(ChooseDataDirectory({}, tree.path()), tree.path());
}

TEST_F(DataDirectoryTest, ProgramDirectoryHoldingASiteListIsUsedEvenReadOnly) {
  tree.AddFile("prog/site.ds");
  ::chmod((tree.path() / "prog").c_str(), 0555);
  EXPECT_EQ(ChooseDataDirectory({}, tree.path() / "prog"), tree.path() / "prog");
  ::chmod((tree.path() / "prog").c_str(), 0755);
}

TEST_F(DataDirectoryTest, InstalledProgramDirectoryIsUsedOnlyWhenItHoldsASiteList) {
  tree.AddFile("usr/share/orvane/help.pdf");
  tree.AddFile("usr/bin/orvane");
  EXPECT_EQ(ChooseDataDirectory({}, tree.path() / "usr/bin"),
            tree.path() / "home/.local/share/orvane");
  tree.AddFile("usr/bin/site.ds");
  EXPECT_EQ(ChooseDataDirectory({}, tree.path() / "usr/bin"), tree.path() / "usr/bin");
}

TEST_F(DataDirectoryTest, OtherwiseTheXdgDataDirectory) {
  ScopedEnv data("XDG_DATA_HOME", "/xdg/data");
  EXPECT_EQ(ChooseDataDirectory({}, missingProgramDir), fs::path("/xdg/data/orvane"));
  EXPECT_EQ(ChooseDataDirectory({}, {}), fs::path("/xdg/data/orvane"));
}

TEST_F(DataDirectoryTest, RelativeOrMissingXdgFallsBackToHome) {
  const fs::path expected = tree.path() / "home" / ".local" / "share" / "orvane";
  EXPECT_EQ(ChooseDataDirectory({}, missingProgramDir), expected);
  ScopedEnv relative("XDG_DATA_HOME", "relative/dir");
  EXPECT_EQ(ChooseDataDirectory({}, missingProgramDir), expected);
  ScopedEnv noHome("HOME", nullptr);
  EXPECT_EQ(ChooseDataDirectory({}, missingProgramDir), fs::path());
}

TEST_F(DataDirectoryTest, CreatedDirectoriesAreOwnerOnly) {
  const fs::path target = tree.path() / "a" / "b" / "orvane";
  std::string error;
  ASSERT_TRUE(CreateDataDirectory(target, error)) << error;
  for (const fs::path& made : {tree.path() / "a", tree.path() / "a" / "b", target}) {
    struct stat info {};
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
  }
  // An existing directory is fine and keeps its mode.
  EXPECT_TRUE(CreateDataDirectory(tree.path(), error));
  struct stat info {};
  ::stat(tree.path().c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
}

TEST_F(DataDirectoryTest, CreatingFailsOverAFile) {
  tree.AddFile("plain");
  std::string error;
  EXPECT_FALSE(CreateDataDirectory(tree.path() / "plain", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(CreateDataDirectory(tree.path() / "plain" / "below", error));
  EXPECT_FALSE(CreateDataDirectory({}, error));
}

TEST_F(DataDirectoryTest, ExecutableDirectoryIsThisTestsDirectory) {
  const fs::path dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::exists(dir / "program_dir_test"));
}

}  // namespace
}  // namespace orvane
