// One window per data directory. The first window on a directory holds its
// window lock (locks/window, an flock that ends with the process) and
// listens on a local socket named after the directory's canonical path;
// a later start on the same directory finds the lock taken, hands its
// address (or nothing) to that socket and ends, and the window comes to the
// front and shows the address.
//
// The socket lives in $XDG_RUNTIME_DIR (else the temporary directory, with
// the user's id in its name), readable by its owner only. A message is one
// line of UTF-8, the address; the window answers "ok" once it has taken it.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>

#include "catalog/data_dir_lock.h"

class QLocalServer;

namespace orvane {

class CInstanceServer : public QObject {
  Q_OBJECT

 public:
  // Takes the data directory's window lock; when it is free, this process
  // is the directory's window and listens.
  explicit CInstanceServer(const std::filesystem::path& dataDir, QObject* parent = nullptr);
  ~CInstanceServer() override;

  // Whether another process holds the directory's window.
  bool otherWindow() const { return otherWindow_; }
  // Hands `address` (empty: only come to the front) to the other window and
  // waits up to `timeoutMs` for its answer. False when it did not answer.
  bool HandOver(const QString& address, int timeoutMs) const;

  // The socket's name for a data directory (a path, as QLocalServer takes
  // it): the same for every path that leads to the same directory.
  static QString SocketPath(const std::filesystem::path& dataDir);

 signals:
  // Another start handed this address over (empty for none). Emitted
  // queued, after the answer went out, so a slot may open a dialog.
  void addressReceived(const QString& address);

 private:
  void Accept();

  QString socketPath_;
  CDataDirLock lock_;
  bool otherWindow_ = false;
  QLocalServer* server_ = nullptr;
};

}  // namespace orvane
