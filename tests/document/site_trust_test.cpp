// A site's access settings on disk, and accepting a server's key for it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "catalog/site_options.h"
#include "document/orvane_doc.h"
#include "document/site_trust.h"
#include "tests/document/walk_test_support.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr char kPin[] = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class SiteTrustTest : public doc_test::DocumentTest {
 protected:
  // The access of `key` as another process reads it from disk.
  std::optional<SiteAccess> OnDisk(std::string_view key) {
    const SiteOptionsRead read = ReadSiteOptions(scratch.path());
    EXPECT_TRUE(read.ok()) << read.error;
    const SiteOptions* options = read.list.Find(key);
    if (!options) return std::nullopt;
    return options->access;
  }
};

TEST_F(SiteTrustTest, AccessIsSavedMovesWithTheKeyAndLeavesWithTheSite) {
  auto site = std::make_shared<CFTPSite>();
  SiteSettings settings;
  settings.host = "h.example";
  settings.userName = "bob";
  settings.password = "pw";
  settings.port = 22;
  settings.access = {SiteProtocol::kSftp, "/home/bob", "/k/id_ed25519", kPin};
  settings.ApplyTo(*site);
  ASSERT_EQ(doc.AddSite(site), SiteChange::kSaved);
  EXPECT_EQ(OnDisk("h.example@bob"), settings.access);

  settings.userName = "carol";
  ASSERT_EQ(doc.EditSite(*site, settings), SiteChange::kSaved);
  EXPECT_EQ(OnDisk("h.example@carol"), settings.access);
  // The old key's record outlives the save that could still be undone by
  // a crash, and no more.
  ASSERT_TRUE(doc.SaveSiteList());
  EXPECT_EQ(OnDisk("h.example@bob"), std::nullopt);

  // A site added later under a deleted site's key starts afresh.
  ASSERT_TRUE(doc.DeleteSite("h.example@carol"));
  auto again = std::make_shared<CFTPSite>();
  again->host = "h.example";
  again->userName = "carol";
  ASSERT_EQ(doc.AddSite(again), SiteChange::kSaved);
  EXPECT_EQ(again->Access(), SiteAccess{});
  EXPECT_EQ(OnDisk("h.example@carol"), SiteAccess{});
}

constexpr char kNewKey[] = "AAAAC3NzaC1lZDI1NTE5AAAAIAABAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4f";

TEST_F(SiteTrustTest, AcceptedKeysArePinnedWhereTheSessionLooks) {
  auto tls = doc_test::AddSite(doc, "t.example", "bob", "pw");
  tls->SetAccess({SiteProtocol::kFtps, "/", "", ""});
  auto ssh = doc_test::AddSite(doc, "s.example");
  ssh->port = 2222;
  ssh->SetAccess({SiteProtocol::kSftp, "/", "", ""});
  ASSERT_TRUE(doc.SaveSiteList());
  const fs::path knownHosts = scratch.path() / "known_hosts";
  // Another server's line stays; an older key of this one goes.
  std::ofstream(knownHosts) << "other.example ssh-ed25519 AAAAother\n"
                               "[s.example]:2222 ssh-rsa AAAAold\n";

  PresentedKey presented;
  presented.fingerprint = kPin;
  // An ed25519 key (its blob: the type, then 32 bytes).
  presented.sshKey = std::string("ssh-ed25519 ") + kNewKey;
  std::string error;
  EXPECT_EQ(TrustPresentedKey(doc, *tls, presented, &error), SiteChange::kSaved) << error;
  EXPECT_EQ(OnDisk("t.example@bob")->pin, kPin);
  EXPECT_EQ(TrustPresentedKey(doc, *ssh, presented, &error), SiteChange::kSaved) << error;
  EXPECT_EQ(OnDisk("s.example")->pin, kPin);
  EXPECT_EQ(ReadAll(knownHosts),
            std::string("other.example ssh-ed25519 AAAAother\n[s.example]:2222 ssh-ed25519 ") +
                kNewKey + "\n");
  struct stat info {};
  ASSERT_EQ(::stat(knownHosts.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Not while an update reads the site's login.
  tls->updateState.store(kUpdateRunning);
  EXPECT_EQ(TrustPresentedKey(doc, *tls, presented, &error), SiteChange::kRefused);
}

TEST_F(SiteTrustTest, OnlyTheSameServerKeepsItsKey) {
  SiteSettings before;
  before.host = "h";
  before.port = 21;
  before.access.protocol = SiteProtocol::kSftp;
  SiteSettings after = before;
  after.port = 22;  // the port 21 stood for
  EXPECT_TRUE(SameServer(before, after));
  after.port = 2222;
  EXPECT_FALSE(SameServer(before, after));
  after = before;
  after.access.protocol = SiteProtocol::kFtps;
  EXPECT_FALSE(SameServer(before, after));
  after = before;
  after.host = "h2";
  EXPECT_FALSE(SameServer(before, after));
}

}  // namespace
}  // namespace orvane
