#include "document/ftp_address.h"

#include <cstdio>

#include "catalog/code_page.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "document/site_fields.h"

namespace orvane {
namespace {

constexpr std::string_view kScheme = "ftp://";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// "1" to "65535", digits only; empty means the default port.
bool ReadPort(std::string_view text, std::uint32_t& port) {
  if (text.empty()) {
    port = 21;
    return true;
  }
  if (text.size() > 5) return false;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value < kMinSitePort || value > kMaxSitePort) return false;
  port = value;
  return true;
}

// The inside of "[...]": hex digits, ":" and "." (an embedded IPv4
// address), at least one ":", then an optional zone index after "%".
bool IsIpv6Literal(std::string_view text) {
  const std::size_t zone = text.find('%');
  const std::string_view address = text.substr(0, zone);
  if (address.find(':') == std::string_view::npos) return false;
  for (const char c : address) {
    if (HexValue(c) < 0 && c != ':' && c != '.') return false;
  }
  if (zone == std::string_view::npos) return true;
  const std::string_view name = text.substr(zone + 1);
  if (name.empty()) return false;
  for (const char c : name) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

// RFC 3986: unreserved = ALPHA / DIGIT / "-" / "." / "_" / "~";
// sub-delims = "!" / "$" / "&" / "'" / "(" / ")" / "*" / "+" / "," / ";" / "=".
bool IsUnreservedOrSubDelim(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
      return true;
    default:
      return false;
  }
}

// A host that holds ":" can only be an IPv6 literal, which an address must
// put in brackets. Bytes a host name cannot hold (white space, control
// bytes, "/" from an imported "host/path") are percent-encoded so that the
// address stays one line that opens the host it names.
void AppendHost(std::string& out, std::string_view host) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool bracket = host.find(':') != std::string_view::npos && !host.starts_with('[');
  if (bracket) out.push_back('[');
  for (const char ch : host) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreservedOrSubDelim(c) || c == ':' || c == '[' || c == ']') {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  if (bracket) out.push_back(']');
}

}  // namespace

std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  return decoded;
}

ImportLine ParseImportLine(std::string_view line, ImportedLogin& login) {
  if (line.size() > kMaxImportLine) return ImportLine::kSkipped;
  line = Trim(line);
  if (line.empty()) return ImportLine::kBlank;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    // White space around the line is trimmed; a TAB inside it is a
    // control byte like any other.
    if (byte < 0x20 || byte == 0x7F) return ImportLine::kSkipped;
  }
  const std::size_t scheme = line.find("://");
  login.protocol = SiteProtocol::kFtp;
  if (scheme != std::string_view::npos) {
    const std::string_view name = line.substr(0, scheme);
    bool known = false;
    for (const SiteProtocol protocol :
         {SiteProtocol::kFtp, SiteProtocol::kFtpes, SiteProtocol::kFtps, SiteProtocol::kSftp}) {
      if (EqualsIgnoringCase(name, AddressScheme(protocol))) {
        login.protocol = protocol;
        known = true;
      }
    }
    if (!known) return ImportLine::kSkipped;
    line.remove_prefix(scheme + 3);
  }

  // A site keeps no path: what follows the authority is not read.
  const std::string_view authority = line.substr(0, line.find('/'));

  std::string_view hostPort = authority;
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    hostPort = authority.substr(at + 1);
    const std::size_t colon = userInfo.find(':');
    login.userName = PercentDecoded(userInfo.substr(0, colon));
    // "user@host" names the user and leaves the password empty.
    login.password = colon == std::string_view::npos ? std::string()
                                                     : PercentDecoded(userInfo.substr(colon + 1));
    if (!IsSendableInCommand(login.userName) || !IsSendableInCommand(login.password)) {
      return ImportLine::kSkipped;
    }
  } else {
    login.userName = "anonymous";
    login.password.assign(kAnonymousPassword);
  }

  std::string_view portText;
  if (hostPort.starts_with('[')) {
    const std::size_t close = hostPort.find(']');
    if (close == std::string_view::npos) return ImportLine::kSkipped;
    login.host = PercentDecoded(hostPort.substr(1, close - 1));
    if (!IsIpv6Literal(login.host)) return ImportLine::kSkipped;
    const std::string_view after = hostPort.substr(close + 1);
    if (!after.empty() && !after.starts_with(':')) return ImportLine::kSkipped;
    if (!after.empty()) portText = after.substr(1);
  } else {
    const std::size_t colon = hostPort.find(':');
    login.host = PercentDecoded(hostPort.substr(0, colon));
    // A decoded ":" would make the host read as an IPv6 literal.
    if (login.host.find(':') != std::string::npos) return ImportLine::kSkipped;
    if (colon != std::string_view::npos) portText = hostPort.substr(colon + 1);
  }
  // A host name is ASCII or, internationalised, UTF-8; other bytes are
  // junk (a binary file's first line, say) that no resolver would take.
  if (!IsHostName(login.host) || !IsValidUtf8(login.host) || !ReadPort(portText, login.port)) {
    return ImportLine::kSkipped;
  }
  if (portText.empty()) login.port = DefaultPort(login.protocol);
  // A bare word with neither scheme nor login ("E:/notes", "Error:") is
  // text, not an address: without them a host must have a dot, be an
  // address, or be localhost.
  if (scheme == std::string_view::npos && at == std::string_view::npos &&
      login.host.find_first_of(".:") == std::string::npos && login.host != "localhost") {
    return ImportLine::kSkipped;
  }
  // The decoded fields are typed text as add takes it: stored as code
  // page 936, and refused when the code page cannot hold a character.
  for (std::string* field : {&login.host, &login.userName, &login.password}) {
    if (!CharactersWithoutGbkForm(*field).empty()) return ImportLine::kSkipped;
    *field = StoredSiteText(*field);
  }
  SiteSettings settings;
  settings.host = login.host;
  settings.userName = login.userName;
  settings.password = login.password;
  if (!CheckSiteSettings(settings).ok()) return ImportLine::kSkipped;
  return ImportLine::kSite;
}

void SplitDisplayPath(std::string_view displayPath, std::string_view& key,
                      std::string_view& place) {
  if (displayPath.starts_with(kScheme)) displayPath.remove_prefix(kScheme.size());
  const std::size_t slash = displayPath.find('/');
  if (slash == std::string_view::npos) {
    key = displayPath;
    place = {};
  } else {
    key = displayPath.substr(0, slash);
    place = displayPath.substr(slash);
  }
}

void AppendPercentEncoded(std::string& out, std::string_view text, AddressPart part) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    // ":" separates user name from password; in a path segment it, like
    // "@", stands for itself.
    const bool plain =
        IsUnreservedOrSubDelim(c) || (part == AddressPart::kPathSegment && (c == ':' || c == '@'));
    if (plain) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
}

namespace {

// A path's segments encoded one by one; the "/" between them stay.
void AppendPathEncoded(std::string& out, std::string_view path) {
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    AppendPercentEncoded(out, path.substr(0, slash), AddressPart::kPathSegment);
    if (slash == std::string_view::npos) break;
    out.push_back('/');
    path.remove_prefix(slash + 1);
  }
}

std::string BuildAddress(const CFTPSite& site, std::string_view place, bool withPassword) {
  const SiteAccess access = site.Access();
  std::string address(AddressScheme(access.protocol));
  address.append("://");
  if (!site.IsAnonymous()) {
    AppendPercentEncoded(address, site.userName, AddressPart::kUserInfo);
    // With a key file the site's password is the key's passphrase, which
    // no server is ever told.
    if (withPassword && access.keyFile.empty()) {
      address.push_back(':');
      AppendPercentEncoded(address, site.password, AddressPart::kUserInfo);
    }
    address.push_back('@');
  }
  AppendHost(address, site.host);
  // Signed, so that a port imported as a negative number reads as written.
  char port[16];
  const std::uint32_t shownPort =
      access.protocol == SiteProtocol::kFtp ? site.port : site.ConnectionPort();
  std::snprintf(port, sizeof port, ":%d", static_cast<std::int32_t>(shownPort));
  address.append(port);
  // The catalog's places are below the start directory: "/" and "/a"
  // below "/pub" are "/pub" and "/pub/a" on the server.
  if (access.startDir != "/") {
    AppendPathEncoded(address, access.startDir);
    if (place == "/") place = {};
  }
  AppendPathEncoded(address, place);
  return address;
}

}  // namespace

std::string BuildFileAddress(const CFTPSite& site, std::string_view place) {
  return BuildAddress(site, place, true);
}

std::string BuildShareableAddress(const CFTPSite& site, std::string_view place) {
  return BuildAddress(site, place, false);
}

}  // namespace orvane
