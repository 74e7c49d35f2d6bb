// orvane: the desktop program.
//
//   orvane [--data-dir DIR]
//
// Start-up: the splash, the data directory (--data-dir, ORVANE_HOME, the
// program's directory, then the XDG data directory), the main window with
// the site list read from site.ds. No catalog is read at start; each site's
// catalog is read when it is first opened.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <filesystem>
#include <string>

#include "document/program_dir.h"
#include "document/version.h"
#include "frame/dialog_seam.h"
#include "frame/main_frame.h"
#include "frame/quit_signals.h"
#include "frame/translation.h"
#include "views/splash.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("orvane"));
  QApplication::setOrganizationName(QStringLiteral("orvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
  QApplication::setApplicationVersion(QString::fromUtf8(
      orvane::kOrvaneVersion.data(), static_cast<qsizetype>(orvane::kOrvaneVersion.size())));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/frame/orvane.svg")));
  QApplication::setDesktopFileName(QStringLiteral("orvane"));
  orvane::InstallTranslators(app, QLocale());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Browse the contents of FTP sites offline."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption dataDirOption(QStringLiteral("data-dir"),
                                         QStringLiteral("Keep site.ds and Data/ in DIR."),
                                         QStringLiteral("DIR"));
  const QCommandLineOption noSplashOption(QStringLiteral("no-splash"),
                                          QStringLiteral("Start without the splash screen."));
  parser.addOption(dataDirOption);
  parser.addOption(noSplashOption);
  parser.process(app);

  // The splash stays up for its second while start-up goes on behind it.
  QPointer<orvane::CSplash> splash;
  if (!parser.isSet(noSplashOption)) splash = new orvane::CSplash();

  std::filesystem::path explicitDir;
  if (parser.isSet(dataDirOption)) {
    const std::filesystem::path given(QFile::encodeName(parser.value(dataDirOption)).toStdString());
    std::error_code absoluteError;
    explicitDir = std::filesystem::absolute(given, absoluteError);
    // Without a working directory a relative one is taken as it is.
    if (absoluteError) explicitDir = given;
  }
  const std::filesystem::path dataDir =
      orvane::ChooseDataDirectory(explicitDir, orvane::ExecutableDirectory());
  std::string error;
  if (!orvane::CreateDataDirectory(dataDir, error)) {
    delete splash;
    orvane::CDialogSeam::Show(
        nullptr, {QMessageBox::Critical,
                  {},
                  QCoreApplication::translate("main", "无法使用数据目录 %1：%2")
                      .arg(QString::fromStdString(dataDir.string()), QString::fromStdString(error)),
                  QMessageBox::Ok});
    return 1;
  }

  orvane::CMainFrame frame(dataDir);
  frame.OpenDocument();
  // A desktop's logout or a kill from the terminal closes the window as
  // Quit does, so running updates stop and the marks are saved.
  const orvane::CQuitSignals quitSignals([&frame] { frame.Quit(); });
  frame.show();
  // A load error is shown over the main window once the splash is gone.
  if (splash) {
    QObject::connect(splash, &QObject::destroyed, &frame, [&frame] { frame.ShowLoadErrors(); });
    splash->Finish(&frame);
  } else {
    QTimer::singleShot(0, &frame, [&frame] { frame.ShowLoadErrors(); });
  }
  return QApplication::exec();
}
