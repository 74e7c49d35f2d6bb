// How a site's settings become the login a session is opened with, and
// what an untrusted server's failure says.
#include <gtest/gtest.h>

#include <string>

#include "catalog/ftp_site.h"
#include "update/update_engine.h"

namespace orvane {
namespace {

constexpr char kOld[] = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
constexpr char kNew[] = "SHA256:ypeBEsobvcr6wjGzmiPcTaeG7/gUfE5yuYB3ha/uSLs";

TEST(SiteLogin, LoginFollowsProtocolKeyFileAndAnonymousUpdate) {
  const struct {
    SiteProtocol protocol;
    std::uint32_t port;
    const char* keyFile;
    bool anonymousUpdate;
    std::uint16_t wantPort;
    const char* wantUser;
    const char* wantPassword;
    const char* wantKeyFile;
    const char* wantPassphrase;
  } cases[] = {
      {SiteProtocol::kFtp, 21, "", false, 21, "bob", "secret", "", ""},
      {SiteProtocol::kFtps, 21, "", false, 990, "bob", "secret", "", ""},
      {SiteProtocol::kSftp, 21, "", false, 22, "bob", "secret", "", ""},
      // The password unlocks the key and never reaches the server.
      {SiteProtocol::kSftp, 2222, "/k/id", false, 2222, "bob", "", "/k/id", "secret"},
      {SiteProtocol::kSftp, 22, "/k/id", true, 22, "anonymous", "orvane@ftp.cn", "", ""},
      // A key file left from an earlier protocol is not used.
      {SiteProtocol::kFtpes, 21, "/k/id", false, 21, "bob", "secret", "", ""},
  };
  for (const auto& c : cases) {
    CFTPSite site;
    site.host = "h.example";
    site.userName = "bob";
    site.password = "secret";
    site.port = c.port;
    site.anonymousUpdate = c.anonymousUpdate;
    site.SetAccess({c.protocol, "/pub", c.keyFile, kOld});
    const FtpLogin login = LoginFor(site, "/data");
    SCOPED_TRACE(std::string(ProtocolName(c.protocol)) + " " + c.keyFile);
    EXPECT_EQ(login.protocol, c.protocol);
    EXPECT_EQ(login.port, c.wantPort);
    EXPECT_EQ(login.user, c.wantUser);
    EXPECT_EQ(login.password, c.wantPassword);
    EXPECT_EQ(login.keyFile, c.wantKeyFile);
    EXPECT_EQ(login.keyPassphrase, c.wantPassphrase);
    EXPECT_EQ(login.startDir, "/pub");
    EXPECT_EQ(login.pinnedKey, kOld);
    EXPECT_EQ(login.knownHosts, std::filesystem::path("/data/known_hosts"));
  }
}

TEST(SiteLogin, UntrustedServerNamesItsKeysAndTheTrustCommand) {
  PeerIdentity peer;
  peer.fingerprint = kNew;
  peer.problem = "self-signed";
  peer.details = "subject: CN=h\n";
  const SiteAccess firstUse{SiteProtocol::kFtps, "/", "", ""};
  const PresentedKey fresh = PresentedKeyOf(peer, firstUse);
  EXPECT_TRUE(fresh.pinned.empty());
  const std::string first = UntrustedText("h@bob", SiteProtocol::kFtps, fresh);
  EXPECT_NE(first.find(kNew), std::string::npos) << first;
  EXPECT_NE(first.find("self-signed"), std::string::npos) << first;
  EXPECT_NE(first.find("orvane-cli trust h@bob"), std::string::npos) << first;

  const PresentedKey changed = PresentedKeyOf(peer, {SiteProtocol::kSftp, "/", "", kOld});
  EXPECT_EQ(changed.pinned, kOld);
  const std::string warning = UntrustedText("h@bob", SiteProtocol::kSftp, changed);
  EXPECT_NE(warning.find(kNew), std::string::npos) << warning;
  EXPECT_NE(warning.find(kOld), std::string::npos) << warning;
  EXPECT_NE(warning.find("host key has changed"), std::string::npos) << warning;
  EXPECT_NE(warning.find("orvane-cli trust h@bob"), std::string::npos) << warning;
  // The key pinned and presented alike is no change.
  peer.fingerprint = kOld;
  EXPECT_TRUE(PresentedKeyOf(peer, {SiteProtocol::kFtps, "/", "", kOld}).pinned.empty());
  // An SSH host key is accepted for the server, by whichever of its sites.
  const SiteAccess sftp{SiteProtocol::kSftp, "/", "", ""};
  EXPECT_EQ(PresentedKeyOf(peer, sftp, std::vector<std::string>{kNew}).pinned, kNew);
  EXPECT_TRUE(PresentedKeyOf(peer, sftp, std::vector<std::string>{kNew, kOld}).pinned.empty());
}

}  // namespace
}  // namespace orvane
