// One entry of the navigation history: the catalog directory shown at that
// step.
//
// The node borrows the directory; the catalog owns it. A node in the
// document's history lists never holds a null directory, and the document
// drops every node whose directory an update removes before that directory
// is destroyed.
#pragma once

namespace orvane {

class CFTPDir;

class DirNode {
 public:
  explicit DirNode(CFTPDir* dir = nullptr) : directory(dir) {}
  virtual ~DirNode();
  DirNode(const DirNode&) = default;
  DirNode& operator=(const DirNode&) = default;

  CFTPDir* directory;
};

}  // namespace orvane
