// File names held with their own bytes: every byte string comes back as it was, UTF-8 names
// are plain text, others are shown as GB18030, and a folder lists them all.
#include "platform/FileNames.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class TestFileNames : public QObject {
  Q_OBJECT
 private slots:
  void heldAndShown_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("foreign");
    QTest::newRow("ascii") << QByteArray("/v/clip.mp4") << QStringLiteral("/v/clip.mp4") << false;
    QTest::newRow("UTF-8 Chinese and a four-byte character")
        << QByteArray("/视频/片段 \xF0\x9F\x8E\xAC.mp4") << QStringLiteral("/视频/片段 🎬.mp4") << false;
    QTest::newRow("a GBK name in a UTF-8 folder")
        << QByteArray("/视频/") + QByteArray::fromHex("d6d0cec4") + ".mp4" << QStringLiteral("/视频/中文.mp4")
        << true;
    QTest::newRow("GBK whose second byte is ASCII (丂 is 81 40)")
        << QByteArray::fromHex("8140") + ".ts" << QStringLiteral("丂.ts") << true;
    QTest::newRow("an overlong slash and a UTF-8 surrogate are no text")
        << QByteArray(
               "a\xC0\xAF"
               "b\xED\xA0\x80.mkv")
        << QStringLiteral("a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD.mkv") << true;
    QTest::newRow("a lone lead byte at the end") << QByteArray("x\xE4") << QStringLiteral("x\uFFFD") << true;
  }

  void heldAndShown() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(bool, foreign);
    const QString held = Platform::PathFromNative(bytes);
    QCOMPARE(Platform::NativePath(held), bytes);
    QCOMPARE(Platform::HasForeignBytes(held), foreign);
    QCOMPARE(Platform::ShownPath(held), shown);
  }

  // Every byte string of up to three bytes round-trips (all of the length two, a sample of three).
  void everyByteStringRoundTrips() {
    for (int a = 1; a < 256; ++a)
      for (int b = 1; b < 256; ++b) {
        const char raw[] = {char(a), char(b), char((a * 7 + b) | 0x80)};
        const QByteArray two(raw, 2), three(raw, 3);
        QCOMPARE(Platform::NativePath(Platform::PathFromNative(two)), two);
        QCOMPARE(Platform::NativePath(Platform::PathFromNative(three)), three);
      }
  }

  void folderListsEveryName() {
    QTemporaryDir dir;
    const QList<QByteArray> names = {"b.mp4", QByteArray::fromHex("d6d0cec4") + ".mp4", "a\nb.mkv",
                                     ".hidden.mp4"};
    for (const QByteArray& name : names) {
      const int fd =
          ::open((QFile::encodeName(dir.path()) + '/' + name).constData(), O_WRONLY | O_CREAT, 0644);
      QVERIFY(fd >= 0);
      ::close(fd);
    }
    QVERIFY(QDir(dir.path()).mkdir("sub.mp4"));
    QStringList shown;
    for (const QString& name : Platform::FilesInFolder(dir.path())) {
      QCOMPARE(Platform::PathKind(dir.path() + '/' + name), Platform::TPathKind::kFile);
      shown << Platform::ShownPath(name);
    }
    QCOMPARE(shown, (QStringList{"a b.mkv", "b.mp4", "中文.mp4"}));
    QCOMPARE(Platform::PathKind(dir.filePath("sub.mp4")), Platform::TPathKind::kFolder);
    QCOMPARE(Platform::PathKind(dir.filePath("gone")), Platform::TPathKind::kMissing);
    // Qt cannot remove what it cannot name.
    for (const QByteArray& name : names) ::unlink((QFile::encodeName(dir.path()) + '/' + name).constData());
  }
};

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_file_names.moc"
