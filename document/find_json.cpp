#include "document/find_json.h"

#include "catalog/code_page.h"
#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/name_charset.h"
#include "document/find_index.h"
#include "document/journal_json.h"

namespace orvane {

std::string FindShownPath(std::string_view raw, NameCharset charset, InvalidBytes invalid) {
  std::string shown;
  std::size_t from = 1;
  while (from <= raw.size()) {
    std::size_t cut = raw.find('/', from);
    if (cut == std::string_view::npos) cut = raw.size();
    shown.push_back('/');
    shown += DecodeName(raw.substr(from, cut - from), charset, invalid);
    from = cut + 1;
  }
  return shown.empty() ? std::string("/") : shown;
}

void WriteFindHit(JsonWriter& json, const FindHit& hit) {
  const std::string raw = FindHitRawPath(hit);
  const std::string shown = FindShownPath(raw, hit.site->NameCharsetInUse());
  const bool isDir = FindHitIsDir(hit);
  json.BeginObject()
      .Key("site")
      .String(DecodeSiteText(hit.site->siteKey()))
      .Key("path")
      .String(shown);
  if (shown != raw) json.Key("rawPath").String(raw);
  json.Key("type").String(isDir ? "dir" : "file");
  if (hit.ghost) {
    json.Key("size").Number(hit.ghost->size).Key("new").Bool(false);
    json.Key("removed").String(UtcTimeText(hit.ghost->time));
  } else {
    if (!isDir) json.Key("size").Number(FindHitSize(hit));
    json.Key("new").Bool(FindHitIsNew(hit));
  }
  json.EndObject();
}

}  // namespace orvane
