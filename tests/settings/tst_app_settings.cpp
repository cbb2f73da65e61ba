// The settings file without the window: the output folder it gives, what a
// choice writes, the homepage address that may be opened, and the check of an
// output folder before a run.
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/AppSettings.h"
#include "tests/support/TestCore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

class TestAppSettings : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString File() const { return dir_.filePath(QStringLiteral("libcfg.ini")); }

 private slots:
  void init() {
    QFile::remove(File());
    Platform::SetExeDir(dir_.path() + QLatin1Char('/'));
  }
  void cleanupTestCase() { Platform::SetExeDir(QString()); }

  void saveDirFollowsTheFlag_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected");  // "<default>" = SaveFile beside the executable
    QTest::newRow("no file") << QByteArray() << QStringLiteral("<default>");
    QTest::newRow("chosen") << QByteArray("[SaveDir]\nDir=/srv/out\n[ChgDirFlag]\nFlag=Yes\n")
                            << QStringLiteral("/srv/out");
    QTest::newRow("flag in other letter case")
        << QByteArray("[SaveDir]\nDir=/srv/out\n[ChgDirFlag]\nFlag=yes\n") << QStringLiteral("<default>");
    QTest::newRow("flag No") << QByteArray("[SaveDir]\nDir=/srv/out\n[ChgDirFlag]\nFlag=No\n")
                             << QStringLiteral("<default>");
    QTest::newRow("dir without flag")
        << QByteArray("[SaveDir]\nDir=/srv/out\n") << QStringLiteral("<default>");
    QTest::newRow("flag without dir")
        << QByteArray("[ChgDirFlag]\nFlag=Yes\n") << QStringLiteral("<default>");
    QTest::newRow("flag with blank dir")
        << QByteArray("[SaveDir]\nDir=\"  \"\n[ChgDirFlag]\nFlag=Yes\n") << QStringLiteral("<default>");
    QTest::newRow("names in other case, blanks around")
        << QByteArray("[savedir]\r\n dir = /srv/视频 \r\n[CHGDIRFLAG]\r\nflag= Yes\r\n")
        << QStringLiteral("/srv/视频");
  }
  void saveDirFollowsTheFlag() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);
    if (!ini.isEmpty()) WriteBytes(File(), ini);
    if (expected == QLatin1String("<default>")) expected = dir_.filePath(QStringLiteral("SaveFile"));
    QCOMPARE(TAppSettings().SaveDir(), expected);
    QCOMPARE(TAppSettings(File()).SaveDir(), expected);
    // Reading never writes.
    QCOMPARE(QFile::exists(File()), !ini.isEmpty());
    if (!ini.isEmpty()) QCOMPARE(ReadBytes(File()), ini);
  }

  void storeWritesFolderThenFlag() {
    const TAppSettings settings(File());
    settings.StoreSaveDir(QStringLiteral("/srv/视频 out"));
    QCOMPARE(ReadBytes(File()), QByteArray("[SaveDir]\nDir=/srv/视频 out\n[ChgDirFlag]\nFlag=Yes\n"));
    QCOMPARE(settings.SaveDir(), QStringLiteral("/srv/视频 out"));
    // A folder that cannot be stored on one line: the error names the file
    // and the flag, which could be written, is left alone; a missing file is
    // not created.
    QFile::remove(File());
    QVERIFY_THROWS_EXCEPTION(TAppError, settings.StoreSaveDir(QStringLiteral("/srv/two\nlines")));
    QVERIFY(!QFile::exists(File()));
    const QByteArray ini = "[SaveDir]\nDir=/old\n[ChgDirFlag]\nFlag=No\n";
    WriteBytes(File(), ini);
    try {
      settings.StoreSaveDir(QStringLiteral("/srv/two\nlines"));
      QFAIL("no error raised");
    } catch (const TAppError& error) {
      QCOMPARE(error.Message, QStringLiteral("Unable to write to ") + File());
    }
    QCOMPARE(ReadBytes(File()), ini);
  }

  void homePageIsAWebAddress_data() {
    QTest::addColumn<QByteArray>("value");  // empty: no key
    QTest::addColumn<QString>("expected");  // empty: the built-in address
    QTest::newRow("no key") << QByteArray() << QString();
    QTest::newRow("https") << QByteArray("https://mirror.example/vidmora")
                           << "https://mirror.example/vidmora";
    QTest::newRow("http, upper-case scheme")
        << QByteArray("HTTP://mirror.example/") << "HTTP://mirror.example/";
    QTest::newRow("local file") << QByteArray("file:///etc/passwd") << QString();
    QTest::newRow("plain path") << QByteArray("/usr/bin/xterm") << QString();
    QTest::newRow("other scheme") << QByteArray("javascript:alert(1)") << QString();
    QTest::newRow("no host") << QByteArray("http://") << QString();
    QTest::newRow("blank inside") << QByteArray("https://mirror.example/a b") << QString();
  }
  void homePageIsAWebAddress() {
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    if (!value.isEmpty()) WriteBytes(File(), "[SoftHttp]\nHttpUrl=" + value + "\n");
    QCOMPARE(TAppSettings(File()).HomePage(),
             expected.isEmpty() ? TAppSettings::DefaultHomePage() : expected);
  }

  void saveDirCheck() {
    QCOMPARE(CheckSaveDir(dir_.path()), QString());
    // The check leaves nothing behind.
    QCOMPARE(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    const QString missing = dir_.filePath(QStringLiteral("无此目录"));
    QCOMPARE(CheckSaveDir(missing), QStringLiteral("输出目录不存在: ") + missing);
    QCOMPARE(CheckSaveDir(QString()), QStringLiteral("输出目录不存在: "));
    WriteBytes(File(), "x");
    QCOMPARE(CheckSaveDir(File()), QStringLiteral("输出目录不存在: ") + File());
    const QString closed = dir_.filePath(QStringLiteral("closed"));
    QVERIFY(QDir().mkpath(closed));
    QFile::setPermissions(closed, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (geteuid() != 0) QCOMPARE(CheckSaveDir(closed), QStringLiteral("输出目录无法写入文件: ") + closed);
    QFile::setPermissions(closed, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // A read-only file system refuses root as well.
    if (QFileInfo(QStringLiteral("/proc")).isDir())
      QCOMPARE(CheckSaveDir(QStringLiteral("/proc")), QStringLiteral("输出目录无法写入文件: /proc"));
  }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_app_settings.moc"
