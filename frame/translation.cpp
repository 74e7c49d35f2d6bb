#include "frame/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace orvane {

bool InstallTranslators(QCoreApplication& app, const QLocale& locale) {
  auto* qt = new QTranslator(&app);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
  if (locale.language() == QLocale::Chinese) return false;
  auto* own = new QTranslator(&app);
  if (!own->load(QStringLiteral(":/i18n/orvane_en.qm"))) {
    delete own;
    return false;
  }
  QCoreApplication::installTranslator(own);
  return true;
}

}  // namespace orvane
