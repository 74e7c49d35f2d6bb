// A check that a site's files are read and written off the window's thread.
//
// The window hands every load, marks save and reload of a site's files to
// its site store (document/site_store.h), whose worker does the disk work;
// the window's thread never opens a catalog or waits on a site's locks. The
// entry points that do (CFTPSite::LoadFiles and SaveFiles, the reload's
// check of the files) call NoteSiteFileAccess. A test names the window's
// thread with ForbidSiteFileAccess and afterwards takes what was noted on
// it: anything there is disk work the window did itself. Costs one relaxed
// atomic load when nothing is forbidden (always, outside tests).
#pragma once

#include <string>
#include <thread>
#include <vector>

namespace orvane {

// Entry points of a site's file access call this with their own name.
void NoteSiteFileAccess(const char* what);

// From now on, accesses on `thread` are noted; a default id forbids none.
void ForbidSiteFileAccess(std::thread::id thread);
// The accesses noted on the forbidden thread so far (names of the entry
// points, in order), and forgets them.
std::vector<std::string> TakeForbiddenSiteFileAccesses();

}  // namespace orvane
