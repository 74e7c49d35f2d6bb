#include "frame/instance_server.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

namespace orvane {

namespace {

// A line longer than any address is no message.
constexpr qint64 kMaxMessage = 64 * 1024;

}  // namespace

CInstanceServer::CInstanceServer(const std::filesystem::path& dataDir, QObject* parent)
    : QObject(parent), socketPath_(SocketPath(dataDir)) {
  lock_ = CDataDirLock::TryAcquire(dataDir, CDataDirLock::Kind::kWindow);
  if (lock_.busy()) {
    otherWindow_ = true;
    return;
  }
  // Without the lock (a read-only data directory, say) the window still
  // opens and listens: there is no one to hand over to either way.
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // A socket file left by a window that crashed; the lock says no window
  // is listening on it.
  QLocalServer::removeServer(socketPath_);
  if (!server_->listen(socketPath_)) {
    qWarning("orvane: cannot listen on %s: %s", qPrintable(socketPath_),
             qPrintable(server_->errorString()));
    return;
  }
  connect(server_, &QLocalServer::newConnection, this, &CInstanceServer::Accept);
}

CInstanceServer::~CInstanceServer() {
  if (server_) server_->close();
}

QString CInstanceServer::SocketPath(const std::filesystem::path& dataDir) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(dataDir, error);
  if (error) canonical = dataDir.lexically_normal();
  const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(canonical.string()),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(24);
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(QFile::decodeName(runtime)).isDir()) {
    return QFile::decodeName(runtime) + QStringLiteral("/orvane-") + QString::fromLatin1(digest);
  }
  // A shared directory: another user's window on a path of the same name
  // is not this user's.
  return QDir::tempPath() + QStringLiteral("/orvane-%1-").arg(::getuid()) +
         QString::fromLatin1(digest);
}

bool CInstanceServer::HandOver(const QString& address, int timeoutMs) const {
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  // The window takes its lock just before it listens: a start in between
  // finds no socket yet, and tries again.
  for (;;) {
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) break;
    if (deadline.hasExpired()) return false;
    QThread::msleep(20);
  }
  QByteArray message = address.toUtf8();
  message.replace('\n', ' ');
  socket.write(message + '\n');
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return false;
  }
  return socket.readLine().trimmed() == "ok";
}

void CInstanceServer::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxMessage) socket->abort();
        return;
      }
      const QString address = QString::fromUtf8(socket->readLine()).trimmed();
      socket->write("ok\n");
      socket->disconnectFromServer();
      // The slot may open a dialog: not inside this socket's signal.
      QTimer::singleShot(0, this, [this, address] { emit addressReceived(address); });
    });
  }
}

}  // namespace orvane
