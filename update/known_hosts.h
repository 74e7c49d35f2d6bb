// SSH host keys: which key is trusted for which host.
//
// Two known-hosts files are consulted. The user's own ~/.ssh/known_hosts is
// only ever read, with OpenSSH's rules: a line is "[@marker] PATTERNS TYPE
// BASE64 [comment]"; PATTERNS is a comma-separated list of host names, each
// "host" for port 22 or "[host]:port" otherwise, with "*" and "?" wildcards
// and "!" for a negated pattern, or one hashed name "|1|SALT|HMAC-SHA1";
// "@revoked" marks a key refused for its hosts; "@cert-authority" lines
// name no host key and are passed over. The data directory's known_hosts
// holds the keys the user accepted here, one line per host in the same
// form (so ssh can read it too): "NAME TYPE BASE64".
//
// Reading is strict: a line is taken only when its key decodes exactly
// (canonical base64, and the key blob names the type its line gives); any
// other line is passed over, so a damaged line can cost trust, never grant
// it. Host names compare without regard to ASCII case, as OpenSSH does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// A public host key: its type name ("ssh-ed25519") and its blob (the
// wire encoding, which begins with that name).
struct SshHostKey {
  std::string type;
  std::string blob;

  // "TYPE BASE64", as a known-hosts line holds it.
  std::string Text() const;
  // "SHA256:<base64 without padding>", as ssh-keygen -l prints it.
  std::string Fingerprint() const;
};

// A key from its blob (type read from the blob), or from "TYPE BASE64";
// nullopt when it is not one whole key.
std::optional<SshHostKey> HostKeyFromBlob(std::string_view blob);
std::optional<SshHostKey> ParseHostKeyText(std::string_view text);

// The type of the public key in an SSH private key file ("ssh-rsa",
// "ssh-ed25519", ...), told without its passphrase: from the public part
// of OpenSSH's format, a PEM header, or the ".pub" file beside it. Empty
// when it cannot be told.
std::string PrivateKeyType(const std::filesystem::path& keyFile);

// How known-hosts files name `host` at `port`: "host", or "[host]:port".
std::string KnownHostsName(std::string_view host, std::uint16_t port);

struct HostKeyVerdict {
  enum class Kind {
    kUnknown,  // no line names the host
    kKnown,    // a line names the host with this key
    kChanged,  // lines name the host, with other keys only
    kRevoked,  // an @revoked line names this key for the host
  };
  Kind kind = Kind::kUnknown;
  // kChanged: the fingerprint of the key known for the host (one of the
  // same type when there is one).
  std::string knownFingerprint;
  // kChanged: the known key's type.
  std::string knownType;
};

// What the known-hosts text `file` says of `key` for the host named `name`
// (KnownHostsName).
HostKeyVerdict LookUpHostKey(std::string_view file, std::string_view name, const SshHostKey& key);

// The verdict over both files: revoked in either wins, then known in
// either, then changed in either (the data directory's known key is
// named first), else unknown.
HostKeyVerdict CombineVerdicts(const HostKeyVerdict& dataDirectory, const HostKeyVerdict& user);

// The fingerprints of the keys the data directory's known-hosts file
// `file` holds for `host` at `port`, in file order ("SHA256:..." each);
// empty when none (or the file cannot be read). For showing what is
// pinned for a site.
std::vector<std::string> KnownHostFingerprints(const std::filesystem::path& file,
                                               std::string_view host, std::uint16_t port);

// Makes `sshKey` ("TYPE BASE64", as PeerIdentity::sshKey holds it) the one
// key the data directory's known-hosts file `file` holds for `host` at
// `port`: every line naming exactly that host is replaced by one new line;
// every other line is kept as it is. The file is replaced atomically
// (temporary file, fsync, rename, directory fsync), readable by its owner
// only, under the data directory's known-hosts lock (the directory is
// `file`'s parent). False with `error` set when the key is no key or the
// file could not be written (the old file then stands).
bool AcceptHostKey(const std::filesystem::path& file, std::string_view host, std::uint16_t port,
                   std::string_view sshKey, std::string& error);

}  // namespace orvane
