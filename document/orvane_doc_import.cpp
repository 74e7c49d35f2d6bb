// Importing ftp:// lists into the site list, and the full addresses of
// catalog entries.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "catalog/atomic_file.h"
#include "catalog/ftp_site.h"
#include "document/ftp_address.h"
#include "document/orvane_doc.h"

namespace orvane {
namespace {

constexpr char kCannotOpen[] = "无法打开所选文件！";

// Host and user name, length-prefixed so that no pair of texts can stand
// for another.
std::string LoginKey(std::string_view host, std::string_view userName) {
  std::string key = std::to_string(host.size());
  key.push_back(':');
  key.append(host);
  key.append(userName);
  return key;
}

}  // namespace

bool COrvaneDoc::ImportSites(const std::filesystem::path& path, ImportReport* report) {
  std::string contents;
  if (!ReadWholeFile(path, contents)) {
    host_.ShowMessage(kCannotOpen);
    return false;
  }

  const CDataDirLock listLock = CDataDirLock::Acquire(programDir_, CDataDirLock::Kind::kSiteList);
  RefreshSiteList();
  // A site is the same when host and user name are; password, port and
  // protocol do not count. Sites added by earlier lines count for later ones.
  std::unordered_set<std::string> known;
  known.reserve(siteList_.size() + contents.size() / 16);
  for (const auto& site : siteList_) known.insert(LoginKey(site->host, site->userName));

  ImportReport counts;
  const std::size_t before = siteList_.size();
  std::string_view text = contents;
  ImportedLogin login;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // CR-LF ends a line as LF does.
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    const ImportLine parsed = ParseImportLine(line, login);
    if (parsed == ImportLine::kBlank) continue;
    if (parsed == ImportLine::kSkipped) {
      if (counts.skippedLines.size() < ImportReport::kSkippedLinesKept) {
        counts.skippedLines.push_back(number);
      }
      ++counts.skipped;
      continue;
    }
    if (!known.insert(LoginKey(login.host, login.userName)).second) {
      ++counts.alreadyThere;
      continue;
    }
    auto site = std::make_shared<CFTPSite>();
    site->host = login.host;
    site->userName = login.userName;
    site->password = login.password;
    site->port = login.port;
    SiteAccess access;
    access.protocol = login.protocol;
    site->SetAccess(std::move(access));
    ApplyUserSettings(*site);
    siteList_.push_back(std::move(site));
  }
  if (siteList_.size() > before) host_.SitesAdded(before, siteList_.size() - before);
  counts.added.assign(siteList_.begin() + static_cast<std::ptrdiff_t>(before), siteList_.end());
  // Once for the whole file, also when nothing was added.
  SaveSiteList();
  if (report) *report = std::move(counts);
  return true;
}

std::string COrvaneDoc::GetFileAddress(std::string_view displayPath) const {
  std::string_view key;
  std::string_view place;
  SplitDisplayPath(displayPath, key, place);
  const std::shared_ptr<CFTPSite> site = FindSite(key);
  if (!site) return {};
  return BuildFileAddress(*site, place);
}

void COrvaneDoc::CopyFileAddress(std::string_view displayPath) {
  const std::string address = GetFileAddress(displayPath);
  if (address.empty()) return;
  host_.SetClipboardText(address);
}

}  // namespace orvane
