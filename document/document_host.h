// What the document needs from the front end that drives it (the window or
// orvane-cli). Everything here is called on the front end's thread.
#pragma once

#include <string>

namespace orvane {

class CFTPDir;
class CFTPFile;

class IDocumentHost {
 public:
  virtual ~IDocumentHost() = default;

  // Dispatches pending front-end events. False means stop: a stop request
  // or a quit is pending (and stays pending).
  virtual bool PumpMessages() = 0;

  // A message box with the application's title and an OK button. `text` is
  // UTF-8 (the system's own texts, such as "没有未读文件！").
  virtual void ShowMessage(const std::string& text) = 0;

  // The framework's load-error box for site.ds ("%1 has a bad format." and
  // the like, already filled in).
  virtual void ReportLoadError(const std::string& text) = 0;

  // Plain text to the clipboard (bytes as built; the front end decodes).
  // False when the clipboard could not be used.
  virtual bool SetClipboardText(const std::string& text) = 0;

  // Result list of the file view: cleared, then one call per appended entry
  // (the newest element of resultDirs or resultFiles).
  virtual void ClearResults() = 0;
  virtual void AppendResult(const CFTPDir* dir) = 0;
  virtual void AppendResult(const CFTPFile* file) = 0;

  // Progress of a search or listing: siteCount at the start, progressPos as
  // sites are begun. Begin/End bracket the walk (dialog shown / destroyed).
  virtual void SearchBegin(int siteCount) = 0;
  virtual void SearchProgress(int progressPos) = 0;
  virtual void SearchEnd() = 0;
};

}  // namespace orvane
