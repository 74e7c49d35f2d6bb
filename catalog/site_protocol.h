// The protocol a site is reached by. Plain FTP is what every site had
// before sites.opt could say otherwise, so it is the default; the others
// protect the login and every listing with TLS or SSH and never fall back
// to plain FTP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

enum class SiteProtocol {
  kFtp,    // plain FTP
  kFtpes,  // FTP with AUTH TLS required before the login (explicit)
  kFtps,   // FTP inside TLS from the first byte (implicit)
  kSftp,   // the SSH file transfer protocol
};

// "ftp", "ftpes", "ftps", "sftp": the names sites.opt and the command line
// use.
std::string_view ProtocolName(SiteProtocol protocol);
std::optional<SiteProtocol> ParseProtocol(std::string_view name);
// The port a site of this protocol is reached on when the site says none.
std::uint16_t DefaultPort(SiteProtocol protocol);
// The scheme of the site's addresses ("ftp", "ftpes", "ftps", "sftp"): an
// address copied from an ftpes site keeps saying TLS is required, so that
// a client given it does not send the password in the clear.
std::string_view AddressScheme(SiteProtocol protocol);
// ftpes and ftps: FTP under TLS.
bool UsesTls(SiteProtocol protocol);

// The port a site connects to. site.ds's port field has always held 21
// for a site given no port, and an older program reads it, so a site of
// a protocol with another default (ftps 990, sftp 22) that holds 21 means
// that default: such a server is never reached on port 21.
std::uint16_t ConnectPort(SiteProtocol protocol, std::uint32_t storedPort);

// How a site is reached beyond what site.ds holds; kept in sites.opt.
struct SiteAccess {
  SiteProtocol protocol = SiteProtocol::kFtp;
  // Where the site's catalog begins on the server: bytes, in the form
  // NormalStartDirectory gives.
  std::string startDir = "/";
  // SSH: the private key file to log in with (absolute); empty: the
  // password, then the SSH agent.
  std::string keyFile;
  // The fingerprint ("SHA256:<base64>") of the server key the user
  // accepted for this site; empty when none was.
  std::string pin;
  bool operator==(const SiteAccess&) const = default;
};

// Longest start directory and key file path a site keeps.
inline constexpr std::size_t kMaxAccessPathBytes = 4096;

// `text` as a start directory: absolute, "//" collapsed, no "/" at the end
// (but "/" itself), no "." or ".." segment, no NUL, CR or LF (which no
// command could send); nothing when it cannot be one.
std::optional<std::string> NormalStartDirectory(std::string_view text);
// "SHA256:" and the base64 of 32 bytes, with or without its "=" padding:
// the form a fingerprint is shown and pinned in.
bool IsKeyFingerprint(std::string_view text);

}  // namespace orvane
