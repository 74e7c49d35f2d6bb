#include "views/health_text.h"

#include <QLocale>
#include <string>

#include "catalog/code_page.h"
#include "catalog/ftp_site.h"
#include "views/display_text.h"
#include "views/file_list_model.h"

namespace orvane {

std::optional<SiteHealth> CHealthText::Current(const CFTPSite& site,
                                               const std::filesystem::path& programDir) {
  std::optional<SiteHealth> health = ReadSiteHealth(site.DataDirectory(programDir));
  // Marks cleared since the update are in the loaded catalog, not in the
  // record.
  if (health && health->HasSucceeded() && site.loadState.load() == kLoaded) {
    health->newEntries = CountCatalog(site).newEntries;
  }
  return health;
}

QString CHealthText::Ago(std::int64_t then, std::int64_t now) {
  const std::int64_t seconds = now > then ? now - then : 0;
  if (seconds < 60) return tr("刚刚");
  if (seconds < 3600) return tr("%n 分钟前", nullptr, static_cast<int>(seconds / 60));
  if (seconds < 86400) return tr("%n 小时前", nullptr, static_cast<int>(seconds / 3600));
  return tr("%n 天前", nullptr, static_cast<int>(seconds / 86400));
}

QString CHealthText::Count(std::uint64_t count) {
  // Grouped by thousands whatever the system's locale, as the examples in
  // both languages write it.
  return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qulonglong>(count));
}

QString CHealthText::Duration(std::uint64_t ms) {
  if (ms < 60'000) return tr("%1 秒").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 1);
  const std::uint64_t minutes = ms / 60'000;
  if (minutes < 60) return tr("%1 分 %2 秒").arg(minutes).arg(ms / 1000 % 60);
  return tr("%1 小时 %2 分").arg(minutes / 60).arg(minutes % 60);
}

QString CHealthText::ErrorKind(std::string_view kind) {
  if (kind == "refused") return tr("连接被拒绝");
  if (kind == "timed-out") return tr("服务器没有及时回答");
  if (kind == "login-refused") return tr("服务器拒绝登录");
  if (kind == "host-not-found") return tr("找不到主机");
  if (kind == "closed") return tr("服务器关闭了连接");
  if (kind == "server-error") return tr("服务器拒绝了命令");
  if (kind == "untrusted") return tr("服务器的密钥不受信任");
  if (kind == "no-session") return tr("创建Internet会话失败");
  if (kind == "broken-off") return tr("更新意外终止");
  if (kind == "save") return tr("保存目录失败");
  return tr("其他错误");
}

QString CHealthText::Summary(const std::optional<SiteHealth>& health, std::int64_t now) {
  if (!health || !health->HasSucceeded()) return tr("从未更新");
  return tr("%1更新，%2 项，%3，%4 项新")
      .arg(Ago(health->lastSuccess, now), Count(health->entries),
           CFileListModel::FormatSize(health->bytes), Count(health->newEntries));
}

QString CHealthText::LastError(const std::optional<SiteHealth>& health, std::int64_t now) {
  if (!health || !health->HasError()) return {};
  QString text =
      tr("上次错误（%1）：%2").arg(Ago(health->errorTime, now), ErrorKind(health->errorKind));
  if (!health->errorText.empty()) {
    // The server's own words, made safe to show like any stored text.
    text += QStringLiteral(" — ") + NameText(TruncateUtf8(health->errorText, 300), NameCharset::kUtf8).simplified();
  }
  return text;
}

}  // namespace orvane
