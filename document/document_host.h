// What the document needs from the front end that drives it (the window or
// orvane-cli). Everything here is called on the front end's thread. Each
// call has a quiet default, so a front end overrides only what it shows.
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
  virtual bool PumpMessages() { return true; }

  // A message box with the application's title and an OK button. `text` is
  // UTF-8 (the system's own texts, such as "没有未读文件！").
  virtual void ShowMessage(const std::string& /*text*/) {}

  // The framework's load-error box for site.ds ("%1 has a bad format." and
  // the like, already filled in).
  virtual void ReportLoadError(const std::string& /*text*/) {}

  // Plain text to the clipboard (bytes as built; the front end decodes).
  // False when the clipboard could not be used.
  virtual bool SetClipboardText(const std::string& /*text*/) { return false; }

  // Result list of the file view: cleared, then one call per appended entry
  // (the newest element of resultDirs or resultFiles).
  virtual void ClearResults() {}
  virtual void AppendResult(const CFTPDir* /*dir*/) {}
  virtual void AppendResult(const CFTPFile* /*file*/) {}

  // Progress of a search or listing: siteCount at the start, progressPos as
  // sites are begun. Begin/End bracket the walk (dialog shown / destroyed).
  virtual void SearchBegin(int /*siteCount*/) {}
  virtual void SearchProgress(int /*progressPos*/) {}
  virtual void SearchEnd() {}
};

}  // namespace orvane
