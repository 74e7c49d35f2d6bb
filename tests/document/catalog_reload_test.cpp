// Another process's commit of a site's files, taken over into the catalog
// this process has loaded: entries keep their identity, removals reach the
// views before the entries go, and marks cleared here stay cleared.
#include "document/catalog_reload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"

namespace orvane {
namespace {

// Names what the views were told to drop, while the entries still lived.
class RemovalHost : public IDocumentHost {
 public:
  void EntriesRemoving(const std::vector<const CFTPDir*>& dirs,
                       const std::vector<const CFTPFile*>& files) override {
    for (const CFTPDir* dir : dirs) removed.emplace_back(dir->name());
    for (const CFTPFile* file : files) removed.emplace_back(file->name());
  }
  std::vector<std::string> removed;
};

std::vector<std::string> Names(const CFTPDir& dir) {
  std::vector<std::string> names;
  for (const auto& sub : dir.subdirs) names.emplace_back(sub->name());
  for (const auto& file : dir.files) names.emplace_back(file->name());
  return names;
}

TEST(CatalogReloadTest, TakesOverAnotherProcessesCommitInPlace) {
  test::CTempTree data;
  // The other process: a site with its files on disk.
  IDocumentHost quiet;
  COrvaneDoc other(data.path(), quiet);
  auto theirs = std::make_shared<CFTPSite>();
  theirs->host = "h.example";
  theirs->userName = "anonymous";
  theirs->password = std::string(kAnonymousPassword);
  other.AppendSite(theirs);
  ASSERT_TRUE(other.SaveSiteList());
  theirs->rootDir->AddSubdir(std::make_unique<CFTPDir>("keep"));
  theirs->rootDir->AddSubdir(std::make_unique<CFTPDir>("gone"));
  theirs->rootDir->AddFile(CFTPFile::Make("a.txt", 10));
  theirs->rootDir->AddFile(CFTPFile::Make("b.txt", 20, 1));
  ASSERT_TRUE(theirs->SaveCatalogAndState(data.path()));

  RemovalHost host;
  COrvaneDoc mine(data.path(), host);
  mine.OnNewDocument();
  CFTPSite& site = *mine.sites().front();
  EXPECT_EQ(ReloadCatalog(mine, site), CatalogReload::kSkipped);  // not loaded yet
  mine.EnsureCatalogLoaded(site);
  EXPECT_EQ(ReloadCatalog(mine, site), CatalogReload::kUnchanged);
  CFTPDir* keep = site.rootDir->subdirs[0].get();
  CFTPFile* a = site.rootDir->files[0].get();
  CFTPFile* b = site.rootDir->files[1].get();
  // Read here, not saved yet.
  b->readState.store(0);
  site.stateDirty.store(true);

  // The other process updates: a directory goes, one comes, a size changes.
  theirs->rootDir->subdirs.erase(theirs->rootDir->subdirs.begin() + 1);
  theirs->rootDir->AddSubdir(std::make_unique<CFTPDir>("new", 1));
  theirs->rootDir->files[0]->size.store(99);
  ASSERT_TRUE(theirs->SaveCatalogAndState(data.path()));

  ASSERT_EQ(ReloadCatalog(mine, site), CatalogReload::kReloaded);
  EXPECT_EQ(Names(*site.rootDir), (std::vector<std::string>{"keep", "new", "a.txt", "b.txt"}));
  EXPECT_EQ(host.removed, std::vector<std::string>{"gone"});
  EXPECT_EQ(site.rootDir->subdirs[0].get(), keep);
  EXPECT_EQ(site.rootDir->files[0].get(), a);
  EXPECT_EQ(site.rootDir->files[1].get(), b);
  EXPECT_EQ(a->size.load(), 99u);
  EXPECT_EQ(b->readState.load(), 0);
  EXPECT_NE(site.rootDir->subdirs[1]->readState.load(), 0);
  EXPECT_EQ(site.rootDir->subdirs[1]->GetSite(), &site);
  EXPECT_TRUE(site.hasNewEntries.load());
  EXPECT_EQ(ReloadCatalog(mine, site), CatalogReload::kUnchanged);

  // A catalog with merges of this process's own not yet saved is left alone.
  theirs->rootDir->AddFile(CFTPFile::Make("c.txt", 1));
  ASSERT_TRUE(theirs->SaveCatalogAndState(data.path()));
  site.catalogUnsaved.store(true);
  EXPECT_EQ(ReloadCatalog(mine, site), CatalogReload::kSkipped);
}

}  // namespace
}  // namespace orvane
