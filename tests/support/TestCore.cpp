#include "TestCore.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/fsuid.h>

namespace TestSupport {

OtherUser::OtherUser() : group_(::setfsgid(kId)), user_(::setfsuid(kId)) {}

OtherUser::~OtherUser() {
  ::setfsuid(user_);
  ::setfsgid(group_);
}

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(data), data.size());
}

QString BuiltAppDir() { return QStringLiteral(VIDMORA_APP_DIR); }
QString SourceDir() { return QStringLiteral(VIDMORA_SOURCE_DIR); }

TempAppDir::TempAppDir() : TempAppDir(Options{}) {}

TempAppDir::TempAppDir(const Options& options) {
  const QString built = BuiltAppDir() + QLatin1Char('/');
  auto link = [&](const QString& name) {
    const QString target =
        QFileInfo(built + name).exists() ? QFileInfo(built + name).canonicalFilePath() : built + name;
    QFile::link(target, File(name));
  };
  if (options.sqliteLib) link(QString::fromLatin1(Platform::kSqliteLibFile));
  if (options.encoder) link(QString::fromLatin1(Platform::kEncoderFile));
  if (options.probe) link(QString::fromLatin1(Platform::kProbeFile));
  if (options.player) link(QString::fromLatin1(Platform::kPlayerFile));
  if (options.database) {
    QFile::copy(built + QLatin1String(Platform::kDatabaseFile),
                File(QString::fromLatin1(Platform::kDatabaseFile)));
    QFile(File(QString::fromLatin1(Platform::kDatabaseFile)))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }
  if (options.saveDir) QDir().mkpath(File(QString::fromLatin1(Platform::kDefaultSaveDir)));
  Platform::SetExeDir(Path());
}

TempAppDir::~TempAppDir() { Platform::SetExeDir(QString()); }

QString TempAppDir::Path() const { return dir_.path() + QLatin1Char('/'); }
QString TempAppDir::File(const QString& name) const { return Path() + name; }

}  // namespace TestSupport
