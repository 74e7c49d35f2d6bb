#include "frame/typed_text.h"

#include <QList>

namespace orvane {

QString CharactersWithoutCp936Form(const QString& text) {
  QString missing;
  for (const char32_t c : text.toUcs4()) {
    const QString one = QString::fromUcs4(&c, 1);
    const std::string utf8 = one.toStdString();
    // The encoder writes '?' for a character it lacks; only a character
    // that comes back as itself can be stored.
    if (Cp936ToUtf8(Utf8ToCp936(utf8)) != utf8 && !missing.contains(one)) missing += one;
  }
  return missing;
}

}  // namespace orvane
