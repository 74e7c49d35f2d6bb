#include "document/site_fields.h"

#include <arpa/inet.h>
#include <climits>

#include "catalog/code_page.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"

namespace orvane {

namespace {

// The longest suffix a file named after a site's data directory carries
// (the lock files' ".update", ".files"), with room to spare.
constexpr std::size_t kKeySuffixReserve = 16;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsLabel(std::string_view label) {
  if (label.empty() || label.size() > 63) return false;
  if (label.front() == '-' || label.back() == '-') return false;
  for (const char c : label) {
    const bool nonAscii = static_cast<unsigned char>(c) >= 0x80;
    if (!nonAscii && !IsAsciiAlnum(c) && c != '-' && c != '_') return false;
  }
  return true;
}

bool IsDnsName(std::string_view name) {
  if (name.ends_with('.')) name.remove_suffix(1);
  if (name.empty() || name.size() > 253) return false;
  while (true) {
    const std::size_t dot = name.find('.');
    if (!IsLabel(name.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    name.remove_prefix(dot + 1);
  }
}

bool IsIpv6Address(std::string_view host) {
  const std::size_t zone = host.find('%');
  if (zone != std::string_view::npos) {
    const std::string_view name = host.substr(zone + 1);
    if (name.empty()) return false;
    for (const char c : name) {
      if (!IsAsciiAlnum(c) && c != '-' && c != '_' && c != '.') return false;
    }
  }
  const std::string address(host.substr(0, zone));
  in6_addr parsed{};
  return ::inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

std::size_t Utf8Length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}

SiteFieldProblem Problem(SiteFieldProblem::Kind kind, SiteField field) {
  SiteFieldProblem problem;
  problem.kind = kind;
  problem.field = field;
  return problem;
}

}  // namespace

std::size_t MaxDataDirNameBytes() { return NAME_MAX - kKeySuffixReserve; }

bool IsHostName(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return IsIpv6Address(host);
  if (host.find_first_not_of("0123456789.") == std::string_view::npos) {
    // All digits and dots: only a dotted quad is an address; "1.2.3" is junk.
    const std::string address(host);
    in_addr parsed{};
    return ::inet_pton(AF_INET, address.c_str(), &parsed) == 1;
  }
  return IsDnsName(host);
}

bool IsSendableInCommand(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string CharactersWithoutGbkForm(std::string_view typed) {
  std::string missing;
  if (IsAscii(typed) || !IsValidUtf8(typed)) return missing;
  for (std::size_t i = 0; i < typed.size();) {
    const std::size_t length = Utf8Length(static_cast<unsigned char>(typed[i]));
    const std::string_view one = typed.substr(i, length);
    i += length;
    if (length == 1) continue;
    // Utf8ToCp936 writes "?" for a character the code page lacks: only one
    // that comes back as itself can be stored.
    if (Cp936ToUtf8(Utf8ToCp936(one)) != one && missing.find(one) == std::string::npos) {
      missing.append(one);
    }
  }
  return missing;
}

std::string StoredSiteText(std::string_view typed) {
  if (IsAscii(typed) || !IsValidUtf8(typed)) return std::string(typed);
  return Utf8ToCp936(typed);
}

SiteFieldProblem CheckTypedField(SiteField field, std::string_view typed) {
  SiteFieldProblem problem;
  problem.characters = CharactersWithoutGbkForm(typed);
  if (!problem.characters.empty()) {
    problem.kind = SiteFieldProblem::Kind::kNoGbkForm;
    problem.field = field;
  }
  return problem;
}

SiteFieldProblem CheckSiteSettings(const SiteSettings& settings, const SiteSettings* before) {
  using Kind = SiteFieldProblem::Kind;
  const auto changed = [before](const std::string SiteSettings::*member, const SiteSettings& now) {
    return !before || before->*member != now.*member;
  };
  if (changed(&SiteSettings::host, settings)) {
    if (settings.host.empty()) return Problem(Kind::kEmptyHost, SiteField::kHost);
    if (!IsSendableInCommand(settings.host)) return Problem(Kind::kLineBreak, SiteField::kHost);
    if (!IsHostName(settings.host)) return Problem(Kind::kBadHost, SiteField::kHost);
  }
  if (changed(&SiteSettings::userName, settings) && !IsSendableInCommand(settings.userName)) {
    return Problem(Kind::kLineBreak, SiteField::kUserName);
  }
  if (changed(&SiteSettings::password, settings) && !IsSendableInCommand(settings.password)) {
    return Problem(Kind::kLineBreak, SiteField::kPassword);
  }
  CFTPSite site;
  settings.ApplyTo(site);
  const std::string key = site.siteKey();
  bool keyChanged = true;
  if (before) {
    CFTPSite old;
    before->ApplyTo(old);
    keyChanged = old.siteKey() != key;
  }
  if (keyChanged && DataDirName(key).size() > MaxDataDirNameBytes()) {
    return Problem(Kind::kKeyTooLong, site.IsAnonymous() ? SiteField::kHost : SiteField::kUserName);
  }
  return {};
}

}  // namespace orvane
