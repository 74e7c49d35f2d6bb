// The status texts of a site's update (UTF-8), built from its status value.
// orvane-cli prints them and the window shows them as tool tips; both take
// them from here, so the two never differ.
#pragma once

#include <string>

#include "catalog/ftp_site.h"

namespace orvane {

// "未更新", "正在等待更新...", "更新成功", "更新失败:\n" and the error
// text, and so on (the texts are in update_engine.h and crawler.h). The
// crawl counts are not part of the text.
std::string StatusText(const SiteStatus& status);

}  // namespace orvane
