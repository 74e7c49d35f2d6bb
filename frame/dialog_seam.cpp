#include "frame/dialog_seam.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QStringList>
#include <utility>

namespace orvane {

namespace {

CDialogSeam::MessageHook& messageHook() {
  static CDialogSeam::MessageHook hook;
  return hook;
}
CDialogSeam::DialogHook& dialogHook() {
  static CDialogSeam::DialogHook hook;
  return hook;
}
CDialogSeam::FileHook& fileHook() {
  static CDialogSeam::FileHook hook;
  return hook;
}

CDialogSeam::UrlHook& urlHook() {
  static CDialogSeam::UrlHook hook;
  return hook;
}

}  // namespace

QMessageBox::StandardButton CDialogSeam::Show(QWidget* parent, const Message& message) {
  Message shown = message;
  if (shown.title.isEmpty()) shown.title = QStringLiteral("Orvane");
  if (messageHook()) return messageHook()(shown);
  QMessageBox box(shown.icon, shown.title, shown.text, shown.buttons, parent);
  // Texts carry names and servers' words, never markup of ours: a name
  // like "<font color=red>" shows as typed.
  box.setTextFormat(Qt::PlainText);
  if (shown.defaultButton != QMessageBox::NoButton) box.setDefaultButton(shown.defaultButton);
  // The system's own labels, so a Chinese box does not carry English buttons.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
    ok->setText(QCoreApplication::translate("orvane::CDialogSeam", "确定"));
  }
  if (QAbstractButton* cancel = box.button(QMessageBox::Cancel)) {
    cancel->setText(QCoreApplication::translate("orvane::CDialogSeam", "取消"));
  }
  if (QAbstractButton* yes = box.button(QMessageBox::Yes)) {
    yes->setText(QCoreApplication::translate("orvane::CDialogSeam", "是"));
  }
  if (QAbstractButton* no = box.button(QMessageBox::No)) {
    no->setText(QCoreApplication::translate("orvane::CDialogSeam", "否"));
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void CDialogSeam::Inform(QWidget* parent, const QString& text) {
  Show(parent, {QMessageBox::Information, {}, text, QMessageBox::Ok});
}

void CDialogSeam::Warn(QWidget* parent, const QString& text) {
  Show(parent, {QMessageBox::Warning, {}, text, QMessageBox::Ok});
}

int CDialogSeam::Exec(QDialog& dialog) {
  if (dialogHook()) return dialogHook()(dialog);
  return dialog.exec();
}

QString CDialogSeam::OpenFile(QFileDialog& dialog) {
  if (fileHook()) return fileHook()(dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

QString CDialogSeam::ExportPath(QWidget* parent, const QString& title) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QCoreApplication::translate("orvane::CDialogSeam", "CSV 文件 (*.csv)"),
                         QCoreApplication::translate("orvane::CDialogSeam", "JSON 文件 (*.json)")});
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  QObject::connect(
      &dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains(QStringLiteral("*.json")) ? QStringLiteral("json")
                                                                          : QStringLiteral("csv"));
      });
  return OpenFile(dialog);
}

bool CDialogSeam::OpenUrl(const QUrl& url) {
  if (urlHook()) return urlHook()(url);
  return QDesktopServices::openUrl(url);
}

void CDialogSeam::SetMessageHook(MessageHook hook) { messageHook() = std::move(hook); }
void CDialogSeam::SetDialogHook(DialogHook hook) { dialogHook() = std::move(hook); }
void CDialogSeam::SetFileHook(FileHook hook) { fileHook() = std::move(hook); }
void CDialogSeam::SetUrlHook(UrlHook hook) { urlHook() = std::move(hook); }

void CDialogSeam::ClearHooks() {
  messageHook() = nullptr;
  dialogHook() = nullptr;
  fileHook() = nullptr;
  urlHook() = nullptr;
}

}  // namespace orvane
