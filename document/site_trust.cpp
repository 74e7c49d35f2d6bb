#include "document/site_trust.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "catalog/atomic_file.h"
#include "catalog/data_dir_lock.h"
#include "update/update_engine.h"

namespace orvane {

std::string KnownHostName(std::string_view host, std::uint16_t port) {
  if (port == DefaultPort(SiteProtocol::kSftp)) return std::string(host);
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

bool AddKnownHostKey(const std::filesystem::path& file, std::string_view host, std::uint16_t port,
                     std::string_view keyLine, std::string* error) {
  std::string old;
  std::error_code exists;
  if (std::filesystem::exists(file, exists) && !ReadWholeFile(file, old)) {
    if (error) *error = file.string() + ": " + std::strerror(errno ? errno : EIO);
    return false;
  }
  const std::string name = KnownHostName(host, port);
  std::string text;
  std::string_view rest = old;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.substr(0, line.find(' ')) == name) continue;
    text.append(line);
    text.push_back('\n');
  }
  text.append(name).append(" ").append(keyLine).append("\n");
  CAtomicFile out(file, 0600);
  if (!out.is_open() || !out.sink().Write(text.data(), text.size()) || !out.Commit()) {
    if (error) *error = file.string() + ": " + std::strerror(out.error() ? out.error() : EIO);
    return false;
  }
  return true;
}

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
    if (!AddKnownHostKey(doc.GetProgramDir() / kKnownHostsFileName, site.host,
                         site.ConnectionPort(), presented.sshKey, error)) {
      return SiteChange::kFailed;
    }
  }
  settings.access.pin = presented.fingerprint;
  const SiteChange change = doc.EditSite(site, settings);
  if (change != SiteChange::kSaved && error) *error = doc.siteListError();
  return change;
}

}  // namespace orvane
