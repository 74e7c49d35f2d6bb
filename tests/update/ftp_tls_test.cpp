// CFtpSession under TLS against vsftpd: which certificates are trusted and
// what the user is shown of the others, that nothing naming the user
// reaches a server before it is trusted (read back from the server's
// command log), that a site set to TLS never falls back to plain FTP, and
// a stop in the middle of a listing under TLS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ftp_server.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_certificate.h"
#include "update/ftp_session.h"

namespace orvane {
namespace {

using test::CertificateRequest;
using test::CFtpServer;
using test::CTempTree;
using test::FtpTls;
using test::MakeTestCertificate;
using test::TestCertificate;
using test::VsftpdOptions;

// Commands that name the user.
bool NamesTheUser(const std::vector<std::string>& commands) {
  for (const std::string& command : commands) {
    if (command.starts_with("USER") || command.starts_with("PASS")) return true;
  }
  return false;
}

// Makes `file` OpenSSL's default trust store (SSL_CERT_FILE) while it lives.
class ScopedTrustStore {
 public:
  explicit ScopedTrustStore(const std::filesystem::path& file) {
    if (const char* old = std::getenv("SSL_CERT_FILE")) old_ = old;
    if (!file.empty()) ::setenv("SSL_CERT_FILE", file.c_str(), 1);
  }
  ~ScopedTrustStore() {
    if (old_) {
      ::setenv("SSL_CERT_FILE", old_->c_str(), 1);
    } else {
      ::unsetenv("SSL_CERT_FILE");
    }
  }

 private:
  std::optional<std::string> old_;
};

struct TrustCase {
  const char* name;
  enum class Cert { kSelfSigned, kCaSigned, kCaSignedOtherName, kCaSignedExpired } cert;
  bool caTrusted;  // the issuing CA is in the trust store
  enum class Pin { kNone, kItsKey, kAnotherKey } pin;
  FtpTls tls;
  const char* problem;  // why it is refused; null: trusted
};

class FtpTlsTrustTest : public ::testing::TestWithParam<TrustCase> {};

TEST_P(FtpTlsTrustTest, CertificateIsTrustedOrRefusedBeforeTheLogin) {
  const TrustCase& c = GetParam();
  CTempTree served;
  served.AddFile("f", "x");
  CTempTree keys;
  const TestCertificate ca =
      MakeTestCertificate(keys.path(), "ca", {"Orvane Test CA", -1, 30, true});
  CertificateRequest wanted;
  if (c.cert != TrustCase::Cert::kSelfSigned) wanted.issuer = &ca;
  if (c.cert == TrustCase::Cert::kCaSignedOtherName) wanted.name = "other.example";
  if (c.cert == TrustCase::Cert::kCaSignedExpired) wanted = {"127.0.0.1", -30, -1, false, &ca};
  const TestCertificate shown = MakeTestCertificate(keys.path(), "server", wanted);
  const TestCertificate another = MakeTestCertificate(keys.path(), "another");
  ASSERT_FALSE(shown.fingerprint.empty());
  ASSERT_NE(shown.fingerprint, another.fingerprint);
  const ScopedTrustStore store(c.caTrusted ? ca.certificate : std::filesystem::path());

  VsftpdOptions options;
  options.tls = c.tls;
  options.certificate = shown;
  START_OR_SKIP(server, CFtpServer::StartVsftpd(served.path(), options));
  FtpLogin login = server.Login();
  login.pinnedKey = c.pin == TrustCase::Pin::kItsKey       ? shown.fingerprint
                    : c.pin == TrustCase::Pin::kAnotherKey ? another.fingerprint
                                                           : "";
  CFtpSession session;
  const FtpResult opened = session.Open(login);
  EXPECT_EQ(session.peer().fingerprint, shown.fingerprint);
  EXPECT_NE(session.peer().details.find("Subject: CN=" + wanted.name), std::string::npos)
      << session.peer().details;
  EXPECT_NE(session.peer().details.find("\nValid from "), std::string::npos);
  if (c.problem == nullptr) {
    ASSERT_TRUE(opened.ok()) << opened.errorText;
    EXPECT_EQ(session.peer().problem, "");
    std::vector<std::string> names;
    const FtpResult listed = session.ListDirectory("/", [&](std::span<const ListingEntry> entries) {
      for (const ListingEntry& entry : entries) names.push_back(entry.name);
      return true;
    });
    EXPECT_TRUE(listed.ok()) << listed.errorText;
    EXPECT_EQ(names, std::vector<std::string>{"f"});
    return;
  }
  EXPECT_EQ(opened.outcome, FtpOutcome::kUntrusted) << opened.errorText;
  EXPECT_EQ(session.peer().problem, c.problem);
  EXPECT_NE(opened.errorText.find(shown.fingerprint), std::string::npos) << opened.errorText;
  EXPECT_EQ(opened.errorText.find(another.fingerprint) != std::string::npos,
            c.pin == TrustCase::Pin::kAnotherKey)
      << opened.errorText;
  const std::vector<std::string> commands = server.Commands();
  EXPECT_FALSE(NamesTheUser(commands));
  if (c.tls == FtpTls::kExplicit) {
    EXPECT_EQ(commands, std::vector<std::string>{"AUTH TLS"});
  }
}

using Cert = TrustCase::Cert;
using Pin = TrustCase::Pin;
INSTANTIATE_TEST_SUITE_P(
    Certificates, FtpTlsTrustTest,
    ::testing::Values(
        TrustCase{"SelfSigned", Cert::kSelfSigned, false, Pin::kNone, FtpTls::kExplicit,
                  "self-signed"},
        TrustCase{"SelfSignedImplicit", Cert::kSelfSigned, false, Pin::kNone, FtpTls::kImplicit,
                  "self-signed"},
        TrustCase{"OtherName", Cert::kCaSignedOtherName, true, Pin::kNone, FtpTls::kExplicit,
                  "issued for another name"},
        TrustCase{"Expired", Cert::kCaSignedExpired, true, Pin::kNone, FtpTls::kExplicit,
                  "expired"},
        TrustCase{"UnknownIssuer", Cert::kCaSigned, false, Pin::kNone, FtpTls::kExplicit,
                  "unknown issuer"},
        TrustCase{"ChangedKey", Cert::kSelfSigned, false, Pin::kAnotherKey, FtpTls::kExplicit,
                  "self-signed"},
        TrustCase{"TrustStore", Cert::kCaSigned, true, Pin::kNone, FtpTls::kExplicit, nullptr},
        TrustCase{"Pinned", Cert::kSelfSigned, false, Pin::kItsKey, FtpTls::kExplicit, nullptr},
        TrustCase{"PinnedImplicit", Cert::kSelfSigned, false, Pin::kItsKey, FtpTls::kImplicit,
                  nullptr},
        TrustCase{"PinnedAndExpired", Cert::kCaSignedExpired, false, Pin::kItsKey,
                  FtpTls::kExplicit, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FtpTlsTest, ServerWithoutTlsIsRefusedNeverPlain) {
  CTempTree served;
  served.AddFile("f", "x");
  START_OR_SKIP(server, CFtpServer::StartVsftpd(served.path()));
  FtpLogin login = server.Login();
  login.protocol = SiteProtocol::kFtpes;
  CFtpSession session;
  const FtpResult opened = session.Open(login);
  EXPECT_EQ(opened.outcome, FtpOutcome::kRefused);
  EXPECT_NE(opened.errorText.find("AUTH TLS"), std::string::npos) << opened.errorText;
  // libcurl asks for TLS by its older name too; nothing else is sent.
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(commands, (std::vector<std::string>{"AUTH TLS", "AUTH SSL"}));
}

TEST(FtpTlsTest, CloseFromAnotherThreadEndsATlsListing) {
  constexpr int kFiles = 20000;
  CTempTree served;
  for (int i = 0; i < kFiles; ++i) served.AddFile("big/file-" + std::to_string(i));
  CTempTree keys;
  VsftpdOptions options;
  options.tls = FtpTls::kExplicit;
  options.certificate = MakeTestCertificate(keys.path(), "server");
  START_OR_SKIP(server, CFtpServer::StartVsftpd(served.path(), options));
  CFtpSession session;
  const FtpResult opened = session.Open(server.Login());
  ASSERT_TRUE(opened.ok()) << opened.errorText;

  std::size_t delivered = 0;
  const FtpResult listed = session.ListDirectory("/big", [&](std::span<const ListingEntry> batch) {
    // The stop comes from another thread while the listing is under way.
    if (delivered == 0) std::thread([&session] { session.Close(); }).join();
    delivered += batch.size();
    return true;
  });
  EXPECT_EQ(listed.outcome, FtpOutcome::kCancelled) << listed.errorText;
  EXPECT_GT(delivered, 0u);
  EXPECT_LT(delivered, static_cast<std::size_t>(kFiles));
  const FtpResult again =
      session.ListDirectory("/", [](std::span<const ListingEntry>) { return true; });
  EXPECT_EQ(again.outcome, FtpOutcome::kCancelled);
}

}  // namespace
}  // namespace orvane
