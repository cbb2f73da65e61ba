// The batch kept on disk, without a window: what the file holds and reads back, which
// files are set aside, how a new start shows the rows it kept, and the writer that
// keeps the window from waiting.
#include "support/TestCore.h"
#include "conversion/QueueFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

TQueueRow Row(const QString& source, TRowResult result) {
  TQueueRow r;
  r.source = source;
  r.result = result;
  r.typeText = QStringLiteral("avi");
  r.sizeText = QStringLiteral("1.00 MB");
  r.durationText = QStringLiteral("00:05:00");
  return r;
}

}  // namespace

Q_DECLARE_METATYPE(TRowResult)

class TestQueueFile : public QObject {
  Q_OBJECT

 private slots:
  // Every state and every field a start needs comes back as it was written.
  void writtenAndReadBack() {
    QVector<TQueueRow> rows;
    const TRowResult states[] = {TRowResult::Waiting,    TRowResult::Converting, TRowResult::Converted,
                                 TRowResult::Failed,     TRowResult::Stopped,    TRowResult::Skipped,
                                 TRowResult::Interrupted};
    for (TRowResult state : states) rows << Row(QStringLiteral("/v/视频 %1.avi").arg(int(state)), state);
    TQueueRow& full = rows[2];
    full.output = QStringLiteral("/out/a (1).mp4");
    full.planned = QStringLiteral("/out/a.mp4");
    full.unfinished = {QStringLiteral("/out/a (未完成).mp4")};
    full.reason = QStringLiteral("原因");
    full.warning = QStringLiteral("警告");
    full.warningDetail = QStringLiteral("no-picture: x");
    full.options = {QStringLiteral("-ipt"), QStringLiteral("/v/a.avi"), QStringLiteral("-s"),
                    QStringLiteral("1280x720")};
    full.sourceBytes = 5000000000LL;
    full.outputBytes = 123456789;
    rows[1].nextUnfinished = QStringLiteral("/out/b (未完成).mp4");
    const QByteArray bytes = QueueFileBytes(rows);
    QVERIFY(bytes.contains("\"version\":1"));
    QVector<TQueueRow> back;
    QString why;
    QVERIFY(ParseQueueFile(bytes, &back, &why));
    QCOMPARE(back.size(), rows.size());
    for (int i = 0; i < rows.size(); ++i) {
      QCOMPARE(back[i].source, rows[i].source);
      QCOMPARE(back[i].result, rows[i].result);
      QCOMPARE(back[i].durationText, rows[i].durationText);
    }
    QCOMPARE(back[2].output, full.output);
    QCOMPARE(back[2].planned, full.planned);
    QCOMPARE(back[2].unfinished, full.unfinished);
    QCOMPARE(back[2].warningDetail, full.warningDetail);
    QCOMPARE(back[2].options, full.options);
    QCOMPARE(back[2].sourceBytes, full.sourceBytes);
    QCOMPARE(back[2].outputBytes, full.outputBytes);
    QCOMPARE(back[1].nextUnfinished, rows[1].nextUnfinished);
  }

  // A file that is no sound queue file of this version is set aside and never stands in
  // the way: the start goes on with an empty list, and the file stays for whoever looks.
  void unreadableFilesSetAside_data() {
    QTest::addColumn<QByteArray>("contents");  // "<folder>" for a folder at its name
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("why");
    QTest::addColumn<int>("rows");
    const QByteArray sound = QueueFileBytes({Row(QStringLiteral("/v/a.avi"), TRowResult::Waiting)});
    QTest::newRow("sound") << sound << int(TQueueFileRead::TState::kRead) << "" << 1;
    QTest::newRow("empty") << QByteArray() << int(TQueueFileRead::TState::kSetAside) << "文件是空的" << 0;
    QTest::newRow("cut off by a power cut")
        << sound.left(sound.size() / 2) << int(TQueueFileRead::TState::kSetAside) << "文件已损坏" << 0;
    QTest::newRow("older version") << QByteArray(R"({"format": "vidmora-queue", "version": 0, "rows": []})")
                                   << int(TQueueFileRead::TState::kSetAside) << "其他版本" << 0;
    QTest::newRow("no version") << QByteArray(R"({"format": "vidmora-queue", "rows": []})")
                                << int(TQueueFileRead::TState::kSetAside) << "其他版本" << 0;
    QTest::newRow("another program's JSON")
        << QByteArray(R"({"rows": []})") << int(TQueueFileRead::TState::kSetAside) << "文件已损坏" << 0;
    QTest::newRow("a row in an unknown state")
        << QByteArray(
               R"({"format": "vidmora-queue", "version": 1, "rows": [{"source": "/a", "state": "odd"}]})")
        << int(TQueueFileRead::TState::kSetAside) << "文件已损坏" << 0;
    QTest::newRow("binary noise") << QByteArray("\x00\xff\x13garbage", 10)
                                  << int(TQueueFileRead::TState::kSetAside) << "文件已损坏" << 0;
    QTest::newRow("a folder") << QByteArray("<folder>") << int(TQueueFileRead::TState::kSetAside)
                              << "不是本用户的普通文件" << 0;
  }
  void unreadableFilesSetAside() {
    QFETCH(QByteArray, contents);
    QFETCH(int, state);
    QFETCH(QString, why);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ConvQueue.json"));
    if (contents == "<folder>") {
      QVERIFY(QDir().mkdir(path));
    } else {
      WriteBytes(path, contents);
    }
    const TQueueFileRead read = ReadQueueFile(path);
    QCOMPARE(int(read.state), state);
    QCOMPARE(read.rows.size(), rows);
    QVERIFY2(read.why.contains(why), qPrintable(read.why));
    if (read.state == TQueueFileRead::TState::kSetAside) {
      QVERIFY(!QFileInfo::exists(path));
      QVERIFY2(QFileInfo(read.setAsideAs).fileName().startsWith(QStringLiteral("ConvQueue.json.broken-")),
               qPrintable(read.setAsideAs));
      if (contents != "<folder>") QCOMPARE(ReadBytes(read.setAsideAs), contents);
    } else {
      QCOMPARE(ReadBytes(path), contents);
    }
    // None there at all: nothing to say, nothing made.
    QVERIFY(QFile::remove(path) || !QFileInfo::exists(path));
    QCOMPARE(int(ReadQueueFile(path).state), int(TQueueFileRead::TState::kMissing));
  }

  // How a new start shows each row it kept.
  void restoredRows_data() {
    QTest::addColumn<TRowResult>("saved");
    QTest::addColumn<QString>("output");  // "": none; "present", "deleted", "changed"
    QTest::addColumn<TRowResult>("shown");
    QTest::addColumn<QString>("reason");  // a part of the reason shown
    QTest::addColumn<bool>("unfinishedKept");
    QTest::newRow("finished, output there")
        << TRowResult::Converted << "present" << TRowResult::Converted << "" << false;
    QTest::newRow("finished, output deleted: waits again")
        << TRowResult::Converted << "deleted" << TRowResult::Waiting << "已不在" << false;
    QTest::newRow("finished, output changed since: waits again")
        << TRowResult::Converted << "changed" << TRowResult::Waiting << "已被改动" << false;
    QTest::newRow("converting when the program was killed")
        << TRowResult::Converting << "" << TRowResult::Interrupted << "意外结束" << true;
    QTest::newRow("interrupted by a close")
        << TRowResult::Interrupted << "" << TRowResult::Interrupted << "关闭程序" << false;
    QTest::newRow("waiting") << TRowResult::Waiting << "" << TRowResult::Waiting << "" << false;
    QTest::newRow("failed") << TRowResult::Failed << "" << TRowResult::Failed << "" << false;
    QTest::newRow("stopped") << TRowResult::Stopped << "" << TRowResult::Stopped << "" << false;
  }
  void restoredRows() {
    QFETCH(TRowResult, saved);
    QFETCH(QString, output);
    QFETCH(TRowResult, shown);
    QFETCH(QString, reason);
    QFETCH(bool, unfinishedKept);
    QTemporaryDir dir;
    TQueueRow row = Row(dir.filePath(QStringLiteral("a.avi")), saved);
    if (!output.isEmpty()) {
      row.output = dir.filePath(QStringLiteral("a.mp4"));
      WriteBytes(row.output, "the whole output");
      row.outputBytes = QFileInfo(row.output).size();
      if (output == QLatin1String("deleted")) QFile::remove(row.output);
      if (output == QLatin1String("changed")) WriteBytes(row.output, "cut");
    }
    row.nextUnfinished = dir.filePath(QStringLiteral("a (未完成).mp4"));
    const TQueueRow back = RestoredRows({row}).first();
    QCOMPARE(back.result, shown);
    QVERIFY2(back.reason.contains(reason), qPrintable(back.reason));
    QCOMPARE(back.unfinished.contains(row.nextUnfinished), unfinishedKept);
    QVERIFY(back.nextUnfinished.isEmpty());
    QCOMPARE(back.percent, shown == TRowResult::Converted ? qint64(100) : qint64(0));
  }

  // The writer: the latest rows given end up on the disk, whole, readable by their owner
  // only; a writer that goes writes what it was given last; nothing is left beside it.
  void writerKeepsTheLatest() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data/vidmora/ConvQueue.json"));
    QVector<TQueueRow> rows;
    {
      TQueueStore store(path);
      for (int i = 0; i < 300; ++i) {
        rows << Row(QStringLiteral("/v/%1.avi").arg(i), TRowResult::Waiting);
        store.Save(rows);
      }
      store.Flush();
      QCOMPARE(store.LastError(), QString());
      QVERIFY(store.Writes() >= 1 && store.Writes() <= 300);
      QCOMPARE(ReadQueueFile(path).rows.size(), 300);
      rows.resize(10);
      store.Save(rows);
    }
    const TQueueFileRead read = ReadQueueFile(path);
    QCOMPARE(int(read.state), int(TQueueFileRead::TState::kRead));
    QCOMPARE(read.rows.size(), 10);
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"ConvQueue.json"});
    // A folder that cannot be made is an error of the write, not of the window.
    WriteBytes(dir.filePath(QStringLiteral("blocked")), "a file where a folder should be");
    TQueueStore blocked(dir.filePath(QStringLiteral("blocked/ConvQueue.json")));
    blocked.Save(rows);
    blocked.Flush();
    QVERIFY(!blocked.LastError().isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestQueueFile)
#include "tst_queue_file.moc"
