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

}  // namespace orvane
