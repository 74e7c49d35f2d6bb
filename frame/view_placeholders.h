// Stand-ins for the tree and list views with the API the frame uses, until
// the real views are in this branch.
#pragma once

#include <QTreeView>
#include <string>
#include <vector>

#include "document/orvane_doc.h"

namespace orvane {

class CDirView : public QTreeView {
  Q_OBJECT
 public:
  explicit CDirView(COrvaneDoc& doc, QWidget* parent = nullptr) : QTreeView(parent), doc_(doc) {
    setObjectName(QStringLiteral("dirView"));
  }
  void ReloadSites() {}
  void UpdateSiteItem(CFTPSite*) {}
  void SelectDirectory(CFTPDir* dir) { current_ = dir; }
  CFTPDir* CurrentDirectory() const { return current_; }
  CFTPSite* CurrentSite() const { return current_ ? current_->GetSite() : nullptr; }
  void EntriesRemoving(const std::vector<const CFTPDir*>&) { current_ = nullptr; }
  // Test stand-in for a click on a tree item.
  void Activate(CFTPDir* dir) {
    current_ = dir;
    doc_.RecordStep(dir);
    doc_.ShowDirectory(dir);
    emit directoryActivated(dir);
  }
 signals:
  void directoryActivated(orvane::CFTPDir* dir);
  void contextCommand(int commandId);

 private:
  COrvaneDoc& doc_;
  CFTPDir* current_ = nullptr;
};

class COrvaneView : public QTreeView {
  Q_OBJECT
 public:
  explicit COrvaneView(COrvaneDoc&, QWidget* parent = nullptr) : QTreeView(parent) {
    setObjectName(QStringLiteral("fileView"));
  }
  void ShowBrowse() {}
  void ShowResults() {}
  void ShowWelcome() {}
  void AppendResults() {}
  void EntriesRemoving(const std::vector<const CFTPDir*>&, const std::vector<const CFTPFile*>&) {}
  std::vector<std::string> SelectedDisplayPaths() const { return {}; }
 signals:
  void directoryActivated(orvane::CFTPDir* dir);
  void fileActivated(const std::string& displayPath);
  void contextCommand(int commandId);
};

}  // namespace orvane
