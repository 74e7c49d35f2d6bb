#include "frame/frame_host.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>

#include "frame/dialog_seam.h"
#include "frame/main_frame.h"
#include "views/display_text.h"

namespace orvane {

bool CFrameHost::PumpMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return !closing_;
}

void CFrameHost::ShowMessage(const std::string& text) {
  // The core's texts are the system's own Chinese texts; core_texts.cpp lists
  // them for translation.
  CDialogSeam::Inform(&frame_, QCoreApplication::translate("CoreText", text.c_str()));
}

void CFrameHost::ReportLoadError(const std::string& text) {
  frame_.loadErrors_.append(QString::fromStdString(text));
}

bool CFrameHost::SetClipboardText(const std::string& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  clipboard->setText(DisplayPath(text));
  return true;
}

}  // namespace orvane
