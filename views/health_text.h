// The texts that show a site's health (catalog/site_health.h) in the
// window: the tree's tool tip and the Sites overview build them here, so
// both say the same thing in the user's language.
//
// "Entries still new" changes when the user clears marks: for a site whose
// catalog is loaded it is counted from the catalog when shown; otherwise the
// figure stored with the last update stands.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "catalog/site_health.h"

namespace orvane {

class CFTPSite;

class CHealthText {
  Q_DECLARE_TR_FUNCTIONS(orvane::CHealthText)

 public:
  // The site's record, with newEntries counted from the catalog when it is
  // loaded; nothing when no record is known.
  static std::optional<SiteHealth> Current(const CFTPSite& site,
                                           const std::filesystem::path& programDir);

  // "3 小时前": how long before `now` (both in seconds since the epoch).
  static QString Ago(std::int64_t then, std::int64_t now);
  // "42,020"
  static QString Count(std::uint64_t count);
  // "2.5 秒", "3 分 4 秒", "1 小时 2 分"
  static QString Duration(std::uint64_t ms);
  // A kind token of the record in the user's language.
  static QString ErrorKind(std::string_view kind);

  // "3 小时前更新，42,020 项，12.40G，7 项新", or "从未更新".
  static QString Summary(const std::optional<SiteHealth>& health, std::int64_t now);
  // "上次错误（2 小时前）：连接被拒绝 — detail"; empty without an error.
  static QString LastError(const std::optional<SiteHealth>& health, std::int64_t now);
};

}  // namespace orvane
