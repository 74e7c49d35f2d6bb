// A site's protocol, start directory, key file and pin: their rules and
// their records in sites.opt.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "catalog/site_options.h"
#include "catalog/site_protocol.h"

namespace orvane {
namespace {

constexpr char kPin[] = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";

TEST(SiteAccess, StartDirectoriesComeInOneForm) {
  const struct {
    const char* typed;
    std::optional<std::string> normal;
  } cases[] = {
      {"/", "/"},
      {"//", "/"},
      {"/pub", "/pub"},
      {"//pub//x/", "/pub/x"},
      {"/home/\xE6\x96\x87 a%/", "/home/\xE6\x96\x87 a%"},
      {"/a/.../b", "/a/.../b"},
      {"", std::nullopt},
      {"pub", std::nullopt},
      {"/a/./b", std::nullopt},
      {"/a/..", std::nullopt},
      {"/a\r\nSITE x", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalStartDirectory(c.typed), c.normal) << c.typed;
  }
  EXPECT_FALSE(NormalStartDirectory(std::string_view("/a\0b", 4)));
  EXPECT_FALSE(NormalStartDirectory("/" + std::string(kMaxAccessPathBytes, 'a')));
}

TEST(SiteAccess, FingerprintsComeInOneForm) {
  EXPECT_TRUE(IsKeyFingerprint(kPin));
  EXPECT_TRUE(IsKeyFingerprint(std::string(kPin) + "="));
  for (const std::string& bad :
       {std::string(kPin) + "==", std::string(kPin).substr(0, 49),
        std::string("sha256:") + (kPin + 7), std::string("MD5:") + (kPin + 7),
        std::string(kPin).replace(10, 1, "-")}) {
    EXPECT_FALSE(IsKeyFingerprint(bad)) << bad;
  }
}

TEST(SiteAccess, RecordsRoundTripAndDefaultsAreNotWritten) {
  SiteOptionsList list;
  SiteOptions sftp;
  sftp.access = {SiteProtocol::kSftp, "/home/\xE6\x96\x87%", "/home/u/.ssh/id_ed25519", kPin};
  list.sites.emplace_back("h@bob", sftp);
  list.sites.emplace_back("plain", SiteOptions{});
  const std::string bytes = EncodeSiteOptions(list);
  const SiteOptionsRead read = DecodeSiteOptions(bytes);
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.list.sites, list.sites);
  // A plain FTP site's record is what a version without protocols wrote.
  EXPECT_NE(bytes.find("site=plain\ncharset=auto\nend\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("start-dir=/home/\xE6\x96\x87%25\n"), std::string::npos) << bytes;
}

TEST(SiteAccess, ReaderRefusesValuesTheWriterNeverMakes) {
  const char* const values[] = {
      "protocol=FTP",
      "protocol=",
      "protocol=scp",
      "start-dir=pub",
      "start-dir=/pub/",
      "start-dir=//pub",
      "start-dir=/a/../b",
      "start-dir=/a%0Ab",
      "start-dir=",
      "key-file=id_rsa",
      "key-file=",
      "pin=SHA256:abc",
      "pin=",
      "protocol=sftp\nprotocol=ftp",
  };
  for (const char* value : values) {
    const std::string bytes =
        std::string("orvane-site-options 1\nsite=h\ncharset=auto\n") + value + "\nend\n";
    const SiteOptionsRead read = DecodeSiteOptions(bytes);
    EXPECT_FALSE(read.ok()) << value;
    EXPECT_TRUE(read.list.sites.empty()) << value;
  }
}

}  // namespace
}  // namespace orvane
