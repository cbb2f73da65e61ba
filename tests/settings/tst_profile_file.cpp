// The profile-file functions: how values are found and how a write changes
// exactly one line of the file.
#include "platform/ProfileFile.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using Platform::GetPrivateProfileString;
using Platform::WritePrivateProfileString;

namespace {

using TestSupport::OtherUser;
using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

// A small tmpfs mounted for one test and detached at its end (root only).
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const QString& path) : path_(QFile::encodeName(path)) {
    QDir().mkpath(path);
    mounted_ = ::mount("tmpfs", path_.constData(), "tmpfs", 0, "size=64k,mode=0755") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(path_.constData(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  QByteArray path_;
  bool mounted_ = false;
};

// Fills the file system that holds folder until a write fails for want of space.
bool FillUp(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder + QStringLiteral("/filler")).constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const QByteArray block(4096, 'f');
  ssize_t done = 0;
  while ((done = ::write(fd, block.constData(), size_t(block.size()))) > 0) {
  }
  const bool full = done < 0 && errno == ENOSPC;
  ::close(fd);
  return full;
}

}  // namespace

class TestProfileFile : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  QString File(const QString& name) const { return tmp_.path() + QLatin1Char('/') + name; }

 private slots:
  void readFindsValuesTheWayWindowsDoes() {
    const QString ini = File(QStringLiteral("read.ini"));
    WriteBytes(ini,
               "Top=outside any section\n"
               "; Dir=commented out\n"
               "[Other]\n"
               "Dir=other folder\n"
               "[  SaveDir ]\n"
               "; a comment\n"
               "  dIR  =   /home/user/视频 输出   \t\n"
               "Quoted=\"  padded  \"\n"
               "Single='x'\n"
               "Half=\"open\n"
               "Mixed=\"x'\n"
               "Empty=\n"
               "Bare\n"
               "[savedir]\n"
               "Dir=second section of the same name\n"
               "Late=only in the second\n");
    // Section and key names ignore case and the blanks around them.
    QCOMPARE(GetPrivateProfileString("SAVEDIR", "dir", "def", ini), QStringLiteral("/home/user/视频 输出"));
    QCOMPARE(GetPrivateProfileString(" SaveDir", "Dir ", "def", ini), QStringLiteral("/home/user/视频 输出"));
    QCOMPARE(GetPrivateProfileString("Other", "Dir", "def", ini), QStringLiteral("other folder"));
    // One pair of matching quotes is removed, the text inside is kept as it is.
    QCOMPARE(GetPrivateProfileString("SaveDir", "Quoted", "def", ini), QStringLiteral("  padded  "));
    QCOMPARE(GetPrivateProfileString("SaveDir", "Single", "def", ini), QStringLiteral("x"));
    QCOMPARE(GetPrivateProfileString("SaveDir", "Half", "def", ini), QStringLiteral("\"open"));
    QCOMPARE(GetPrivateProfileString("SaveDir", "Mixed", "def", ini), QStringLiteral("\"x'"));
    // A key that is present with no value is empty, not the default.
    QCOMPARE(GetPrivateProfileString("SaveDir", "Empty", "def", ini), QString());
    QCOMPARE(GetPrivateProfileString("SaveDir", "Bare", "def", ini), QString());
    // Only the first section of a name counts; comments and keys outside any
    // section are never found.
    QCOMPARE(GetPrivateProfileString("SaveDir", "Late", "def", ini), QStringLiteral("def"));
    QCOMPARE(GetPrivateProfileString("SaveDir", "; a comment", "def", ini), QStringLiteral("def"));
    QCOMPARE(GetPrivateProfileString("", "Top", "def", ini), QStringLiteral("def"));
    QCOMPARE(GetPrivateProfileString("Missing", "Dir", "def", ini), QStringLiteral("def"));
    // The default loses its trailing blanks, as a value would.
    QCOMPARE(GetPrivateProfileString("SaveDir", "Nope", " No  \t", ini), QStringLiteral(" No"));
  }

  void readWithoutAFileGivesTheDefault() {
    QCOMPARE(GetPrivateProfileString("S", "K", "fallback", File("absent.ini")), QStringLiteral("fallback"));
    QVERIFY(!QFile::exists(File("absent.ini")));
    QDir().mkpath(File("folder.ini"));
    QCOMPARE(GetPrivateProfileString("S", "K", "fallback", File("folder.ini")), QStringLiteral("fallback"));
    QCOMPARE(GetPrivateProfileString("S", "K", QString(), File("absent.ini")), QString());
  }

  void readHandlesBomAndCrlf() {
    const QString ini = File(QStringLiteral("bom.ini"));
    WriteBytes(ini, "\xEF\xBB\xBF[SoftHttp]\r\nHttpUrl=https://example.org/\r\n");
    QCOMPARE(GetPrivateProfileString("SoftHttp", "HttpUrl", "def", ini),
             QStringLiteral("https://example.org/"));
  }

  void readReturnsAtMost2047Characters() {
    const QString ini = File(QStringLiteral("long.ini"));
    const QByteArray longValue(3000, 'a');
    WriteBytes(ini, "[S]\nK=" + longValue + "\nExact=" + QByteArray(2047, 'b') + "\n");
    QCOMPARE(GetPrivateProfileString("S", "K", "", ini), QString(2047, QLatin1Char('a')));
    QCOMPARE(GetPrivateProfileString("S", "Exact", "", ini), QString(2047, QLatin1Char('b')));
    QCOMPARE(GetPrivateProfileString("S", "None", QString(3000, QLatin1Char('d')), ini).size(), 2047);
  }

  void writeCreatesFileSectionAndKey() {
    const QString ini = File(QStringLiteral("new.ini"));
    QVERIFY(WritePrivateProfileString("SaveDir", "Dir", "/data/out", ini));
    QCOMPARE(ReadBytes(ini), QByteArray("[SaveDir]\nDir=/data/out\n"));
    QVERIFY(WritePrivateProfileString("ChgDirFlag", "Flag", "Yes", ini));
    QVERIFY(WritePrivateProfileString("savedir", "Extra", "1", ini));
    QCOMPARE(ReadBytes(ini), QByteArray("[SaveDir]\nDir=/data/out\nExtra=1\n[ChgDirFlag]\nFlag=Yes\n"));
    QCOMPARE(GetPrivateProfileString("ChgDirFlag", "Flag", "No", ini), QStringLiteral("Yes"));
  }

  void writeKeepsEveryOtherLineOfACrlfFile() {
    const QString ini = File(QStringLiteral("crlf.ini"));
    const QByteArray before =
        "; settings of the converter\r\n"
        "\r\n"
        "[Other]\r\n"
        "Dir=keep me\r\n"
        "\r\n"
        "[SaveDir]\r\n"
        "  ; where the files go\r\n"
        "DIR = /old/place\r\n"
        "Tail=x\r\n"
        "\r\n"
        "[SoftHttp]\r\n"
        "HttpUrl=https://example.org/";  // no line break at the end
    WriteBytes(ini, before);
    QVERIFY(WritePrivateProfileString("savedir", "dir", "/new/地方", ini));
    QByteArray expected = before;
    expected.replace("DIR = /old/place", "DIR = /new/地方");
    QCOMPARE(ReadBytes(ini), expected);

    // A key added to the last section, which has no final line break, and a
    // new key inside a section that is followed by a blank line.
    QVERIFY(WritePrivateProfileString("SoftHttp", "Mirror", "m", ini));
    QVERIFY(WritePrivateProfileString("SaveDir", "Added", "a", ini));
    expected.replace("Tail=x\r\n", "Tail=x\r\nAdded=a\r\n");
    expected.append("\r\nMirror=m");
    QCOMPARE(ReadBytes(ini), expected);

    // A new section takes the file's own line breaks.
    QVERIFY(WritePrivateProfileString("ChgDirFlag", "Flag", "Yes", ini));
    expected.append("\r\n[ChgDirFlag]\r\nFlag=Yes\r\n");
    QCOMPARE(ReadBytes(ini), expected);
  }

  void writeLeavesBytesThatAreNotUtf8Alone() {
    const QString ini = File(QStringLiteral("legacy.ini"));
    // A comment in a legacy 8-bit code page.
    const QByteArray before = "[SaveDir]\n;\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7\nDir=a\n";
    WriteBytes(ini, before);
    QVERIFY(WritePrivateProfileString("SaveDir", "Dir", "b", ini));
    QByteArray expected = before;
    expected.replace("Dir=a", "Dir=b");
    QCOMPARE(ReadBytes(ini), expected);
  }

  void writeChangesTheKeyOnlyInItsSection() {
    const QString ini = File(QStringLiteral("sections.ini"));
    WriteBytes(ini, "[A]\nDir=1\n[SaveDir]\nSaveDirX=2\n[B]\nDir=3\n");
    QVERIFY(WritePrivateProfileString("SaveDir", "Dir", "new", ini));
    QCOMPARE(ReadBytes(ini), QByteArray("[A]\nDir=1\n[SaveDir]\nSaveDirX=2\nDir=new\n[B]\nDir=3\n"));
    // Empty section: the key goes right under its header.
    WriteBytes(ini, "[SaveDir]\n\n[B]\nDir=3\n");
    QVERIFY(WritePrivateProfileString("SaveDir", "Dir", "v", ini));
    QCOMPARE(ReadBytes(ini), QByteArray("[SaveDir]\nDir=v\n\n[B]\nDir=3\n"));
  }

  void writtenValuesReadBackUnchanged_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << QStringLiteral("/srv/video out");
    QTest::newRow("chinese") << QStringLiteral("/home/用户/转换结果");
    QTest::newRow("empty") << QString();
    QTest::newRow("leading and trailing blanks") << QStringLiteral("  /tmp/a b  ");
    QTest::newRow("ideographic space at the end") << QStringLiteral("/tmp/文件夹\u3000");
    QTest::newRow("double quoted") << QStringLiteral("\"quoted\"");
    QTest::newRow("single quoted") << QStringLiteral("'q'");
    QTest::newRow("one quote") << QStringLiteral("\"");
    QTest::newRow("equals and semicolon") << QStringLiteral("a=b;c");
  }
  void writtenValuesReadBackUnchanged() {
    QFETCH(QString, value);
    const QString ini = File(QStringLiteral("roundtrip.ini"));
    QFile::remove(ini);
    QVERIFY(WritePrivateProfileString("S", "K", value, ini));
    QCOMPARE(GetPrivateProfileString("S", "K", "default", ini), value);
    QVERIFY(WritePrivateProfileString("S", "K", value + QStringLiteral("x"), ini));
    QCOMPARE(GetPrivateProfileString("S", "K", "default", ini), value + QStringLiteral("x"));
  }

  void writeRefusesWhatOneLineCannotHold() {
    const QString ini = File(QStringLiteral("refuse.ini"));
    const QByteArray before = "[SaveDir]\nDir=/a\n";
    WriteBytes(ini, before);
    // A folder name may contain a line break; written as is it would add
    // lines (even sections) of its own to the file.
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", "/x\n[ChgDirFlag]\nFlag=Yes", ini));
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", "/x\r", ini));
    QVERIFY(!WritePrivateProfileString("Save]Dir", "Dir", "v", ini));
    QVERIFY(!WritePrivateProfileString("SaveDir", "D=ir", "v", ini));
    QVERIFY(!WritePrivateProfileString("SaveDir", ";Dir", "v", ini));
    QVERIFY(!WritePrivateProfileString("", "Dir", "v", ini));
    QVERIFY(!WritePrivateProfileString("SaveDir", " ", "v", ini));
    QCOMPARE(ReadBytes(ini), before);
  }

  void writeFailsWhereNoFileCanBe() {
    // The path is a folder.
    QDir().mkpath(File("isdir.ini"));
    QVERIFY(!WritePrivateProfileString("S", "K", "v", File("isdir.ini")));
    // The folder is missing, or its parent is a file (root cannot write there either).
    QVERIFY(!WritePrivateProfileString("S", "K", "v", File("missing/x.ini")));
    WriteBytes(File("plainfile"), "x");
    QVERIFY(!WritePrivateProfileString("S", "K", "v", File("plainfile/x.ini")));
    QCOMPARE(ReadBytes(File("plainfile")), QByteArray("x"));
  }

  // A file its owner made read-only is never replaced (not by the
  // administrator either); any write permission lets the write go ahead.
  void readOnlyFileIsLeftAlone_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("written");
    QTest::newRow("0444") << 0444 << false;
    QTest::newRow("0400") << 0400 << false;
    QTest::newRow("0000") << 0000 << false;
    QTest::newRow("0644") << 0644 << true;
    QTest::newRow("0600") << 0600 << true;
  }
  void readOnlyFileIsLeftAlone() {
    QFETCH(int, mode);
    QFETCH(bool, written);
    const QString ini = File(QStringLiteral("ro.ini"));
    const QByteArray before = "[SaveDir]\nDir=/old\n";
    QFile::remove(ini);
    WriteBytes(ini, before);
    QVERIFY(::chmod(QFile::encodeName(ini).constData(), mode_t(mode)) == 0);
    QCOMPARE(WritePrivateProfileString("SaveDir", "Dir", "/new", ini), written);
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(ini).constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 07777), mode);
    ::chmod(QFile::encodeName(ini).constData(), 0600);
    QCOMPARE(ReadBytes(ini), written ? QByteArray("[SaveDir]\nDir=/new\n") : before);
  }

  void writeKeepsPermissionsAndLinks() {
    const QString ini = File(QStringLiteral("perm.ini"));
    WriteBytes(ini, "[S]\nK=1\n");
    QVERIFY(::chmod(QFile::encodeName(ini).constData(), 0640) == 0);
    QVERIFY(WritePrivateProfileString("S", "K", "2", ini));
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(ini).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));

    // No temporary file is left behind in the folder.
    const QStringList names = QDir(tmp_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) QVERIFY2(!name.contains(QLatin1String("perm.ini.")), qPrintable(name));
  }

  // A link is followed only to a regular file of the user's own outside the
  // system's folders: that file is read and gets the new value, and the link
  // stays a link. Any other link reads as no file and nothing is written
  // through it. (Following every link let a portable copy's libcfg.ini,
  // linked to /etc/passwd and run as root, rewrite that file.)
  void linksLeadOnlyToTheUsersOwnFiles_data() {
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("state");
    QTest::newRow("the user's own file") << "own" << int(Platform::ProfileFileState::Usable);
    QTest::newRow("a file in a system folder") << "system" << int(Platform::ProfileFileState::LinkIntoSystem);
    QTest::newRow("another user's file, writable for all")
        << "other" << int(Platform::ProfileFileState::OtherOwner);
    QTest::newRow("nothing") << "nothing" << int(Platform::ProfileFileState::BrokenLink);
    QTest::newRow("a folder") << "folder" << int(Platform::ProfileFileState::NotRegular);
  }
  void linksLeadOnlyToTheUsersOwnFiles() {
    QFETCH(QString, to);
    QFETCH(int, state);
    if (to == QLatin1String("other") && ::geteuid() != 0) QSKIP("giving a file to another user needs root");
    QTemporaryDir where;
    const QString system = where.filePath(QStringLiteral("etc"));
    const QString home = where.filePath(QStringLiteral("home"));
    QDir().mkpath(system);
    QDir().mkpath(home);
    Platform::SetSystemFoldersForTests({system});
    const QString target = (to == QLatin1String("system") ? system : home) + QStringLiteral("/target.ini");
    const QByteArray before = "[S]\nK=1\n";
    if (to == QLatin1String("folder")) {
      QDir().mkpath(target);
    } else if (to != QLatin1String("nothing")) {
      WriteBytes(target, before);
    }
    if (to == QLatin1String("other")) {
      QVERIFY(::chown(QFile::encodeName(target).constData(), OtherUser::kId, OtherUser::kId) == 0);
      QVERIFY(::chmod(QFile::encodeName(target).constData(), 0666) == 0);
    }
    const QString link = File(QStringLiteral("link.ini"));
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
    const bool own = to == QLatin1String("own");
    const Platform::ProfileFileCheck check = Platform::CheckProfileFile(link);
    QCOMPARE(int(check.state), state);
    QVERIFY(check.link);
    QCOMPARE(GetPrivateProfileString("S", "K", "def", link),
             own ? QStringLiteral("1") : QStringLiteral("def"));
    QCOMPARE(WritePrivateProfileString("S", "K", "3", link), own);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    if (QFileInfo(target).isFile()) QCOMPARE(ReadBytes(target), own ? QByteArray("[S]\nK=3\n") : before);
    // Nothing else appeared where the link leads.
    QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             to == QLatin1String("nothing") ? QStringList() : QStringList{QStringLiteral("target.ini")});
    Platform::SetSystemFoldersForTests({});
    QFile::remove(link);
  }

  // Temporaries are made only in a folder of the user's: the user's own file
  // in a folder that everyone may write (where another user could swap the
  // temporary) is written in place, and nothing is created beside it.
  void noTemporaryInAFolderOfAnotherUser() {
    if (::geteuid() != 0) QSKIP("giving a folder to another user needs root");
    QTemporaryDir shared;
    QVERIFY(::chown(QFile::encodeName(shared.path()).constData(), OtherUser::kId, OtherUser::kId) == 0);
    QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
    const QString target = shared.filePath(QStringLiteral("mine.ini"));
    WriteBytes(target, "[S]\nK=1\n");
    const QString link = File(QStringLiteral("to-shared.ini"));
    QVERIFY(QFile::link(target, link));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(shared.path()).constData(),
                                IN_CREATE | IN_MOVED_TO) >= 0);
    QVERIFY(WritePrivateProfileString("S", "K", "2", link));
    char events[4096];
    QCOMPARE(::read(watch, events, sizeof events), ssize_t(-1));  // nothing was created there
    ::close(watch);
    QCOMPARE(ReadBytes(target), QByteArray("[S]\nK=2\n"));
    // A new file is not made in such a folder either.
    QVERIFY(!WritePrivateProfileString("S", "K", "2", shared.filePath(QStringLiteral("new.ini"))));
    QVERIFY(!QFile::exists(shared.filePath(QStringLiteral("new.ini"))));
  }

  // What counts as damaged: text that is not a profile file's. A file
  // written in another code page, hand-written comments and keys without a
  // value are not.
  void damagedFilesAreTold_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("settings") << QByteArray("[SaveDir]\r\nDir=/srv\r\n") << false;
    QTest::newRow("GBK bytes, '#' comments, bare key")
        << QByteArray("# mine\n[SaveDir]\nDir=D:\\\xca\xd3\xc6\xb5\nBare\n") << false;
    QTest::newRow("key before any section") << QByteArray("Top=1\n[S]\n") << false;
    QTest::newRow("cut in a section line") << QByteArray("[SaveDir]\nDir=/srv\n[ChgDir") << true;
    QTest::newRow("NUL bytes") << QByteArray("[S]\nK=1\n\0\0\0", 11) << true;
    QTest::newRow("other text") << QByteArray("root:x:0:0:root:/root:/bin/bash\n") << true;
    QTest::newRow("escape character") << QByteArray("[S]\nK=\x1b[31m\n") << true;
  }
  void damagedFilesAreTold() {
    QFETCH(QByteArray, data);
    QFETCH(bool, damaged);
    const QString ini = File(QStringLiteral("damaged.ini"));
    WriteBytes(ini, data);
    QCOMPARE(Platform::CheckProfileFile(ini).state,
             damaged ? Platform::ProfileFileState::Damaged : Platform::ProfileFileState::Usable);
    QCOMPARE(ReadBytes(ini), data);
  }

  // Settings files that would block or swamp start-up read as missing and are
  // never written: one far larger than any settings file (also one of nothing
  // but blank lines), and a named pipe in the file's place.
  void hugeFilesAndPipesReadAsMissing() {
    const QString huge = File(QStringLiteral("huge.ini"));
    {
      QFile f(huge);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("[SaveDir]\nDir=/found\n");
      const QByteArray blanks(1024 * 1024, '\n');
      for (int i = 0; i < 50; ++i) QCOMPARE(f.write(blanks), blanks.size());
    }
    const qint64 hugeSize = QFileInfo(huge).size();
    QCOMPARE(GetPrivateProfileString("SaveDir", "Dir", "def", huge), QStringLiteral("def"));
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", "/new", huge));
    QCOMPARE(QFileInfo(huge).size(), hugeSize);

    // Up to the limit the file is read, and a write that would cross it is refused.
    const QString edge = File(QStringLiteral("edge.ini"));
    QByteArray text = "[SaveDir]\nDir=/found\n";
    text.append(QByteArray(Platform::kProfileFileMax - text.size() - 1, ';')).append('\n');
    WriteBytes(edge, text);
    QCOMPARE(GetPrivateProfileString("SaveDir", "Dir", "def", edge), QStringLiteral("/found"));
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", "/longer", edge));
    QVERIFY(WritePrivateProfileString("SaveDir", "Dir", "/f", edge));
    QCOMPARE(GetPrivateProfileString("SaveDir", "Dir", "def", edge), QStringLiteral("/f"));

    const QString pipe = File(QStringLiteral("pipe.ini"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0666), 0);
    QCOMPARE(GetPrivateProfileString("SaveDir", "Dir", "def", pipe), QStringLiteral("def"));
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", "/new", pipe));
    QVERIFY(QFileInfo(pipe).exists() && !QFileInfo(pipe).isFile());
  }

  // A folder longer than a read returns would come back cut: it is refused,
  // and the file keeps what it held.
  void writeRefusesValuesLongerThanAReadReturns() {
    const QString ini = File(QStringLiteral("longdir.ini"));
    const QByteArray before = "[SaveDir]\nDir=/a\n";
    WriteBytes(ini, before);
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", QLatin1Char('/') + QString(2999, QLatin1Char('d')),
                                       ini));
    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", QString(2048, QChar(0x89C6)), ini));
    QCOMPARE(ReadBytes(ini), before);
    const QString longest = QLatin1Char('/') + QString(2046, QChar(0x89C6));
    QVERIFY(WritePrivateProfileString("SaveDir", "Dir", longest, ini));
    QCOMPARE(GetPrivateProfileString("SaveDir", "Dir", "def", ini), longest);
  }

  // On a full disk a write fails and leaves the previous file whole, both when
  // it replaces the file and when the folder takes no new files and it writes
  // in place; a change that needs no more room still succeeds in place.
  void fullDiskKeepsThePreviousFile() {
    if (::geteuid() != 0) QSKIP("mounting a small file system needs root");
    QTemporaryDir outer;
    QVERIFY(QFile::setPermissions(outer.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                    QFileDevice::ExeOther));
    const QString mount = outer.path() + QStringLiteral("/small");
    SmallFileSystem fs(mount);
    if (!fs.mounted()) QSKIP("a tmpfs cannot be mounted here");

    const QString ini = mount + QStringLiteral("/libcfg.ini");
    const QByteArray before = "[SaveDir]\nDir=/old\n;" + QByteArray(3000, 'x') + "\n[ChgDirFlag]\nFlag=Yes\n";
    WriteBytes(ini, before);
    QVERIFY(::chmod(QFile::encodeName(ini).constData(), 0666) == 0);
    QVERIFY(FillUp(mount));
    const QString grown = QLatin1Char('/') + QString(2000, QLatin1Char('n'));

    QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", grown, ini));
    QCOMPARE(ReadBytes(ini), before);
    {
      OtherUser nobody;
      QVERIFY(!WritePrivateProfileString("SaveDir", "Dir", grown, ini));
      QCOMPARE(ReadBytes(ini), before);
      QVERIFY(WritePrivateProfileString("SaveDir", "Dir", "/new", ini));
    }
    QByteArray after = before;
    after.replace("Dir=/old", "Dir=/new");
    QCOMPARE(ReadBytes(ini), after);
    QCOMPARE(QDir(mount).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("filler"), QStringLiteral("libcfg.ini")}));
  }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profile_file.moc"
