#include "frame/catalog_follower.h"

#include "catalog/ftp_dir.h"
#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"

namespace orvane {

CCatalogFollower::CCatalogFollower(CMainFrame& frame) : QObject(&frame), frame_(frame) {}

void CCatalogFollower::CatalogChanged(const CFTPSite& site) {
  COrvaneDoc& doc = frame_.doc();
  frame_.dirView().FollowCatalog(&site);
  // The browse lists are the children of the current location; taken again,
  // they hold what the catalog holds now (the list shows them in browse
  // mode, and the toggle back to it shows them later).
  CFTPDir* shown = doc.currentNode ? doc.currentNode->directory : nullptr;
  if (shown && shown->GetSite() == &site) {
    doc.ShowDirectory(shown);
    frame_.fileView().FollowBrowse();
  } else {
    // Results may show the site's files, whose sizes and marks changed.
    frame_.fileView().viewport()->update();
  }
}

}  // namespace orvane
