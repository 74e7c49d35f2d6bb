// The one place where the window asks its user something: message boxes,
// the file-open dialog and modal dialogs all go through CDialogSeam, so the
// window's tests can answer them without a nested event loop.
//
// With no hook set (the program), each call shows the real box or dialog.
// A test sets hooks; the hook gets what would have been shown and returns
// the user's answer. Hooks are process-wide and used on the GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QFileDialog;
class QUrl;
class QWidget;

namespace orvane {

class CDialogSeam {
 public:
  // What a message box shows; `buttons` is what it offers.
  struct Message {
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    // The button Enter presses; NoButton leaves the box's own choice.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  };
  using MessageHook = std::function<QMessageBox::StandardButton(const Message&)>;
  // Gets the dialog set up as it would be shown and returns its result
  // (QDialog::Accepted or Rejected); it may fill fields and press buttons.
  using DialogHook = std::function<int(QDialog&)>;
  // Gets the file dialog as set up (filters, default suffix) and returns the
  // chosen path, empty for Cancel.
  using FileHook = std::function<QString(QFileDialog&)>;
  // Gets an address handed to the system's handler and returns whether a
  // handler took it.
  using UrlHook = std::function<bool(const QUrl&)>;

  // A box with the application's title ("Orvane") unless `title` is given.
  static QMessageBox::StandardButton Show(QWidget* parent, const Message& message);
  static void Inform(QWidget* parent, const QString& text);
  static void Warn(QWidget* parent, const QString& text);
  // QDialog::exec, or the hook.
  static int Exec(QDialog& dialog);
  // The file chosen in `dialog` (set up by the caller), or empty.
  static QString OpenFile(QFileDialog& dialog);
  // A file to export to, asked in a save dialog titled `title` that offers
  // CSV and JSON (the suffix follows the filter chosen); empty for Cancel.
  static QString ExportPath(QWidget* parent, const QString& title);
  // QDesktopServices::openUrl, or the hook.
  static bool OpenUrl(const QUrl& url);

  static void SetMessageHook(MessageHook hook);
  static void SetDialogHook(DialogHook hook);
  static void SetFileHook(FileHook hook);
  static void SetUrlHook(UrlHook hook);
  static void ClearHooks();
};

}  // namespace orvane
