// Checks on text typed into the frame's dialogs before it is stored.
#pragma once

#include <QString>

namespace orvane {

// The characters of `text` that code page 936 has no form for, each once,
// in order of appearance; empty when everything can be stored.
QString CharactersWithoutCp936Form(const QString& text);

}  // namespace orvane
