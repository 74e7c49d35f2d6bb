// Catalogs for the view tests, built in memory or written with the core.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "document/document_host.h"
#include "document/orvane_doc.h"
#include "tests/support/temp_tree.h"

namespace orvane::test {

struct ViewFixture {
  ViewFixture() : doc(data.path(), host) {}

  // A site whose catalog counts as read already.
  CFTPSite& AddSite(const std::string& host, const std::string& nickname = {}) {
    auto site = std::make_shared<CFTPSite>();
    site->host = host;
    site->password = std::string(kAnonymousPassword);
    site->nickname = nickname;
    site->loadState = kLoaded;
    doc.AppendSite(site);
    return *site;
  }
  static CFTPDir* AddDir(CFTPDir* parent, const std::string& name, int readState = 0) {
    return parent->AddSubdir(std::make_unique<CFTPDir>(name, readState));
  }
  static CFTPFile* AddFile(CFTPDir* parent, const std::string& name, std::uint64_t size,
                           int readState = 0) {
    return parent->AddFile(CFTPFile::Make(name, size, readState));
  }

  CTempTree data;
  IDocumentHost host;
  COrvaneDoc doc;
};

}  // namespace orvane::test
