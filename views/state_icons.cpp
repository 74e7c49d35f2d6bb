#include "views/state_icons.h"

#include <QHash>
#include <QMimeDatabase>
#include <array>

namespace orvane {

namespace {

// Icons of bundled pictures, made once; QIcon copies share their data.
const QIcon& Bundled(const QString& path) {
  static QHash<QString, QIcon> icons;
  auto it = icons.find(path);
  if (it == icons.end()) it = icons.insert(path, QIcon(path));
  return *it;
}

QIcon MakeFolderIcon() {
  QIcon icon = QIcon::fromTheme(QStringLiteral("folder"));
  if (icon.isNull()) {
    icon = QIcon(QStringLiteral(":/views/folder.svg"));
    icon.addFile(QStringLiteral(":/views/folder_open.svg"), {}, QIcon::Selected);
  }
  return icon;
}

// The extension with ASCII letters lower-cased; empty when the name has none
// (a leading dot alone, as in ".profile", counts as a name, not a suffix).
QByteArray ExtensionKey(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  QByteArray key(name.data() + dot + 1, static_cast<qsizetype>(name.size() - dot - 1));
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

QHash<QByteArray, QIcon>& FileIconCache() {
  static QHash<QByteArray, QIcon> cache;
  return cache;
}

}  // namespace

QIcon CStateIcons::FolderIcon() {
  static const QIcon icon = MakeFolderIcon();
  return icon;
}

QIcon CStateIcons::SiteStateIcon(int updateState) {
  static const std::array<QString, 5> paths = {
      QStringLiteral(":/views/star.svg"),      QStringLiteral(":/views/failed.svg"),
      QStringLiteral(":/views/succeeded.svg"), QStringLiteral(":/views/stopped.svg"),
      QStringLiteral(":/views/updating.svg"),
  };
  if (updateState < 0 || updateState >= static_cast<int>(paths.size())) updateState = 0;
  return Bundled(paths[static_cast<std::size_t>(updateState)]);
}

QIcon CStateIcons::FileIcon(std::string_view name) {
  const QByteArray key = ExtensionKey(name);
  auto& cache = FileIconCache();
  auto it = cache.constFind(key);
  if (it != cache.constEnd()) return *it;

  const QIcon& fallback = Bundled(QStringLiteral(":/views/file.svg"));
  QIcon icon = fallback;
  if (!key.isEmpty()) {
    // Only the extension decides; the file is never on this disk.
    static QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(QStringLiteral("x.") + QString::fromLatin1(key),
                                                 QMimeDatabase::MatchExtension);
    icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
  } else {
    icon = QIcon::fromTheme(QStringLiteral("text-x-generic"), fallback);
  }
  cache.insert(key, icon);
  return icon;
}

int CStateIcons::CachedFileIconCount() { return static_cast<int>(FileIconCache().size()); }

}  // namespace orvane
