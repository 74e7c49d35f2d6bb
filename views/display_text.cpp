#include "views/display_text.h"

#include "catalog/code_page.h"

namespace orvane {

QString DisplayName(std::string_view bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  // Most names are ASCII; they need neither decoder.
  if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), size);
  if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), size);
  const std::string utf8 = Cp936ToUtf8(bytes);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString DisplayPath(std::string_view bytes) {
  if (IsAscii(bytes)) return DisplayName(bytes);
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = bytes.find('/', start);
    text +=
        DisplayName(bytes.substr(start, slash == std::string_view::npos ? slash : slash - start));
    if (slash == std::string_view::npos) break;
    text += QLatin1Char('/');
    start = slash + 1;
  }
  return text;
}

std::string EncodeTyped(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return Utf8ToCp936(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace orvane
