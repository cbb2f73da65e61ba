// Where the settings file, the parameter database and the default output
// folder live: beside a program whose folder can be written, in the user's own
// folders beside one whose folder cannot (checked as another user, since root
// may write anywhere).
#include "params/DataModule.h"
#include "platform/Platform.h"
#include "platform/UserFiles.h"
#include "settings/AppSettings.h"
#include "tests/support/TestCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/mount.h>

#include <sys/stat.h>
#include <unistd.h>

using TestSupport::OtherUser;
using TestSupport::ReadBytes;
using TestSupport::TempAppDir;
using TestSupport::WriteBytes;

namespace {

constexpr int kOtherId = OtherUser::kId;

// A home folder that the other user owns, named by HOME while it lives, with
// the XDG folder variables unset.
class OtherHome {
 public:
  OtherHome() {
    ::chown(QFile::encodeName(dir_.path()).constData(), kOtherId, kOtherId);
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
      saved_.append({name, qgetenv(name)});
    qputenv("HOME", QFile::encodeName(dir_.path()));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
  }
  ~OtherHome() {
    for (const auto& [name, value] : saved_) {
      if (value.isNull()) {
        qunsetenv(name);
      } else {
        qputenv(name, value);
      }
    }
  }
  QString Path(const QString& relative) const { return dir_.path() + QLatin1Char('/') + relative; }
  QStringList Files() const {
    QStringList found;
    QDirIterator it(dir_.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next().mid(dir_.path().size() + 1);
    found.sort();
    return found;
  }

 private:
  QTemporaryDir dir_;
  QList<QPair<const char*, QByteArray>> saved_;
};

// An empty read-only file system mounted over a folder for the life of the object.
struct ReadOnlyMount {
  QByteArray where;
  bool Mount(const QString& dir) {
    const QByteArray path = QFile::encodeName(dir);
    if (::mount("none", path.constData(), "tmpfs", MS_RDONLY, "size=64k") != 0) return false;
    where = path;
    return true;
  }
  ~ReadOnlyMount() {
    if (!where.isEmpty()) ::umount2(where.constData(), MNT_DETACH);
  }
};

// An installation folder that others may read but not write.
void ReadOnlyForOthers(const TempAppDir& app) {
  QVERIFY(::chmod(QFile::encodeName(app.Path()).constData(), 0755) == 0);
  QVERIFY(::chmod(QFile::encodeName(app.File(QStringLiteral("LibParmt.dat"))).constData(), 0644) == 0);
}

}  // namespace

class TestUserFiles : public QObject {
  Q_OBJECT

 private slots:
  void writableFolderKeepsEverythingBesideTheProgram() {
    OtherHome home;
    TempAppDir app;
    QVERIFY(UserFiles::Portable());
    QCOMPARE(UserFiles::SettingsFile(), app.File(QStringLiteral("libcfg.ini")));
    QCOMPARE(UserFiles::DatabaseFile(), app.File(QStringLiteral("LibParmt.dat")));
    QCOMPARE(UserFiles::QueueFile(), app.File(QStringLiteral("ConvQueue.json")));
    QCOMPARE(UserFiles::DefaultSaveDir(), app.File(QStringLiteral("SaveFile")));
    UserFiles::Prepare();
    QCOMPARE(home.Files(), QStringList());
    QVERIFY(!QFile::exists(app.File(QStringLiteral("libcfg.ini"))));

    // A folder that is not there cannot tell; the paths stay beside it.
    Platform::SetExeDir(app.File(QStringLiteral("missing/")));
    QVERIFY(UserFiles::Portable());
    QCOMPARE(UserFiles::SettingsFile(), app.File(QStringLiteral("missing/libcfg.ini")));
  }

  // Folders this process may write that are still not its own to write: the
  // system's, a package's or the build's (the marker), another user's.
  void sharedFoldersAreNeverWritten_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("marked") << QStringLiteral("marker");
    QTest::newRow("another user's") << QStringLiteral("other owner");
    QTest::newRow("under /usr") << QStringLiteral("usr");
    QTest::newRow("a link into /usr") << QStringLiteral("usr link");
    // Root may write anywhere but on a read-only file system (a live medium, a
    // read-only mount of a shared disk).
    QTest::newRow("read-only file system") << QStringLiteral("read-only mount");
  }
  void sharedFoldersAreNeverWritten() {
    QFETCH(QString, kind);
    OtherHome home;
    TempAppDir app;
    ReadOnlyMount readOnly;
    // A settings file the running user shipped for itself is not shared.
    WriteBytes(app.File(QStringLiteral("libcfg.ini")), "[SoftHttp]\nHttpUrl=https://mirror.example/\n");
    QVERIFY(::chmod(QFile::encodeName(app.File(QStringLiteral("libcfg.ini"))).constData(), 0666) == 0);
    if (kind == QLatin1String("marker")) {
      WriteBytes(app.File(QString::fromLatin1(UserFiles::kMarkerFile)), "");
    } else if (kind == QLatin1String("other owner")) {
      if (::geteuid() != 0) QSKIP("giving a folder away needs root");
      QVERIFY(::chown(QFile::encodeName(app.Path()).constData(), kOtherId, kOtherId) == 0);
    } else if (kind == QLatin1String("usr")) {
      Platform::SetExeDir(QStringLiteral("/usr/bin/"));
    } else if (kind == QLatin1String("usr link")) {
      QVERIFY(QFile::link(QStringLiteral("/usr/bin"), app.File(QStringLiteral("bin"))));
      Platform::SetExeDir(app.File(QStringLiteral("bin/")));
    } else {
      QVERIFY(QDir().mkpath(app.File(QStringLiteral("ro"))));
      if (!readOnly.Mount(app.File(QStringLiteral("ro")))) QSKIP("mounting a file system needs root");
      Platform::SetExeDir(app.File(QStringLiteral("ro/")));
    }
    QVERIFY(!UserFiles::Portable());
    QCOMPARE(UserFiles::SettingsFile(), home.Path(QStringLiteral(".config/vidmora/libcfg.ini")));
    QCOMPARE(UserFiles::DatabaseFile(), home.Path(QStringLiteral(".local/share/vidmora/LibParmt.dat")));
    QCOMPARE(UserFiles::QueueFile(), home.Path(QStringLiteral(".local/share/vidmora/ConvQueue.json")));
    QCOMPARE(UserFiles::DefaultSaveDir(), home.Path(QStringLiteral("Videos/Vidmora")));
    if (kind.startsWith(QLatin1String("usr")) || kind == QLatin1String("read-only mount")) return;
    const QStringList before = QDir(app.Path()).entryList(QDir::AllEntries | QDir::Hidden);
    const QByteArray shipped = ReadBytes(app.File(QStringLiteral("LibParmt.dat")));
    UserFiles::Prepare();
    TAppSettings().StoreSaveDir(QStringLiteral("/srv/out"));
    {
      TDataMod data;
    }
    QCOMPARE(QDir(app.Path()).entryList(QDir::AllEntries | QDir::Hidden), before);
    QCOMPARE(ReadBytes(app.File(QStringLiteral("LibParmt.dat"))), shipped);
    QCOMPARE(ReadBytes(app.File(QStringLiteral("libcfg.ini"))),
             QByteArray("[SoftHttp]\nHttpUrl=https://mirror.example/\n"));
    QVERIFY(ReadBytes(UserFiles::SettingsFile()).contains("Dir=/srv/out"));
    QVERIFY(QFileInfo(UserFiles::DefaultSaveDir()).isDir());
  }

  void readOnlyFolderSendsTheFilesHome() {
    OtherHome home;
    TempAppDir app;
    ReadOnlyForOthers(app);
    const QByteArray shipped = ReadBytes(app.File(QStringLiteral("LibParmt.dat")));
    QVERIFY(shipped.size() > 0);
    OtherUser other;

    QVERIFY(!UserFiles::Portable());
    QCOMPARE(UserFiles::SettingsFile(), home.Path(QStringLiteral(".config/vidmora/libcfg.ini")));
    QCOMPARE(UserFiles::DatabaseFile(), home.Path(QStringLiteral(".local/share/vidmora/LibParmt.dat")));
    QCOMPARE(UserFiles::DefaultSaveDir(), home.Path(QStringLiteral("Videos/Vidmora")));

    UserFiles::Prepare();
    QCOMPARE(ReadBytes(UserFiles::DatabaseFile()), shipped);
    QCOMPARE(ReadBytes(UserFiles::SettingsFile()), QByteArray());
    QVERIFY(QFileInfo(UserFiles::DefaultSaveDir()).isDir());

    // The program's settings and database go there too.
    QCOMPARE(TAppSettings().SaveDir(), UserFiles::DefaultSaveDir());
    TAppSettings().StoreSaveDir(QStringLiteral("/srv/转换"));
    QCOMPARE(TAppSettings().SaveDir(), QStringLiteral("/srv/转换"));
    QVERIFY(ReadBytes(UserFiles::SettingsFile()).contains("Dir=/srv/转换"));
    QVERIFY(!QFile::exists(app.File(QStringLiteral("libcfg.ini"))));
    {
      TDataMod data;
      QCOMPARE(data.DataBase.Database(), UserFiles::DatabaseFile());
    }

    // The user's database is never replaced, an empty one is.
    WriteBytes(UserFiles::DatabaseFile(), "the user's own");
    UserFiles::Prepare();
    QCOMPARE(ReadBytes(UserFiles::DatabaseFile()), QByteArray("the user's own"));
    WriteBytes(UserFiles::DatabaseFile(), QByteArray());
    UserFiles::Prepare();
    QCOMPARE(ReadBytes(UserFiles::DatabaseFile()), shipped);
    QVERIFY(ReadBytes(UserFiles::SettingsFile()).contains("Dir=/srv/转换"));
  }

  // Only its owner's leave shares a shipped settings file with this user; the
  // administrator's power to write any file does not.
  void onlyItsOwnerSharesAShippedSettingsFile_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("shared");
    QTest::newRow("writable for everyone") << 0666 << true;
    QTest::newRow("writable for its owner's group") << 0664 << false;
    QTest::newRow("writable for its owner only") << 0644 << false;
  }
  void onlyItsOwnerSharesAShippedSettingsFile() {
    QFETCH(int, mode);
    QFETCH(bool, shared);
    if (::geteuid() != 0) QSKIP("giving a file away needs root");
    OtherHome home;
    TempAppDir app;
    WriteBytes(app.File(QString::fromLatin1(UserFiles::kMarkerFile)), "");
    const QString shipped = app.File(QStringLiteral("libcfg.ini"));
    WriteBytes(shipped, "[SoftHttp]\nHttpUrl=https://mirror.example/\n");
    QVERIFY(::chown(QFile::encodeName(shipped).constData(), kOtherId, kOtherId) == 0);
    QVERIFY(::chmod(QFile::encodeName(shipped).constData(), mode_t(mode)) == 0);
    QCOMPARE(UserFiles::SettingsFile(),
             shared ? shipped : home.Path(QStringLiteral(".config/vidmora/libcfg.ini")));
  }

  void xdgFoldersAreFollowed() {
    OtherHome home;
    TempAppDir app;
    ReadOnlyForOthers(app);
    WriteBytes(app.File(QStringLiteral("libcfg.ini")), "[SoftHttp]\nHttpUrl=https://mirror.example/\n");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.Path(QStringLiteral("cfg"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.Path(QStringLiteral("data"))));
    {
      OtherUser other;
      QVERIFY(QDir().mkpath(home.Path(QStringLiteral("cfg"))));
      WriteBytes(home.Path(QStringLiteral("cfg/user-dirs.dirs")), "XDG_VIDEOS_DIR=\"$HOME/影片\"\n");

      UserFiles::Prepare();
      QCOMPARE(UserFiles::SettingsFile(), home.Path(QStringLiteral("cfg/vidmora/libcfg.ini")));
      QCOMPARE(UserFiles::DatabaseFile(), home.Path(QStringLiteral("data/vidmora/LibParmt.dat")));
      QCOMPARE(UserFiles::DefaultSaveDir(), home.Path(QStringLiteral("影片/Vidmora")));
      QVERIFY(QFileInfo(UserFiles::DefaultSaveDir()).isDir());
      // A settings file shipped beside the program is where the user's starts.
      QCOMPARE(TAppSettings().HomePage(), QStringLiteral("https://mirror.example/"));
    }

    // A shipped settings file that its users may write stays where it is.
    QVERIFY(::chmod(QFile::encodeName(app.File(QStringLiteral("libcfg.ini"))).constData(), 0666) == 0);
    OtherUser other;
    QCOMPARE(UserFiles::SettingsFile(), app.File(QStringLiteral("libcfg.ini")));
    QCOMPARE(UserFiles::DatabaseFile(), home.Path(QStringLiteral("data/vidmora/LibParmt.dat")));
  }
};

QTEST_GUILESS_MAIN(TestUserFiles)
#include "tst_user_files.moc"
