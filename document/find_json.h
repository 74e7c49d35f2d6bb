// One find hit as `orvane-cli find --json` and the window's export write
// it: "site", "path" (the decoded server path), "rawPath" (its bytes, when
// they differ), "type", "size" (files and removed entries), "new", and for
// an entry an update removed "removed" (that update's end, UTC).
#pragma once

#include <string>
#include <string_view>

#include "catalog/code_page.h"
#include "catalog/name_charset.h"
#include "document/json_writer.h"

namespace orvane {

struct FindHit;

// A raw server path ("/a/b") decoded one component at a time by the site's
// character set, as shown.
std::string FindShownPath(std::string_view raw, NameCharset charset,
                          InvalidBytes invalid = InvalidBytes::kReplace);

// The hit as the next element of the outermost array `json`.
void WriteFindHit(JsonWriter& json, const FindHit& hit);

}  // namespace orvane
