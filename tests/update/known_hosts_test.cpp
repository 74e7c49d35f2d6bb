// Known-hosts lines as OpenSSH writes them, read strictly.
#include "update/known_hosts.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

SshHostKey Ed25519(char fill) {
  std::string blob("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19);
  blob.append(32, fill);
  return *HostKeyFromBlob(blob);
}

TEST(KnownHosts, LookUp) {
  const SshHostKey key = Ed25519('a');
  const SshHostKey other = Ed25519('b');
  using Kind = HostKeyVerdict::Kind;
  struct Case {
    std::string file;
    const char* name;
    Kind kind;
  };
  const std::string k = key.Text();
  std::string broken = k;
  broken.back() = '!';  // not base64
  for (const Case& c : {
           Case{"host.example " + k + "\n", "host.example", Kind::kKnown},
           Case{"HOST.example " + k + " comment\r\n", "host.example", Kind::kKnown},
           Case{"[host.example]:2222 " + k + "\n", "host.example", Kind::kUnknown},
           Case{"*.example,!bad.example " + k + "\n", "good.example", Kind::kKnown},
           Case{"*.example,!bad.example " + k + "\n", "bad.example", Kind::kUnknown},
           Case{"h?st.example " + other.Text() + "\n", "host.example", Kind::kChanged},
           Case{"host.example " + broken + "\n", "host.example", Kind::kUnknown},
           Case{"host.example ssh-rsa " + k.substr(k.find(' ') + 1) + "\n", "host.example",
                Kind::kUnknown},
           Case{"@cert-authority host.example " + k + "\n", "host.example", Kind::kUnknown},
           Case{"host.example " + k + "\n@revoked * " + k + "\n", "host.example", Kind::kRevoked},
       }) {
    SCOPED_TRACE(c.file);
    const HostKeyVerdict verdict = LookUpHostKey(c.file, c.name, key);
    EXPECT_EQ(verdict.kind, c.kind);
    EXPECT_EQ(verdict.knownFingerprint, c.kind == Kind::kChanged ? other.Fingerprint() : "");
  }
  EXPECT_EQ(KnownHostsName("Host.Example", 22), "host.example");
  EXPECT_EQ(KnownHostsName("::1", 2222), "[::1]:2222");
}

}  // namespace
}  // namespace orvane
