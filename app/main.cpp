// orvane: the desktop program.
//
//   orvane [--data-dir DIR] [--no-splash] [ADDRESS]
//
// One window per data directory: a second start hands its ADDRESS (or
// nothing) to the window already open there and ends (frame/instance_server.h).
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
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

#include "document/man_page.h"
#include "document/program_dir.h"
#include "document/version.h"
#include "frame/dialog_seam.h"
#include "frame/instance_server.h"
#include "frame/main_frame.h"
#include "frame/quit_signals.h"
#include "frame/translation.h"
#include "views/splash.h"

namespace {

// The options, for --help and the manual page alike.
struct WindowOption {
  const char* name;
  const char* value;  // empty for a flag
  const char* description;
};
constexpr WindowOption kWindowOptions[] = {
    {"data-dir", "DIR", "Keep site.ds and Data/ in DIR."},
    {"no-splash", "", "Start without the splash screen."},
};
constexpr const char* kAddressHelp =
    "An ftp://, ftps:// or sftp:// address: its site is selected and the path shown (a site "
    "not in the list opens the new-site dialog filled in). When a window is already open on "
    "the data directory, that window comes to the front and shows the address instead.";

// orvane(1), written by the build before any window system is needed.
void WriteManPage() {
  std::ostringstream out;
  orvane::CManPage page(out, "orvane", "browse and search catalogs of FTP sites offline");
  page.Section("SYNOPSIS");
  page.Usage("orvane [--data-dir DIR] [--no-splash] [ADDRESS]");
  page.Section("DESCRIPTION");
  page.Paragraph(
      "Orvane keeps a list of FTP sites; an update walks each site's whole directory tree and "
      "brings a stored catalog up to date, with the entries that appeared since the last "
      "update marked new until they are read. Between updates the stored trees are browsed "
      "and searched without a connection. orvane-cli(1) works on the same data directory from "
      "a shell.");
  page.Paragraph(
      "One window is open per data directory: starting orvane again brings that window to "
      "the front.");
  page.Section("OPTIONS");
  for (const WindowOption& option : kWindowOptions) {
    page.Item(std::string("--") + option.name + (*option.value ? " " : "") + option.value,
              option.description);
  }
  page.Item("-h, --help", "Prints the options.");
  page.Item("--help-all", "Prints the options with those of Qt (as -platform, -style).");
  page.Item("-v, --version", "Prints the version.");
  page.Item("ADDRESS", kAddressHelp);
  page.Section("EXIT STATUS");
  page.Item("0", "The window was closed, or the address went to the window already open.");
  page.Item("1", "The data directory could not be used.");
  page.DataDirectorySections(
      "LANGUAGE, LC_ALL, LC_MESSAGES, LANG\tThe window's texts are Chinese in a Chinese "
      "locale and English elsewhere.");
  page.Paragraph("The window's size and layout are kept in ~/.config/orvane/orvane.conf.");
  page.Section("SEE ALSO");
  page.Paragraph("orvane-cli(1)");
  std::fputs(out.str().c_str(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--man") {
    WriteManPage();
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("orvane"));
  QApplication::setOrganizationName(QStringLiteral("orvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
  QApplication::setApplicationVersion(QString::fromUtf8(
      orvane::kOrvaneVersion.data(), static_cast<qsizetype>(orvane::kOrvaneVersion.size())));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/frame/orvane.svg")));
  QApplication::setDesktopFileName(QString::fromUtf8(
      orvane::kOrvaneAppId.data(), static_cast<qsizetype>(orvane::kOrvaneAppId.size())));
  orvane::InstallTranslators(app, QLocale());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Browse the contents of FTP sites offline."));
  parser.addHelpOption();
  parser.addVersionOption();
  for (const WindowOption& option : kWindowOptions) {
    parser.addOption(QCommandLineOption(QString::fromUtf8(option.name),
                                        QString::fromUtf8(option.description),
                                        QString::fromUtf8(option.value)));
  }
  parser.addPositionalArgument(QStringLiteral("ADDRESS"), QString::fromUtf8(kAddressHelp),
                               QStringLiteral("[ADDRESS]"));
  parser.process(app);
  const QString dataDirOption = QStringLiteral("data-dir");
  const QString noSplashOption = QStringLiteral("no-splash");

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
  const QString address = parser.positionalArguments().value(0);
  std::string error;
  if (!orvane::CreateDataDirectory(dataDir, error)) {
    orvane::CDialogSeam::Show(
        nullptr, {QMessageBox::Critical,
                  {},
                  QCoreApplication::translate("main", "无法使用数据目录 %1：%2")
                      .arg(QString::fromStdString(dataDir.string()), QString::fromStdString(error)),
                  QMessageBox::Ok});
    return 1;
  }

  // A window is open on this data directory already: it takes the address
  // and comes to the front instead of a second window.
  orvane::CInstanceServer instance(dataDir);
  if (instance.otherWindow()) {
    if (instance.HandOver(address, 10000)) return 0;
    std::fprintf(stderr, "orvane: the window open on %s does not answer; opening another\n",
                 dataDir.c_str());
  }

  // The splash stays up for its second while start-up goes on behind it.
  QPointer<orvane::CSplash> splash;
  if (!parser.isSet(noSplashOption)) splash = new orvane::CSplash();

  orvane::CMainFrame frame(dataDir);
  frame.OpenDocument();
  // A desktop's logout or a kill from the terminal closes the window as
  // Quit does, so running updates stop and the marks are saved.
  const orvane::CQuitSignals quitSignals([&frame] { frame.Quit(); });
  frame.show();
  // A load error, then the address given, are shown over the main window
  // once the splash is gone.
  const auto started = [&frame, address] {
    frame.ShowLoadErrors();
    if (!address.isEmpty()) frame.ShowAddress(address);
  };
  if (splash) {
    QObject::connect(splash, &QObject::destroyed, &frame, started);
    splash->Finish(&frame);
  } else {
    QTimer::singleShot(0, &frame, started);
  }
  QObject::connect(&instance, &orvane::CInstanceServer::addressReceived, &frame,
                   &orvane::CMainFrame::ShowAddress);
  return QApplication::exec();
}
