// Command numbers of the menus, the toolbar, the accelerators and the views'
// context menus. The views emit these through contextCommand(); the frame
// dispatches them in CMainFrame::Command.
#pragma once

namespace orvane {

enum CommandId : int {
  kCmdUpdateAll = 32771,
  kCmdAddSite = 32772,
  kCmdSetRead = 32774,
  kCmdSetUpdateRead = 32776,
  kCmdSearch = 32777,
  kCmdShowNew = 32780,
  kCmdDeleteSite = 32782,
  kCmdEditSite = 32783,
  kCmdImport = 32784,
  kCmdUpdate = 32793,
  kCmdSetAllRead = 32794,
  kCmdShowAllNew = 32795,
  kCmdCopyPath = 32796,
  kCmdForward = 32797,
  kCmdBack = 32798,
  kCmdUp = 32801,
  kCmdStopUpdate = 32803,
  kCmdTreeSetRead = 32804,
  kCmdSettings = 32805,
  kCmdSwitch = 32806,
  kCmdShowUpdates = 32807,
  kCmdTreeCopyPath = 32808,
  kCmdHelp = 32809,
  kCmdSitesOverview = 32810,
  kCmdChangesView = 32820,
  kCmdWatchWords = 32821,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdToolBar = 59392,
  kCmdStatusBar = 59393,
};

}  // namespace orvane
