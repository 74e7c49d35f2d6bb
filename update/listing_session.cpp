#include "update/listing_session.h"

#include "update/ftp_session.h"
#include "update/sftp_session.h"

namespace orvane {

std::unique_ptr<CListingSession> MakeListingSession(SiteProtocol protocol) {
  switch (protocol) {
    case SiteProtocol::kFtp:
    case SiteProtocol::kFtpes:
    case SiteProtocol::kFtps:
      return std::make_unique<CFtpSession>();
    case SiteProtocol::kSftp:
      return std::make_unique<CSftpSession>();
  }
  return nullptr;
}

}  // namespace orvane
