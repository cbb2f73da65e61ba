#include "UserFiles.h"

#include "Platform.h"
#include "ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UserFiles {

namespace {

const QString kFolderName = QStringLiteral("vidmora");
const QString kOutputFolderName = QStringLiteral("Vidmora");

// Whether this process may write path, judged with its effective identity.
// Sets errno when it may not.
bool MayWrite(const QString& path) {
  return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK, AT_EACCESS) == 0;
}

QString Beside(const char* name) { return Platform::ExePath(QString::fromLatin1(name)); }

// Whether path lies under /usr, where only the package manager writes; links
// are followed, so /bin/.. and a link into /usr count too.
bool UnderUsr(const QString& path) {
  QString real = QFileInfo(path).canonicalFilePath();
  if (real.isEmpty()) real = QDir::cleanPath(path);
  return real == QLatin1String("/usr") || real.startsWith(QLatin1String("/usr/"));
}

// The user whose rights this process's file accesses have: the effective user,
// unless the file-system user was set apart from it. An invalid id changes
// nothing and gives the current one back.
uid_t FileUser() { return uid_t(::setfsuid(uid_t(-1))); }

QString UserFolder(QStandardPaths::StandardLocation location) {
  return QStandardPaths::writableLocation(location) + QLatin1Char('/') + kFolderName;
}

// Copies from to to in one step (a partial copy never takes to's name).
bool CopyWhole(const QString& from, const QString& to) {
  QFile in(from);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray data = in.readAll();
  if (in.error() != QFileDevice::NoError) return false;
  QSaveFile out(to);
  if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) return false;
  // The last write of a small file happens at commit; its size shows whether it all arrived.
  if (QFileInfo(to).size() == data.size()) return true;
  QFile::remove(to);
  return false;
}

// A file of the program's own data: in the user's data folder, or beside the
// executable when portable.
QString DataFile(const char* name) {
  if (Portable()) return Beside(name);
  return UserFolder(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + QString::fromLatin1(name);
}

}  // namespace

bool Portable() {
  const QString dir = Platform::ExeDir();
  struct stat st {};
  if (::stat(QFile::encodeName(dir).constData(), &st) != 0) return errno != EACCES && errno != EPERM;
  if (UnderUsr(dir) || QFileInfo::exists(Beside(kMarkerFile)) || st.st_uid != FileUser()) return false;
  if (MayWrite(dir)) return true;
  return errno != EACCES && errno != EROFS && errno != EPERM;
}

QString SettingsFile() {
  const QString shipped = Beside(Platform::kSettingsFile);
  if (Portable()) return shipped;
  // A settings file that someone else made writable for this user is shared
  // on purpose; the file a package or root shipped for itself is not, nor one
  // only the administrator's power could write.
  if (!UnderUsr(shipped) && Platform::SharedWithThisUser(shipped) && MayWrite(shipped)) return shipped;
  return UserFolder(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
         QString::fromLatin1(Platform::kSettingsFile);
}

QString DatabaseFile() { return DataFile(Platform::kDatabaseFile); }

QString QueueFile() { return DataFile(Platform::kQueueFile); }

QString DefaultSaveDir() {
  if (Portable()) return Beside(Platform::kDefaultSaveDir);
  return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation) + QLatin1Char('/') +
         kOutputFolderName;
}

void Prepare() {
  if (Portable()) return;

  const QString database = DatabaseFile();
  QDir().mkpath(QFileInfo(database).path());
  // An empty database is what a start without one leaves behind; it holds no
  // choices of the user's.
  const QFileInfo have(database);
  if (!have.exists() || (have.isFile() && have.size() == 0)) {
    const QString shipped = Beside(Platform::kDatabaseFile);
    if (QFileInfo(shipped).isFile()) {
      QFile::remove(database);
      CopyWhole(shipped, database);
    }
  }

  const QString settings = SettingsFile();
  // A link that leads nowhere is the user's to mend: nothing is made in its place.
  if (!QFileInfo::exists(settings) && !QFileInfo(settings).isSymLink()) {
    QDir().mkpath(QFileInfo(settings).path());
    const QString shipped = Beside(Platform::kSettingsFile);
    if (!QFileInfo(shipped).isFile() || !CopyWhole(shipped, settings)) {
      // An empty file reads as no settings at all, and shows the user where
      // the settings live.
      QFile empty(settings);
      if (empty.open(QIODevice::WriteOnly | QIODevice::NewOnly)) empty.close();
    }
  }

  QDir().mkpath(DefaultSaveDir());
}

}  // namespace UserFiles
