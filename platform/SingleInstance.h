#pragma once
// One running program per user. The first start listens on a local socket in
// the user's runtime folder; a later start hands the files named on its
// command line to it and ends, so that only one window ever opens the user's
// database. A lock file beside the socket decides which start is the first,
// also when two begin at the same moment.
#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLockFile;

namespace Platform {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // name: the socket's and the lock's file name in folder (the user's runtime
  // folder when empty).
  explicit TSingleInstance(const QString& name = QStringLiteral("vidmora"), const QString& folder = QString(),
                           QObject* parent = nullptr);
  ~TSingleInstance() override;

  enum class TClaim {
    kFirst,      // this process runs the program and listens from now on
    kHandedOver, // a running program took paths; this process should end
    kNoAnswer,   // another start holds the lock but took nothing in time
  };
  // Becomes the running program, or hands paths (absolute) to the one that
  // runs, waiting at most waitMs for it to answer.
  TClaim Claim(const QStringList& paths, int waitMs = 10000);

 signals:
  // Paths handed over by a later start.
  void FilesReceived(const QStringList& paths);

 private:
  void Accept();
  QString socket_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace Platform
