// The icons of the tree and the file list.
//
// The folder icon (closed, with the open folder as its Selected mode), the
// five site state icons (indexed by CFTPSite::updateState) and file icons
// chosen by a name's extension. Theme icons are used where the desktop has
// them; the bundled pictures stand in where it has none (the offscreen
// platform has no theme at all). Front-end thread only.
#pragma once

#include <QIcon>
#include <string_view>

namespace orvane {

class CStateIcons {
 public:
  static QIcon FolderIcon();
  // updateState 0 to 4: never updated (yellow star), failed (red disc with
  // a white cross), succeeded (green disc with a white tick), stopped (red
  // disc with a white bar), waiting or running (green circling arrows). An
  // out-of-range state gets the never-updated star.
  static QIcon SiteStateIcon(int updateState);
  // The icon for a file of this name, looked up once per extension (ASCII
  // case folded) from its MIME type and the icon theme.
  static QIcon FileIcon(std::string_view name);
  // Number of distinct extensions looked up so far.
  static int CachedFileIconCount();
};

}  // namespace orvane
