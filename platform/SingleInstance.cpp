#include "SingleInstance.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace Platform {

namespace {

// The answer of the running program once it has taken the paths.
constexpr char kTaken = '+';
// A message larger than this is no hand-over of ours.
constexpr quint32 kMostBytes = 16 * 1024 * 1024;

}  // namespace

TSingleInstance::TSingleInstance(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent) {
  QString dir = folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : folder;
  if (dir.isEmpty()) dir = QDir::tempPath();
  socket_ = dir + QLatin1Char('/') + name;
  lock_ = std::make_unique<QLockFile>(socket_ + QStringLiteral(".lock"));
  // A lock whose holder has died is taken over at once.
  lock_->setStaleLockTime(0);
}

TSingleInstance::~TSingleInstance() {
  if (server_) server_->close();
  if (lock_->isLocked()) lock_->unlock();
}

TSingleInstance::TClaim TSingleInstance::Claim(const QStringList& paths, int waitMs) {
  QByteArray message;
  {
    QDataStream out(&message, QIODevice::WriteOnly);
    out << quint32(0) << paths;
    out.device()->seek(0);
    out << quint32(message.size() - sizeof(quint32));
  }
  QDeadlineTimer deadline(waitMs);
  for (;;) {
    if (lock_->tryLock(0)) {
      // A socket left by a program that died is in the way.
      QLocalServer::removeServer(socket_);
      server_ = new QLocalServer(this);
      server_->setSocketOptions(QLocalServer::UserAccessOption);
      connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
      // Without a socket the program still runs; later starts wait for nothing.
      server_->listen(socket_);
      return TClaim::kFirst;
    }
    QLocalSocket client;
    client.connectToServer(socket_);
    if (client.waitForConnected(500)) {
      client.write(message);
      char answer = 0;
      while (client.bytesToWrite() > 0 && client.waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
      }
      if (client.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))) && client.getChar(&answer) &&
          answer == kTaken)
        return TClaim::kHandedOver;
    }
    // The first start may hold the lock and not listen yet.
    if (deadline.hasExpired()) return TClaim::kNoAnswer;
    QThread::msleep(100);
  }
}

void TSingleInstance::Accept() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
      if (client->bytesAvailable() < qint64(sizeof(quint32))) return;
      quint32 size = 0;
      {
        QDataStream peek(client->peek(sizeof(quint32)));
        peek >> size;
      }
      if (size > kMostBytes) {
        client->abort();
        return;
      }
      if (client->bytesAvailable() < qint64(sizeof(quint32) + size)) return;
      client->read(sizeof(quint32));
      QDataStream in(client->read(size));
      QStringList paths;
      in >> paths;
      if (in.status() != QDataStream::Ok) {
        client->abort();
        return;
      }
      client->putChar(kTaken);
      client->flush();
      emit FilesReceived(paths);
    });
  }
}

}  // namespace Platform
