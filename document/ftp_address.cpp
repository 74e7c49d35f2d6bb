#include "document/ftp_address.h"

#include <climits>
#include <cstdio>

#include "catalog/ftp_site.h"

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

// The C library's atoi on this platform: white space, an optional sign and
// the digits up to the first other character; the value saturates at the
// range of long and is then cut to int.
int ReadAtoi(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned long long magnitude = 0;
  const unsigned long long limit =
      negative ? static_cast<unsigned long long>(LONG_MAX) + 1 : LONG_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  const long value = negative ? static_cast<long>(0 - magnitude) : static_cast<long>(magnitude);
  return static_cast<int>(value);
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

bool ParseImportLine(std::string_view line, ImportedLogin& login) {
  line = Trim(line);
  if (line.empty()) return false;
  if (line.starts_with(kScheme)) line.remove_prefix(kScheme.size());

  std::string_view rest = line;
  const std::size_t at = line.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view userPart = line.substr(0, at);
    rest = line.substr(at + 1);
    const std::size_t colon = userPart.rfind(':');
    if (colon != std::string_view::npos) {
      login.userName.assign(userPart.substr(0, colon));
      login.password.assign(userPart.substr(colon + 1));
    } else {
      // "user@host" names the user and leaves the password empty.
      login.userName.assign(userPart);
      login.password.clear();
    }
  } else {
    login.userName = "anonymous";
    login.password.assign(kAnonymousPassword);
  }

  const std::size_t colon = rest.find(':');
  if (colon != std::string_view::npos) {
    login.host.assign(rest.substr(0, colon));
    // Stored as the 32-bit value the site record keeps, so a negative
    // number keeps its bits.
    login.port = static_cast<std::uint32_t>(ReadAtoi(rest.substr(colon + 1)));
  } else {
    login.host.assign(rest);
    login.port = 21;
  }
  return true;
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

std::string BuildFileAddress(const CFTPSite& site, std::string_view place) {
  std::string address(kScheme);
  if (!site.IsAnonymous()) {
    AppendPercentEncoded(address, site.userName, AddressPart::kUserInfo);
    address.push_back(':');
    AppendPercentEncoded(address, site.password, AddressPart::kUserInfo);
    address.push_back('@');
  }
  AppendHost(address, site.host);
  // Signed, so that a port imported as a negative number reads as written.
  char port[16];
  std::snprintf(port, sizeof port, ":%d", static_cast<std::int32_t>(site.port));
  address.append(port);
  // Segments are encoded one by one; the "/" between them stay.
  while (!place.empty()) {
    const std::size_t slash = place.find('/');
    AppendPercentEncoded(address, place.substr(0, slash), AddressPart::kPathSegment);
    if (slash == std::string_view::npos) break;
    address.push_back('/');
    place.remove_prefix(slash + 1);
  }
  return address;
}

}  // namespace orvane
