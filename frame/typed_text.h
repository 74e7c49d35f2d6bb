// Bytes to shown text and typed text to bytes for the frame's dialogs.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "catalog/code_page.h"

namespace orvane {

inline QString ShownText(std::string_view bytes) {
  return QString::fromStdString(DecodeName(bytes));
}

inline std::string TypedBytes(const QString& text) { return Utf8ToCp936(text.toStdString()); }

// The characters of `text` that code page 936 has no form for, each once,
// in order of appearance; empty when everything can be stored.
QString CharactersWithoutCp936Form(const QString& text);

}  // namespace orvane
