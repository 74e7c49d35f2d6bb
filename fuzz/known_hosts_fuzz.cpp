// Reads arbitrary bytes as a known-hosts file and as a key. A key that is
// read must read back the same from its own text; a lookup never finds a
// key known and changed at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "update/known_hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvane;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<SshHostKey> key = ParseHostKeyText(bytes.substr(0, bytes.find('\n')));
  if (key) {
    const std::optional<SshHostKey> again = ParseHostKeyText(key->Text());
    if (!again || again->blob != key->blob || again->type != key->type) std::abort();
    if (!key->Fingerprint().starts_with("SHA256:")) std::abort();
  }
  const SshHostKey probe =
      key ? *key : SshHostKey{"ssh-ed25519", std::string("\0\0\0\x0bssh-ed25519", 15)};
  for (const std::string_view name : {"example.org", "[127.0.0.1]:2222"}) {
    const HostKeyVerdict verdict = LookUpHostKey(bytes, name, probe);
    if ((verdict.kind == HostKeyVerdict::Kind::kChanged) == verdict.knownFingerprint.empty()) {
      std::abort();
    }
  }
  return 0;
}
