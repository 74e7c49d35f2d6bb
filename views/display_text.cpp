#include "views/display_text.h"

#include "catalog/code_page.h"
#include "document/visible_text.h"

namespace orvane {

namespace {

QString FromUtf8(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString Decode(std::string_view bytes, bool visible) {
  const auto size = static_cast<qsizetype>(bytes.size());
  // Most names are ASCII; they need neither decoder, and hold no format
  // character.
  if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), size);
  const std::string utf8 = IsValidUtf8(bytes) ? std::string(bytes) : Cp936ToUtf8(bytes);
  return FromUtf8(visible ? MakeFormatCharsVisible(utf8) : utf8);
}

QString DecodePath(std::string_view bytes, bool visible) {
  if (IsAscii(bytes)) return Decode(bytes, visible);
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = bytes.find('/', start);
    text += Decode(bytes.substr(start, slash == std::string_view::npos ? slash : slash - start),
                   visible);
    if (slash == std::string_view::npos) break;
    text += QLatin1Char('/');
    start = slash + 1;
  }
  return text;
}

}  // namespace

QString DisplayName(std::string_view bytes) { return Decode(bytes, true); }

QString DisplayPath(std::string_view bytes) { return DecodePath(bytes, true); }

QString DecodedPath(std::string_view bytes) { return DecodePath(bytes, false); }

std::string EncodeTyped(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return Utf8ToCp936(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace orvane
