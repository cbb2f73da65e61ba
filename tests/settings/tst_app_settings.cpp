// The settings file without the window: the output folder it gives, what a
// choice writes, the homepage address that may be opened, and the check of an
// output folder before a run.
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/AppSettings.h"
#include "tests/support/TestCore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

class TestAppSettings : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString File() const { return dir_.filePath(QStringLiteral("libcfg.ini")); }
  QStringList messages_;  // what the error box was given

 private slots:
  void initTestCase() {
    SetAppErrorHandler([this](const QString& text) { messages_ << text; });
  }
  void init() {
    QFile::remove(File());
    Platform::SetExeDir(dir_.path() + QLatin1Char('/'));
    TAppSettings::ForgetSessionForTests();
    messages_.clear();
  }
  void cleanup() { QVERIFY2(messages_.size() <= 1, qPrintable(messages_.join(u'|'))); }
  void cleanupTestCase() {
    Platform::SetExeDir(QString());
    SetAppErrorHandler(nullptr);
  }

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
    // A folder that cannot be stored on one line is said once and holds for
    // this run; the flag, which could be written, is left alone in the file,
    // and a missing file is not created.
    const QByteArray ini = "[SaveDir]\nDir=/old\n[ChgDirFlag]\nFlag=No\n";
    for (const bool present : {false, true}) {
      TAppSettings::ForgetSessionForTests();
      messages_.clear();
      QFile::remove(File());
      if (present) WriteBytes(File(), ini);
      settings.StoreSaveDir(QStringLiteral("/srv/two\nlines"));
      settings.StoreSaveDir(QStringLiteral("/srv/two\nlines"));
      QCOMPARE(messages_,
               QStringList{QStringLiteral("无法把设置写入 %1。更改只在本次运行中有效。").arg(File())});
      QCOMPARE(settings.SaveDir(), QStringLiteral("/srv/two\nlines"));
      QCOMPARE(ReadBytes(File()), present ? ini : QByteArray("<unreadable>"));
    }
  }

  // A folder saved with a final separator names the folder without it: the
  // output files go to "out/name.mp4", not "out//name.mp4".
  void saveDirLosesItsFinalSeparator_data() {
    QTest::addColumn<QByteArray>("dir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one") << QByteArray("/srv/out/") << QStringLiteral("/srv/out");
    QTest::newRow("several") << QByteArray("/srv/out///") << QStringLiteral("/srv/out");
    QTest::newRow("the root") << QByteArray("/") << QStringLiteral("/");
    QTest::newRow("none") << QByteArray("/srv/out") << QStringLiteral("/srv/out");
  }
  void saveDirLosesItsFinalSeparator() {
    QFETCH(QByteArray, dir);
    QFETCH(QString, expected);
    WriteBytes(File(), "[SaveDir]\nDir=" + dir + "\n[ChgDirFlag]\nFlag=Yes\n");
    QCOMPARE(TAppSettings(File()).SaveDir(), expected);
  }

  // A settings file that cannot be trusted. Each row: what stands at
  // libcfg.ini; what the one message says (part of it; "" = none at start);
  // the output folder the program starts with; whether a change reaches the
  // file. Whatever the case, the program works on (a change holds for the
  // run), nothing outside the settings folder is written, a link stays the
  // link it was, and the next start finds what the row says.
  void badSettingsFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("keptShown");  // the stored folder is shown (else the default)
    QTest::addColumn<bool>("stored");
    QTest::newRow("link to the user's own dotfile") << "own link"
                                                    << "" << true << true;
    QTest::newRow("link to another user's file") << "other's link"
                                                 << "其他用户的文件" << false << false;
    QTest::newRow("link into a system folder") << "system link"
                                               << "系统文件夹" << false << false;
    QTest::newRow("link to nothing") << "broken link"
                                     << "指向的文件不存在" << false << false;
    QTest::newRow("link to a folder") << "folder link"
                                      << "那是文件夹" << false << false;
    QTest::newRow("read-only") << "read-only"
                               << "" << true << false;
    QTest::newRow("immutable") << "immutable"
                               << "" << true << false;
    QTest::newRow("garbage") << "garbage"
                             << "已损坏，已另存为" << false << true;
    QTest::newRow("half, cut in a line") << "half"
                                         << "已损坏，已另存为" << false << true;
    QTest::newRow("half, cut at a line's end") << "half at a line"
                                               << "" << false << true;
    QTest::newRow("empty") << "empty"
                           << "" << false << true;
    QTest::newRow("a folder") << "folder"
                              << "是文件夹" << false << false;
    QTest::newRow("another user's file") << "other's"
                                         << "属于其他用户" << false << false;
    QTest::newRow("shared by another user") << "shared"
                                            << "" << true << true;
    QTest::newRow("larger than a settings file") << "huge"
                                                 << "超过 1 MB" << false << false;
  }
  void badSettingsFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, said);
    QFETCH(bool, keptShown);
    QFETCH(bool, stored);
    const bool root = ::geteuid() == 0;
    if ((kind.startsWith(QLatin1String("other")) || kind == QLatin1String("shared") ||
         kind == QLatin1String("immutable")) &&
        !root)
      QSKIP("giving a file to another user or making it immutable needs root");
    const QByteArray kept = "[SaveDir]\nDir=/srv/kept\n[ChgDirFlag]\nFlag=Yes\n[AddDir]\nDir=/srv/videos\n";
    const QString file = File();
    QTemporaryDir elsewhere;  // where links lead: nothing in it may change
    const QString target = elsewhere.filePath(QStringLiteral("libcfg.ini"));
    const QString system = elsewhere.filePath(QStringLiteral("etc"));
    QDir().mkpath(system);
    Platform::SetSystemFoldersForTests({system});
    auto chown = [](const QString& path, int user) {
      return ::chown(QFile::encodeName(path).constData(), uid_t(user), gid_t(user)) == 0;
    };
    int immutableFd = -1;
    if (kind == QLatin1String("own link")) {
      WriteBytes(target, kept);
    } else if (kind == QLatin1String("other's link")) {
      WriteBytes(target, kept);
      QVERIFY(chown(target, TestSupport::OtherUser::kId));
      QVERIFY(QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::WriteOther));
    } else if (kind == QLatin1String("system link")) {
      WriteBytes(system + QStringLiteral("/passwd"), kept);
    } else if (kind == QLatin1String("folder link")) {
      QDir().mkpath(target);
    } else if (kind == QLatin1String("read-only")) {
      WriteBytes(file, kept);
      QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    } else if (kind == QLatin1String("immutable")) {
      WriteBytes(file, kept);
      immutableFd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
      int flags = 0;
      if (::ioctl(immutableFd, FS_IOC_GETFLAGS, &flags) != 0 ||
          (flags |= FS_IMMUTABLE_FL, ::ioctl(immutableFd, FS_IOC_SETFLAGS, &flags) != 0)) {
        ::close(immutableFd);
        QSKIP("this file system keeps no immutable flag");
      }
    } else if (kind == QLatin1String("garbage")) {
      QByteArray noise;
      for (int i = 0; i < 4096; ++i) noise += char(QRandomGenerator::global()->bounded(256));
      WriteBytes(file, noise);
    } else if (kind == QLatin1String("half")) {
      WriteBytes(file, kept.left(kept.size() / 2));
    } else if (kind == QLatin1String("half at a line")) {
      WriteBytes(file, kept.left(kept.indexOf("[ChgDirFlag]")));
    } else if (kind == QLatin1String("empty")) {
      WriteBytes(file, QByteArray());
    } else if (kind == QLatin1String("folder")) {
      QDir().mkpath(file);
    } else if (kind == QLatin1String("other's") || kind == QLatin1String("shared")) {
      WriteBytes(file, kept);
      QVERIFY(chown(file, TestSupport::OtherUser::kId));
      QVERIFY(QFile::setPermissions(
          file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                    (kind == QLatin1String("shared") ? QFileDevice::WriteOther : QFileDevice::ReadGroup)));
    } else if (kind == QLatin1String("huge")) {
      WriteBytes(file, kept + QByteArray(Platform::kProfileFileMax, '\n'));
    }
    const bool isLink = kind.endsWith(QLatin1String("link"));
    if (isLink) {
      const QString to = kind == QLatin1String("system link") ? system + QStringLiteral("/passwd") : target;
      QVERIFY(QFile::link(to, file));
    }
    auto snapshot = [&] {
      QStringList state;
      QDirIterator it(elsewhere.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
      while (it.hasNext()) {
        const QString path = it.next();
        state << path + QLatin1Char(' ') + QString::fromLatin1(ReadBytes(path).toHex());
      }
      state.sort();
      return state;
    };
    const QStringList before = snapshot();
    const QString linkedTo = QFileInfo(file).symLinkTarget();
    const QByteArray original = isLink ? QByteArray() : ReadBytes(file);

    const QString defaultDir = dir_.filePath(QStringLiteral("SaveFile"));
    {
      const TAppSettings settings(file);
      settings.Examine();
      settings.Examine();
      QCOMPARE(messages_.size(), said.isEmpty() ? 0 : 1);
      if (!said.isEmpty()) {
        QVERIFY2(messages_[0].contains(said) && messages_[0].contains(file), qPrintable(messages_[0]));
      }
      QCOMPARE(settings.SaveDir(), keptShown ? QStringLiteral("/srv/kept") : defaultDir);
      // The program works on: a change holds for the run, said at most once.
      settings.StoreSaveDir(QStringLiteral("/srv/new"));
      settings.StoreLastAddDir(QStringLiteral("/srv/added"));
      QCOMPARE(settings.SaveDir(), QStringLiteral("/srv/new"));
      QCOMPARE(settings.LastAddDir(), QStringLiteral("/srv/added"));
      QCOMPARE(messages_.size(), stored && said.isEmpty() ? 0 : 1);
      if (!stored && said.isEmpty())
        QVERIFY2(messages_[0].contains(QStringLiteral("只读")), qPrintable(messages_[0]));
    }
    if (immutableFd >= 0) {
      int flags = 0;
      ::ioctl(immutableFd, FS_IOC_GETFLAGS, &flags);
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(immutableFd, FS_IOC_SETFLAGS, &flags);
      ::close(immutableFd);
    }
    // Nothing outside was written (but the user's own linked file), and a
    // link stays the same link.
    if (kind == QLatin1String("own link")) {
      QCOMPARE(Platform::GetPrivateProfileString("SaveDir", "Dir", "", target), QStringLiteral("/srv/new"));
    } else {
      QCOMPARE(snapshot(), before);
    }
    QCOMPARE(QFileInfo(file).symLinkTarget(), linkedTo);
    // A file that was not taken keeps its bytes; a damaged one is set aside whole.
    const QStringList aside =
        QDir(dir_.path()).entryList({QStringLiteral("libcfg.ini.broken-*")}, QDir::AllEntries);
    if (said.contains(QStringLiteral("另存为"))) {
      QCOMPARE(aside.size(), 1);
      QCOMPARE(ReadBytes(dir_.filePath(aside[0])), original);
      for (const QString& name : aside) QFile::remove(dir_.filePath(name));
    } else {
      QVERIFY(aside.isEmpty());
      if (!stored && !isLink && QFileInfo(file).isFile()) QCOMPARE(ReadBytes(file), original);
    }
    // The next start.
    TAppSettings::ForgetSessionForTests();
    messages_.clear();
    QCOMPARE(TAppSettings(file).SaveDir(), stored      ? QStringLiteral("/srv/new")
                                           : keptShown ? QStringLiteral("/srv/kept")
                                                       : defaultDir);
    messages_.clear();
    Platform::SetSystemFoldersForTests({});
    QFile::remove(file);
    QDir().rmdir(file);
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
