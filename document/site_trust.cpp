#include "document/site_trust.h"

#include <memory>
#include <string_view>
#include <vector>

#include "catalog/data_dir_lock.h"
#include "update/known_hosts.h"
#include "update/update_engine.h"

namespace orvane {

bool SameServer(const SiteSettings& before, const SiteSettings& after) {
  return before.host == after.host && before.access.protocol == after.access.protocol &&
         ConnectPort(before.access.protocol, before.port) ==
             ConnectPort(after.access.protocol, after.port);
}

SiteChange TrustPresentedKey(COrvaneDoc& doc, CFTPSite& site, const PresentedKey& presented,
                             std::string* error) {
  if (site.updateState.load() == kUpdateRunning) return SiteChange::kRefused;
  SiteSettings settings = SiteSettings::Of(site);
  if (settings.access.protocol == SiteProtocol::kSftp) {
    const CDataDirLock listLock =
        CDataDirLock::Acquire(doc.GetProgramDir(), CDataDirLock::Kind::kSiteList);
    std::string failure;
    if (!AcceptHostKey(doc.GetProgramDir() / kKnownHostsFileName, site.host,
                       site.ConnectionPort(), presented.sshKey, failure)) {
      if (error) *error = failure;
      return SiteChange::kFailed;
    }
  }
  settings.access.pin = presented.fingerprint;
  const SiteChange change = doc.EditSite(site, settings);
  if (change != SiteChange::kSaved) {
    if (error) *error = doc.siteListError();
    return change;
  }
  if (settings.access.protocol == SiteProtocol::kSftp) {
    // The host key is the server's: the other sites on it show it too (one
    // being updated keeps what it showed; the file decides all the same).
    const std::vector<std::shared_ptr<CFTPSite>> sites = doc.sites();
    for (const std::shared_ptr<CFTPSite>& other : sites) {
      if (other.get() == &site || other->host != site.host ||
          other->updateState.load() == kUpdateRunning) {
        continue;
      }
      SiteSettings otherSettings = SiteSettings::Of(*other);
      if (otherSettings.access.protocol != SiteProtocol::kSftp ||
          other->ConnectionPort() != site.ConnectionPort() ||
          otherSettings.access.pin == presented.fingerprint) {
        continue;
      }
      otherSettings.access.pin = presented.fingerprint;
      doc.EditSite(*other, otherSettings);
    }
  }
  return change;
}

}  // namespace orvane
