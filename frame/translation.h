// The window's language: its own texts are Chinese; the English translation
// (and Qt's own for its standard dialogs) is installed when the locale's
// language is not Chinese.
#pragma once

#include <QLocale>

class QCoreApplication;

namespace orvane {

// Installs the translators for `locale` into the application; they live as
// long as it does. True when the English texts were installed.
bool InstallTranslators(QCoreApplication& app, const QLocale& locale);

}  // namespace orvane
