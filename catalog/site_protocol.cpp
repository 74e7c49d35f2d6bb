#include "catalog/site_protocol.h"

#include <array>

namespace orvane {
namespace {

struct ProtocolRow {
  SiteProtocol protocol;
  std::string_view name;
  std::uint16_t port;
};

constexpr std::array<ProtocolRow, 4> kProtocols{{
    {SiteProtocol::kFtp, "ftp", 21},
    {SiteProtocol::kFtpes, "ftpes", 21},
    {SiteProtocol::kFtps, "ftps", 990},
    {SiteProtocol::kSftp, "sftp", 22},
}};

const ProtocolRow& RowOf(SiteProtocol protocol) {
  for (const ProtocolRow& row : kProtocols)
    if (row.protocol == protocol) return row;
  return kProtocols[0];
}

}  // namespace

std::string_view ProtocolName(SiteProtocol protocol) { return RowOf(protocol).name; }

std::optional<SiteProtocol> ParseProtocol(std::string_view name) {
  for (const ProtocolRow& row : kProtocols)
    if (row.name == name) return row.protocol;
  return std::nullopt;
}

std::uint16_t DefaultPort(SiteProtocol protocol) { return RowOf(protocol).port; }

std::string_view AddressScheme(SiteProtocol protocol) { return RowOf(protocol).name; }

bool UsesTls(SiteProtocol protocol) {
  return protocol == SiteProtocol::kFtpes || protocol == SiteProtocol::kFtps;
}

std::uint16_t ConnectPort(SiteProtocol protocol, std::uint32_t storedPort) {
  if (storedPort == DefaultPort(SiteProtocol::kFtp) &&
      (protocol == SiteProtocol::kFtps || protocol == SiteProtocol::kSftp)) {
    return DefaultPort(protocol);
  }
  return static_cast<std::uint16_t>(storedPort & 0xFFFFu);
}

std::optional<std::string> NormalStartDirectory(std::string_view text) {
  if (!text.starts_with('/') || text.size() > kMaxAccessPathBytes) return std::nullopt;
  std::string normal;
  while (!text.empty()) {
    text.remove_prefix(1);  // the "/" before the segment
    const std::string_view segment = text.substr(0, text.find('/'));
    text.remove_prefix(segment.size());
    if (segment.empty()) continue;
    if (segment == "." || segment == ".." ||
        segment.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
      return std::nullopt;
    }
    normal.push_back('/');
    normal.append(segment);
  }
  if (normal.empty()) return std::string(1, '/');
  return normal;
}

bool IsKeyFingerprint(std::string_view text) {
  constexpr std::string_view kPrefix = "SHA256:";
  if (!text.starts_with(kPrefix)) return false;
  text.remove_prefix(kPrefix.size());
  // 32 bytes are 43 base64 digits and one "=" of padding.
  if (text.size() == 44 && text.back() == '=') text.remove_suffix(1);
  if (text.size() != 43) return false;
  for (const char c : text) {
    const bool digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '+' || c == '/';
    if (!digit) return false;
  }
  return true;
}

}  // namespace orvane
