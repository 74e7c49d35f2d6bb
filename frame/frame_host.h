// The window's side of the document: what the document asks of its front
// end, answered by the main frame.
#pragma once

#include "document/document_host.h"

namespace orvane {

class CMainFrame;

class CFrameHost final : public IDocumentHost {
 public:
  explicit CFrameHost(CMainFrame& frame) : frame_(frame) {}

  // Runs pending events; false once the window is closing.
  bool PumpMessages() override;
  void ShowMessage(const std::string& text) override;
  // Kept until the frame shows them (CMainFrame::ShowLoadErrors), so the
  // box appears over the main window, not under the splash.
  void ReportLoadError(const std::string& text) override;
  bool SetClipboardText(const std::string& text) override;

  void SetClosing() { closing_ = true; }

 private:
  CMainFrame& frame_;
  bool closing_ = false;
};

}  // namespace orvane
