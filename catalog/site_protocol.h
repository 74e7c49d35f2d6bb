// The protocol a site is reached by. Plain FTP is what every site had
// before sites.opt could say otherwise, so it is the default; the others
// protect the login and every listing with TLS or SSH and never fall back
// to plain FTP.
#pragma once

#include <cstdint>
#include <optional>
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

}  // namespace orvane
