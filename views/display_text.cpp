#include "views/display_text.h"

#include "catalog/code_page.h"
#include "catalog/ftp_site.h"
#include "document/visible_text.h"

namespace orvane {

namespace {

constexpr std::string_view kScheme = "ftp://";

QString FromUtf8(const std::string& utf8, bool visible) {
  const std::string& text = visible ? MakeFormatCharsVisible(utf8) : utf8;
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString DecodePath(std::string_view bytes, NameCharset charset, bool visible) {
  // Most paths are ASCII; they need no decoder, and hold no format
  // character.
  if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QString text;
  if (bytes.starts_with(kScheme)) {
    const std::size_t slash = bytes.find('/', kScheme.size());
    const std::string_view key = bytes.substr(kScheme.size(), slash - kScheme.size());
    text = QLatin1String(kScheme.data(), static_cast<qsizetype>(kScheme.size())) +
           FromUtf8(DecodeSiteText(key), visible);
    if (slash == std::string_view::npos) return text;
    bytes.remove_prefix(slash);
  }
  // No character of the supported sets holds the byte "/", so the whole
  // path decodes as its names would one by one.
  return text + FromUtf8(DecodeName(bytes, charset), visible);
}

}  // namespace

QString SiteText(std::string_view bytes) {
  if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return FromUtf8(DecodeSiteText(bytes), true);
}

QString NameText(std::string_view bytes, NameCharset charset) {
  if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return FromUtf8(DecodeName(bytes, charset), true);
}

NameCharset CharsetOf(const CFTPSite* site) {
  return site ? site->NameCharsetInUse() : NameCharset::kUtf8;
}

QString DisplayPath(std::string_view bytes, NameCharset charset) {
  return DecodePath(bytes, charset, true);
}

QString DecodedPath(std::string_view bytes, NameCharset charset) {
  return DecodePath(bytes, charset, false);
}

QString CharsetLabel(NameCharset charset) {
  switch (charset) {
    case NameCharset::kUtf8:
      return QStringLiteral("UTF-8");
    case NameCharset::kGbk:
      return QStringLiteral("GBK (GB18030)");
    case NameCharset::kBig5:
      return QStringLiteral("Big5");
    case NameCharset::kShiftJis:
      return QStringLiteral("Shift_JIS");
    case NameCharset::kEucJp:
      return QStringLiteral("EUC-JP");
    case NameCharset::kEucKr:
      return QStringLiteral("EUC-KR");
    case NameCharset::kWindows1251:
      return QStringLiteral("Windows-1251");
    case NameCharset::kWindows1252:
      return QStringLiteral("Windows-1252 (Latin-1)");
    case NameCharset::kAuto:
      break;
  }
  return {};
}

std::string EncodeTyped(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return Utf8ToCp936(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace orvane
