// The main window's side of an address handed to it: from the command line
// at start, or from a later start on the same data directory.
#include <QStatusBar>
#include <algorithm>
#include <string>
#include <string_view>

#include "catalog/code_page.h"
#include "catalog/ftp_site.h"
#include "document/ftp_address.h"
#include "frame/main_frame.h"
#include "frame/tray_icon.h"
#include "views/dir_view.h"
#include "views/display_text.h"
#include "views/orvane_view.h"

namespace orvane {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII letters in any case; host names and schemes are case-insensitive.
bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

void CMainFrame::ShowAddress(const QString& address) {
  tray_->ShowWindow();
  if (address.isEmpty()) return;
  const std::string text = address.toStdString();
  std::string_view rest = text;
  bool known = false;
  // A site is its host and login, whatever the scheme says of its protocol.
  for (const std::string_view scheme : {"ftp://", "ftpes://", "ftps://", "sftp://"}) {
    if (EqualNoCase(rest.substr(0, scheme.size()), scheme)) {
      rest.remove_prefix(scheme.size());
      known = true;
      break;
    }
  }
  ImportedLogin login;
  if (!known || ParseImportLine(text, login) != ImportLine::kSite) {
    statusBar()->showMessage(tr("无法打开地址“%1”。").arg(address));
    return;
  }
  const std::size_t slash = rest.find('/');
  std::string place =
      slash == std::string_view::npos
          ? std::string()
          // The query and the fragment are no part of the path.
          : PercentDecoded(rest.substr(slash, rest.find_first_of("?#", slash) - slash));
  std::shared_ptr<CFTPSite> site;
  for (const auto& candidate : doc_->sites()) {
    if (EqualNoCase(candidate->host, login.host) && candidate->userName == login.userName) {
      site = candidate;
    }
  }
  if (!site) {
    SiteSettings settings;
    settings.host = login.host;
    settings.userName = login.userName;
    settings.password = login.password;
    settings.port = login.port;
    settings.access.protocol = login.protocol;
    AddSite(&settings);
    return;
  }
  // The site's addresses begin with its start directory; the catalog
  // below it.
  if (const std::string start = site->Access().startDir;
      start != "/" && place.starts_with(start) &&
      (place.size() == start.size() || place[start.size()] == '/')) {
    place.erase(0, start.size());
  }
  dirView_->SelectSite(site.get());
  // The site store reads a catalog not in memory yet; the path is shown
  // when it has come.
  WhenCatalogLoaded(site, [this, weak = std::weak_ptr<CFTPSite>(site), place] {
    const std::shared_ptr<CFTPSite> site = weak.lock();
    if (!site || site->removed.load()) return;
    // Down the catalog as far as it holds the path: the stored bytes, or a
    // name whose decoded text the address spells in UTF-8.
    CFTPDir* folder = nullptr;
    std::string_view name;
    std::string_view missing;
    {
      std::lock_guard lock(site->lock);
      folder = site->rootDir.get();
      std::string_view walk = place;
      while (!walk.empty()) {
        const std::size_t begin = walk.find_first_not_of('/');
        if (begin == std::string_view::npos) break;
        walk.remove_prefix(begin);
        const std::string_view part = walk.substr(0, walk.find('/'));
        walk.remove_prefix(part.size());
        const auto matches = [part, charset = site->NameCharsetInUse()](std::string_view stored) {
          return stored == part || DecodeName(stored, charset) == part;
        };
        CFTPDir* next = nullptr;
        for (const auto& sub : folder->subdirs) {
          if (!next && matches(sub->name())) next = sub.get();
        }
        if (next) {
          folder = next;
          continue;
        }
        for (const auto& file : folder->files) {
          if (name.empty() && matches(file->name())) name = file->name();
        }
        // A file ends the path; anything after it, or a name the catalog
        // does not hold, is not there.
        if (name.empty() || !walk.empty()) missing = part;
        break;
      }
    }
    if (folder != site->rootDir.get() || !name.empty()) {
      // Opens the folder and selects the file; a directory is opened itself.
      fileView_->ShowInFolder(folder, name);
    }
    if (!missing.empty()) {
      statusBar()->showMessage(
          tr("“%1”不在目录中。").arg(DisplayPath(place, CharsetOf(site.get()))));
    }
  });
}

}  // namespace orvane
