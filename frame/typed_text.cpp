#include "frame/typed_text.h"

#include <QList>
#include <string>

#include "catalog/code_page.h"
#include "views/display_text.h"

namespace orvane {

QString CharactersWithoutCp936Form(const QString& text) {
  QString missing;
  for (const char32_t c : text.toUcs4()) {
    const QString one = QString::fromUcs4(&c, 1);
    // EncodeTyped writes "?" for a character the code page lacks; only a
    // character that comes back as itself can be stored. (Decoded as code
    // page 936 alone: some two-byte characters also look like UTF-8.)
    const std::string stored = EncodeTyped(one);
    if (QString::fromStdString(Cp936ToUtf8(stored)) != one && !missing.contains(one)) {
      missing += one;
    }
  }
  return missing;
}

}  // namespace orvane
