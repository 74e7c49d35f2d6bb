// The one listener that turns the update engine's notices into front-end
// events, for every front end (the window and orvane-cli).
//
// The engine calls it on its own threads (removals even under a site's
// lock), so it only queues: `post` must hand a function to the front end's
// thread and return at once (the window gives a queued Qt call, orvane-cli
// its own event queue). On that thread:
// - a status notice hands the site's status value, taken when the engine
//   posted it, to the site status sink; notices for a site that has left
//   the document's list meanwhile are dropped;
// - removed entries are gathered: one posted event hands everything
//   removed until it runs to COrvaneDoc::OnEntriesRemoved as one batch, so
//   a sweep of many entries costs the front end one pass over its lists.
//
// Lifetime: create it before the engine and destroy it after the engine is
// closed. Events still queued when it is destroyed do nothing when they run
// later, and removed entries they carry are simply destroyed with them, so
// the front end runs or discards its queue before it tears down the
// document.
#pragma once

#include <functional>
#include <memory>

#include "update/update_engine.h"

namespace orvane {

class COrvaneDoc;
class ISiteStatusSink;

class CEngineBridge final : public IEngineListener {
 public:
  using Poster = std::function<void(std::function<void()>)>;

  CEngineBridge(COrvaneDoc& doc, ISiteStatusSink& statusSink, Poster post);
  ~CEngineBridge() override;
  CEngineBridge(const CEngineBridge&) = delete;
  CEngineBridge& operator=(const CEngineBridge&) = delete;

  // IEngineListener (engine threads).
  void PostSiteStatus(std::shared_ptr<CFTPSite> site) override;
  void PostEntryRemoved(std::unique_ptr<CFTPDir> dir) override;
  void PostEntryRemoved(std::unique_ptr<CFTPFile> file) override;
  // Posts an event that does nothing: it wakes a front end waiting in its
  // own loop for the end of the work (orvane-cli), which then finds it.
  void PostWorkEnded() override;
  void PostSiteHealth(std::shared_ptr<CFTPSite> site) override;

  // Front-end thread: hands the removals gathered so far to the document
  // now (a posted event would do it later).
  void FlushRemovals();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  Poster post_;
};

}  // namespace orvane
