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
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::OtherUser;
using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

namespace {

QByteArray Kept() { return "[SaveDir]\nDir=/srv/kept\n[ChgDirFlag]\nFlag=Yes\n[AddDir]\nDir=/srv/videos\n"; }

// Every file below folder with its bytes.
QStringList Snapshot(const QString& folder) {
  QStringList state;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    state << path + QLatin1Char(' ') + QString::fromLatin1(ReadBytes(path).toHex());
  }
  state.sort();
  return state;
}

// The immutable flag of a file, taken off again when it goes.
class ImmutableFlag {
 public:
  explicit ImmutableFlag(const QString& file) {
    if (!file.isEmpty()) fd_ = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
  }
  ~ImmutableFlag() {
    Clear();
    if (fd_ >= 0) ::close(fd_);
  }
  bool Set() { return Change(true); }
  void Clear() { Change(false); }

 private:
  bool Change(bool on) {
    int flags = 0;
    if (fd_ < 0 || ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
  }
  int fd_ = -1;
};

}  // namespace

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
  // libcfg.ini (or where the link that stands there leads: a file of the
  // user's elsewhere, one in a system folder, nothing), its mode and owner;
  // what the one message says (part of it; "" = none at start, or at the
  // first change for a file that is read but not written); whether the stored
  // folder is shown; whether a change reaches the file. Whatever the case,
  // the program works on (a change holds for the run), nothing outside the
  // settings folder is written, a link stays the link it was, a damaged file
  // is set aside whole, and the next start finds what the row says.
  void badSettingsFiles_data() {
    QTest::addColumn<QString>("linkTo");   // "", "home", "etc" (a system folder), "nowhere"
    QTest::addColumn<QByteArray>("data");  // "<folder>": a folder stands there
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<bool>("immutable");
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("keptShown");
    QTest::addColumn<bool>("stored");
    const QByteArray kept = Kept();
    QByteArray noise;
    for (int i = 0; i < 4096; ++i) noise += char(QRandomGenerator::global()->bounded(256));
    QTest::newRow("link to the user's own dotfile")
        << "home" << kept << 0644 << false << false << "" << true << true;
    QTest::newRow("link to another user's file")
        << "home" << kept << 0666 << true << false << "其他用户的文件" << false << false;
    QTest::newRow("link into a system folder")
        << "etc" << kept << 0644 << false << false << "系统文件夹" << false << false;
    QTest::newRow("link to nothing") << "nowhere" << kept << 0644 << false << false << "指向的文件不存在"
                                     << false << false;
    QTest::newRow("link to a folder")
        << "home" << QByteArray("<folder>") << 0755 << false << false << "那是文件夹" << false << false;
    QTest::newRow("read-only") << "" << kept << 0440 << false << false << "" << true << false;
    QTest::newRow("immutable") << "" << kept << 0644 << false << true << "" << true << false;
    QTest::newRow("garbage") << "" << noise << 0644 << false << false << "已损坏，已另存为" << false << true;
    QTest::newRow("half, cut in a line")
        << "" << kept.left(kept.size() / 2) << 0644 << false << false << "已损坏，已另存为" << false << true;
    QTest::newRow("half, cut at a line's end: a shorter sound file")
        << "" << kept.left(kept.indexOf("[ChgDirFlag]")) << 0644 << false << false << "" << false << true;
    QTest::newRow("empty") << "" << QByteArray() << 0644 << false << false << "" << false << true;
    QTest::newRow("a folder") << "" << QByteArray("<folder>") << 0755 << false << false << "是文件夹" << false
                              << false;
    QTest::newRow("another user's file")
        << "" << kept << 0644 << true << false << "属于其他用户" << false << false;
    QTest::newRow("shared by another user") << "" << kept << 0666 << true << false << "" << true << true;
    QTest::newRow("larger than a settings file") << "" << kept + QByteArray(Platform::kProfileFileMax, '\n')
                                                 << 0644 << false << false << "超过 1 MB" << false << false;
  }
  void badSettingsFiles() {
    QFETCH(QString, linkTo);
    QFETCH(QByteArray, data);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(bool, immutable);
    QFETCH(QString, said);
    QFETCH(bool, keptShown);
    QFETCH(bool, stored);
    if ((otherOwner || immutable) && ::geteuid() != 0)
      QSKIP("giving a file to another user or making it immutable needs root");
    const QString file = File();
    QTemporaryDir elsewhere;  // where links lead: nothing in it may change
    QDir().mkpath(elsewhere.filePath(QStringLiteral("home")));
    QDir().mkpath(elsewhere.filePath(QStringLiteral("etc")));
    Platform::SetSystemFoldersForTests({elsewhere.filePath(QStringLiteral("etc"))});
    const QString target =
        linkTo.isEmpty() ? file : elsewhere.filePath(linkTo + QStringLiteral("/libcfg.ini"));
    if (data == "<folder>") {
      QDir().mkpath(target);
    } else if (linkTo != QLatin1String("nowhere")) {
      WriteBytes(target, data);
    }
    ::chmod(QFile::encodeName(target).constData(), mode_t(mode));
    if (otherOwner)
      QVERIFY(::chown(QFile::encodeName(target).constData(), OtherUser::kId, OtherUser::kId) == 0);
    ImmutableFlag flag(immutable ? target : QString());
    if (immutable && !flag.Set()) QSKIP("this file system keeps no immutable flag");
    if (!linkTo.isEmpty()) QVERIFY(QFile::link(target, file));
    const QStringList before = Snapshot(elsewhere.path());
    const QString defaultDir = dir_.filePath(QStringLiteral("SaveFile"));
    {
      const TAppSettings settings(file);
      settings.Examine();
      settings.Examine();
      QCOMPARE(messages_.size(), said.isEmpty() ? 0 : 1);
      if (!said.isEmpty())
        QVERIFY2(messages_[0].contains(said) && messages_[0].contains(file), qPrintable(messages_[0]));
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
    flag.Clear();
    // Nothing outside was written but the user's own linked file; a link
    // stays the same link; a file that was not taken keeps its bytes.
    if (stored && linkTo == QLatin1String("home")) {
      QCOMPARE(Platform::GetPrivateProfileString("SaveDir", "Dir", "", target), QStringLiteral("/srv/new"));
    } else {
      QCOMPARE(Snapshot(elsewhere.path()), before);
    }
    if (!linkTo.isEmpty()) QCOMPARE(QFileInfo(file).symLinkTarget(), target);
    if (!stored && linkTo.isEmpty() && data != "<folder>") QCOMPARE(ReadBytes(file), data);
    // A damaged file is set aside whole.
    const QStringList aside = QDir(dir_.path()).entryList({QStringLiteral("libcfg.ini.broken-*")});
    QCOMPARE(aside.size(), said.contains(QStringLiteral("另存为")) ? 1 : 0);
    if (!aside.isEmpty()) QCOMPARE(ReadBytes(dir_.filePath(aside[0])), data);
    for (const QString& name : aside) QFile::remove(dir_.filePath(name));
    // The next start.
    TAppSettings::ForgetSessionForTests();
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
