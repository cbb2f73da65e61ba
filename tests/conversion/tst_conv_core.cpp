// The conversion queue without any window, against the scripted stand-in
// encoder: the order of a run, what counts as converted or failed, moving on
// at each encoder's end, stopping, and rows that cannot start.
#include "ProcessCheck.h"
#include "support/TestCore.h"
#include "conversion/ConvQueue.h"
#include "conversion/ConvSlots.h"
#include "conversion/DosConvFunc.h"
#include "conversion/EncoderFailure.h"
#include "encoder/Protocol.h"
#include "conversion/OutputNames.h"
#include "encoder/TempName.h"
#include "platform/CommandLine.h"
#include "platform/FileNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>

#include <csignal>
#include <cstring>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

const QString kStandin = QStringLiteral(STANDIN_PATH);

// A queue whose rows are stand-in scripts, with a record of what it reported.
class Harness {
 public:
  Harness() {
    // One file at a time unless a test asks for more.
    queue.Chosen = 1;
    queue.Cores = 2;
    queue.PrepareRow = [this](int row) {
      ++prepared;
      if (prepareError) return TConvJob{QString(), {}, QString(), QStringLiteral("database locked")};
      const QString source = queue.Rows().at(row).source;
      TConvJob job;
      const QString planned = queue.Rows().at(row).output;
      job.output = outputFor.value(
          row, planned.isEmpty() ? dir.filePath(QFileInfo(source).completeBaseName() + QStringLiteral(".mp4"))
                                 : planned);
      job.program = encoder;
      job.arguments = QStringList{QStringLiteral("-y"), QStringLiteral("-ipt"), source, job.output};
      return job;
    };
    QObject::connect(&queue, &TConvQueue::PositionChanged, [this](int p) { positions << p; });
    QObject::connect(&queue, &TConvQueue::RowPercent,
                     [this](int row, qint64 percent) { percents[row] << QString::number(percent); });
    QObject::connect(&queue, &TConvQueue::ProgressText, [this](int, const QString& text) { texts << text; });
    QObject::connect(&queue, &TConvQueue::RunEnded, [this](bool stopped) { ends << stopped; });
    QObject::connect(&queue, &TConvQueue::RowStarted, [this](int row) {
      started << row;
      mostAtOnce = std::max(mostAtOnce, static_cast<int>(queue.RunningRows().size()));
    });
    QObject::connect(&tick, &QTimer::timeout, &queue, &TConvQueue::Poll);
  }

  void Add(const QString& name, const QByteArray& script,
           const QString& duration = QStringLiteral("00:00:10")) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(script);
    f.close();
    TQueueRow row;
    row.source = path;
    row.durationText = duration;
    rows << row;
  }
  bool Run(int tickMs = 40, int timeoutMs = 15000) {
    QSignalSpy ended(&queue, &TConvQueue::RunEnded);
    if (tickMs > 0) tick.start(tickMs);
    if (!queue.Start(rows)) return false;
    const bool done = !ended.isEmpty() || ended.wait(timeoutMs);
    tick.stop();
    return done;
  }
  TRowResult Result(int row) const { return queue.Rows().at(row).result; }
  QString Reason(int row) const { return queue.Rows().at(row).reason; }

  QTemporaryDir dir;
  QString encoder = kStandin;
  TConvQueue queue;
  QTimer tick;
  QVector<TQueueRow> rows;
  QMap<int, QString> outputFor;
  bool prepareError = false;
  int prepared = 0;
  QList<int> positions;
  QMap<int, QStringList> percents;
  QStringList texts;
  QList<bool> ends;
  QList<int> started;
  int mostAtOnce = 0;
};

// Lets every stand-in waiting at a hold go on (each file's own count of holds).
void AckAll(const QVector<TQueueRow>& rows) {
  for (const TQueueRow& r : rows) {
    const qint64 said = QFileInfo(r.source + QStringLiteral(".said")).size();
    QFile ack(r.source + QStringLiteral(".ack"));
    if (said > QFileInfo(ack.fileName()).size() && ack.open(QIODevice::Append)) ack.write(".");
  }
}

int Said(const QVector<TQueueRow>& rows) {
  int n = 0;
  for (const TQueueRow& r : rows) n += QFileInfo::exists(r.source + QStringLiteral(".said")) ? 1 : 0;
  return n;
}

}  // namespace

class TestConvCore : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(QFile::exists(kStandin)); }

  // The percentage is the encoder's time of the length the encoder says it works to
  // (never the list's length), never above 99 until the row is converted.
  void rowsInOrderWithProgress() {
    Harness h;
    h.Add(
        QStringLiteral("a.avi"),
        "say banner\nlength 10.00\nsleep 150\nprogress 2.50\nsleep 150\nprogress 8.00\nsleep 150\nsummary\n");
    // The first "time=" of a text counts, blanks allowed.
    h.Add(QStringLiteral("b.avi"),
          "length 100\nsay frame=  1 fps=0 time=   12.96 bitrate=1\nsleep 150\nsummary\n",
          QStringLiteral("00:01:40"));
    // A length said again counts from then on; content beyond it shows 99.
    h.Add(QStringLiteral("long.avi"),
          "length 7200.00\nprogress 10.00\nsleep 150\nlength 100.00\nsleep 150\nprogress 7300.00\nsleep "
          "150\nsummary\n",
          QStringLiteral("02:00:00"));
    // Neither a zero nor an unknown length stops a file from finishing.
    h.Add(QStringLiteral("short.avi"), "length 0.00\nprogress 0.40\nsleep 150\nsummary\n",
          QStringLiteral("00:00:00"));
    h.Add(QStringLiteral("odd.avi"), "progress 2.00\nsleep 150\nsay frame= 2 time=N/A\nsleep 150\nsummary\n",
          QStringLiteral("??:??:??"));
    // The list's length is no measure: the encoder's says 10 s of a listed hour.
    h.Add(QStringLiteral("listed.avi"), "length 10.00\nprogress 5.00\nsleep 150\nsummary\n",
          QStringLiteral("01:00:00"));
    QVERIFY(h.Run());
    QCOMPARE(h.positions, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
    QCOMPARE(h.ends, QList<bool>{false});
    QVERIFY(!h.queue.IsRunning());
    for (int r = 0; r < 6; ++r) QCOMPARE(h.Result(r), TRowResult::Converted);
    QCOMPARE(h.percents[0], (QStringList{"25", "80"}));  // the fraction counts, the percentage is cut
    QCOMPARE(h.percents[1], (QStringList{"12"}));
    QCOMPARE(h.percents[2], (QStringList{"0", "10", "99"}));
    QCOMPARE(h.percents[3], (QStringList{"0"}));
    QVERIFY(h.percents[4].isEmpty());
    QCOMPARE(h.percents[5], (QStringList{"50"}));
    QCOMPARE(h.queue.Rows().at(2).lengthSeconds, 100.0);
    for (int r = 0; r < 6; ++r) QCOMPARE(h.queue.Rows().at(r).percent, qint64(100));
    QVERIFY(h.texts.contains(QStringLiteral("frame= 2 time=N/A")));  // handed on although it is no number
    QCOMPARE(h.queue.Rows().at(2).durationSeconds, 7200);
    QCOMPARE(h.queue.Rows().at(4).durationSeconds, -1);
    // A new run starts again at the first row.
    h.positions.clear();
    QVERIFY(h.Run());
    QCOMPARE(h.positions.first(), 0);
  }

  // Every line is handed on as it arrives, also several in one write: a warning
  // between two progress lines is not lost, and the percentages follow without a tick.
  void linesArrivingTogether() {
    Harness h;
    h.Add(
        QStringLiteral("a.avi"),
        "length 10\nraw frame= 1 fps=25 size=  100kB time=1.00\\nwarning: no-picture: none\\nframe= 2 fps=25 "
        "size=  200kB time=2.00\\n\nsleep 100\nraw frame= 3 time=4.00\\nvideo:1kB global headers:0kB\nexit "
        "0\n");
    QVERIFY(h.Run(0));
    QCOMPARE(h.percents[0], (QStringList{"10", "20", "40"}));
    QCOMPARE(h.Result(0), TRowResult::Converted);
    QCOMPARE(h.queue.Rows().at(0).warning, QStringLiteral("源文件没有画面，输出只有声音"));
    QCOMPARE(h.queue.Rows().at(0).warningDetail, QStringLiteral("no-picture: none"));
    QCOMPARE(h.queue.Rows().at(0).writtenBytes, qint64(200 * 1024));
    QCOMPARE(h.texts.size(), 3);
  }

  // Rows given during a run join it and are converted after the others; a row
  // converted at last sends the files its stops left to the trash.
  void rowsJoinARunAndUnfinishedFilesGo() {
    // A user's data folder that does not exist yet: the trash is made in it (never in the
    // working folder, where the library would put it otherwise).
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("share"))));
    Harness h;
    h.Add(QStringLiteral("a.avi"), "sleep 300\nsummary\n");
    QVERIFY(!h.queue.Append({}));  // no run: nothing to join
    QSignalSpy ended(&h.queue, &TConvQueue::RunEnded);
    QVERIFY(h.queue.Start(h.rows));
    h.Add(QStringLiteral("b.avi"), "write\nsummary\n");
    h.Add(QStringLiteral("c.avi"), "summary\n");
    // b was stopped twice before; a file of the user's has a look-alike name.
    const QString stops[2] = {h.dir.filePath(QStringLiteral("b (未完成).mp4")),
                              h.dir.filePath(QStringLiteral("b (未完成) (1).mp4"))};
    for (const QString& f : stops) WriteBytes(f, "part");
    WriteBytes(h.dir.filePath(QStringLiteral("b (未完成) (2).mp4")), "the user's");
    h.rows[1].unfinished = {stops[0], stops[1], h.dir.filePath(QStringLiteral("gone (未完成).mp4"))};
    QVERIFY(h.queue.Append(h.rows.mid(1)));
    QVERIFY(ended.wait(10000));
    QCOMPARE(h.positions, (QList<int>{0, 1, 2, 3}));
    for (int r = 0; r < 3; ++r) QCOMPARE(h.Result(r), TRowResult::Converted);
    for (const QString& f : stops) QVERIFY2(!QFile::exists(f), qPrintable(f));
    QCOMPARE(QDir(home.filePath(QStringLiteral("share/Trash/files"))).entryList(QDir::Files).size(), 2);
    QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("files"))));
    QCOMPARE(ReadBytes(h.dir.filePath(QStringLiteral("b (未完成) (2).mp4"))), QByteArray("the user's"));
    QVERIFY(h.queue.Rows().at(1).unfinished.isEmpty());
    QVERIFY(h.queue.Rows().at(1).disposal.contains(QStringLiteral("已移到回收站")));
    QCOMPARE(h.queue.Rows().at(1).outputBytes, qint64(15));
    qunsetenv("XDG_DATA_HOME");
  }

  // How many encoders run at once and what each gets: the rule's table, without
  // processes. Sizes: SD 720x576, 720p, 1080p, 4K; "?" unknown (taken for 1080p).
  void slotRule_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("outWidth");  // a size chosen, 0 for the source's
    QTest::addColumn<bool>("copy");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("cores");
    QTest::addColumn<int>("together");  // EncodersAtOnce
    QTest::addColumn<int>("threads");   // each one's -threads
    // auto: one encoder per 4 cores at 1080p, 2 at 720p, 1 at SD, 8 at 4K; never more than cores.
    QTest::newRow("SD, 2 cores") << 720 << 576 << 0 << false << 0 << 2 << 2 << 1;
    QTest::newRow("SD, 1 core") << 720 << 576 << 0 << false << 0 << 1 << 1 << 0;
    QTest::newRow("SD, 16 cores") << 720 << 576 << 0 << false << 0 << 16 << 16 << 1;
    QTest::newRow("720p, 2 cores") << 1280 << 720 << 0 << false << 0 << 2 << 1 << 0;
    QTest::newRow("720p, 8 cores") << 1280 << 720 << 0 << false << 0 << 8 << 4 << 2;
    QTest::newRow("1080p, 2 cores") << 1920 << 1080 << 0 << false << 0 << 2 << 1 << 0;
    QTest::newRow("1080p, 8 cores") << 1920 << 1080 << 0 << false << 0 << 8 << 2 << 4;
    QTest::newRow("4K, 16 cores") << 3840 << 2160 << 0 << false << 0 << 16 << 2 << 8;
    QTest::newRow("unknown, 4 cores") << 0 << 0 << 0 << false << 0 << 4 << 1 << 0;
    // The larger picture counts: 4K made small is decoded at 4K, SD made 1080p encoded at 1080p.
    QTest::newRow("4K to SD, 8 cores") << 3840 << 2160 << 720 << false << 0 << 8 << 1 << 0;
    QTest::newRow("SD to 1080p, 8 cores") << 720 << 576 << 1920 << false << 0 << 8 << 2 << 4;
    // A copy counts little, but 自动 never runs more encoders than cores.
    QTest::newRow("copy 1080p, 2 cores") << 1920 << 1080 << 0 << true << 0 << 2 << 2 << 1;
    // A number chosen holds as it is; the cores are shared among them.
    QTest::newRow("3 chosen, 2 cores") << 1920 << 1080 << 0 << false << 3 << 2 << 3 << 1;
    QTest::newRow("2 chosen, 8 cores") << 720 << 576 << 0 << false << 2 << 8 << 2 << 4;
    QTest::newRow("1 chosen, 8 cores") << 720 << 576 << 0 << false << 1 << 8 << 1 << 0;
  }
  void slotRule() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, outWidth);
    QFETCH(bool, copy);
    QFETCH(int, chosen);
    QFETCH(int, cores);
    QFETCH(int, together);
    QFETCH(int, threads);
    const TEncoderWork work{width, height, outWidth, outWidth ? outWidth * 9 / 16 : 0, copy};
    QCOMPARE(EncodersAtOnce(work, chosen, cores), together);
    const TEncoderNeed need = EncoderNeed(work, chosen, cores);
    QCOMPARE(need.threads, threads);
    // Exactly `together` such encoders start beside each other when memory is plenty.
    QVector<TEncoderNeed> running;
    while (MayStart(running, need, chosen, cores, qint64(1) << 50) == TStartVerdict::kStart &&
           running.size() < 64)
      running << need;
    QCOMPARE(static_cast<int>(running.size()), together);
    // A further one never starts without the memory it needs; the first always does.
    QCOMPARE(MayStart({}, need, chosen, cores, 0), TStartVerdict::kStart);
    if (together > 1)
      QCOMPARE(MayStart({need}, need, chosen, cores, need.memoryBytes - 1), TStartVerdict::kWaitForMemory);
  }

  void encoderMemoryGrowsWithPictureAndThreads() {
    const TEncoderWork sd{720, 576, 0, 0, false}, hd{1920, 1080, 0, 0, false}, copy{1920, 1080, 0, 0, true};
    QVERIFY(EncoderMemory(sd, 1, 2) < EncoderMemory(hd, 1, 2));
    QVERIFY(EncoderMemory(hd, 1, 8) < EncoderMemory(hd, 8, 8));
    // With threads left to the library, it takes about one and a half per core.
    QCOMPARE(EncoderMemory(hd, 0, 8), EncoderMemory(hd, 12, 8));
    // Near what the encoder was measured to take at 1080p with 4 threads (560 MB).
    QVERIFY(qAbs(EncoderMemory(hd, 4, 8) / double(1 << 20) - 560) < 60);
    QVERIFY(EncoderMemory(copy, 0, 8) < EncoderMemory(sd, 1, 8));
  }

  // Three at once over seven rows: each row starts once, in list order, never more
  // than three run; a failure leaves the others running; a stop ends them all.
  void severalAtOnceInListOrder() {
    Harness h;
    h.queue.Chosen = 3;
    const QByteArray holding = "length 10\nwrite\nprogress 5.00\nhold\nprogress 10.00\nsummary\n";
    for (int i = 0; i < 7; ++i)
      h.Add(QStringLiteral("s%1.avi").arg(i),
            i == 2 ? QByteArray("length 10\nprogress 1.00\nexit 1\n") : holding);
    QSignalSpy ended(&h.queue, &TConvQueue::RunEnded);
    h.tick.start(40);
    QVERIFY(h.queue.Start(h.rows));
    // s2 fails at once; s0, s1 and s3 run.
    QTRY_COMPARE(Said(h.rows), 3);
    QCOMPARE(h.Result(2), TRowResult::Failed);
    QCOMPARE(h.queue.RunningRows(), (QVector<int>{0, 1, 3}));
    for (int r : {0, 1, 3}) QCOMPARE(h.Result(r), TRowResult::Converting);
    QCOMPARE(h.queue.Position(), 3);
    // Each encoder is given its share of the cores.
    QCOMPARE(h.queue.Rows().at(0).threads, 1);
    while (ended.isEmpty()) {
      AckAll(h.rows);
      QVERIFY(ended.wait(100) || h.queue.IsRunning());
    }
    h.tick.stop();
    QCOMPARE(h.started, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
    QCOMPARE(h.mostAtOnce, 3);
    QCOMPARE(h.ends, QList<bool>{false});
    QCOMPARE(h.queue.Position(), 7);
    QSet<QString> outputs;
    for (int r = 0; r < 7; ++r) {
      QCOMPARE(h.Result(r), r == 2 ? TRowResult::Failed : TRowResult::Converted);
      QCOMPARE(ReadBytes(h.rows[r].source + QStringLiteral(".log")).count("start"), 1);
      outputs.insert(h.queue.Rows().at(r).output);
    }
    QCOMPARE(outputs.size(), 7);

    // A stop ends every running encoder at once; the rows not reached stay waiting.
    h.started.clear();
    h.ends.clear();
    for (const TQueueRow& r : h.rows) {
      QFile::remove(r.source + QStringLiteral(".said"));
      QFile::remove(r.source + QStringLiteral(".ack"));
    }
    h.rows[2] = h.rows[1];
    h.rows[2].source = h.dir.filePath(QStringLiteral("s2b.avi"));
    WriteBytes(h.rows[2].source, holding);
    h.tick.start(40);
    QVERIFY(h.queue.Start(h.rows));
    QTRY_COMPARE(Said(h.rows), 3);
    QList<long long> pids;
    for (int r : h.queue.RunningRows()) pids << h.queue.Encoder(r)->Pid();
    QCOMPARE(pids.size(), 3);
    QVERIFY(h.queue.Stop());
    h.tick.stop();
    QCOMPARE(h.ends, QList<bool>{true});
    QCOMPARE(h.queue.Position(), -1);
    QVERIFY(h.queue.RunningRows().isEmpty());
    for (int r = 0; r < 7; ++r) QCOMPARE(h.Result(r), r < 3 ? TRowResult::Stopped : TRowResult::Waiting);
    for (long long pid : pids) QTRY_VERIFY_WITH_TIMEOUT(!ProcessCheck::IsChild(pid), 2000);
    for (int r = 0; r < 3; ++r) {
      QVERIFY(ReadBytes(h.rows[r].source + QStringLiteral(".log")).contains("\nq\nexit 0"));
      // Each stopped file under its own unfinished name.
      QCOMPARE(h.queue.Rows().at(r).unfinished.size(), 1);
    }
  }

  // A further encoder waits while the memory available is below what it needs, and
  // says so once; it starts when memory is there again.
  void memoryHoldsBackAFurtherEncoder() {
    Harness h;
    h.queue.Chosen = 2;
    qint64 available = 0;
    h.queue.AvailableMemory = [&available] { return available; };
    QList<int> held;
    QObject::connect(&h.queue, &TConvQueue::HeldBack, [&held](int row, qint64, qint64) { held << row; });
    h.Add(QStringLiteral("a.avi"), "hold\nsummary\n");
    h.Add(QStringLiteral("b.avi"), "summary\n");
    h.tick.start(40);
    QVERIFY(h.queue.Start(h.rows));
    QTRY_COMPARE(Said(h.rows), 1);
    // Ticks come and go: it is said once.
    QTest::qWait(200);
    QCOMPARE(h.started, QList<int>{0});
    QCOMPARE(held, QList<int>{1});
    QCOMPARE(h.queue.HeldBackRow(), 1);
    available = qint64(1) << 40;
    QTRY_COMPARE(h.started, (QList<int>{0, 1}));
    QCOMPARE(held, (QList<int>{1, -1}));
    QCOMPARE(h.queue.HeldBackRow(), -1);
    AckAll(h.rows);
    QSignalSpy ended(&h.queue, &TConvQueue::RunEnded);
    QVERIFY(!h.ends.isEmpty() || ended.wait(10000));
    h.tick.stop();
  }

  void movesOnAtEachEncodersEndWithoutTicks() {
    // No progress tick at all: every file still starts as soon as the one
    // before it has ended, and the run ends after the last one.
    Harness h;
    for (int i = 0; i < 10; ++i) h.Add(QStringLiteral("q%1.avi").arg(i), "progress 1.00\nsummary\n");
    QElapsedTimer t;
    t.start();
    QVERIFY(h.Run(0, 10000));
    const qint64 ms = t.elapsed();
    for (int r = 0; r < 10; ++r) QCOMPARE(h.Result(r), TRowResult::Converted);
    QCOMPARE(h.positions.last(), 10);
    qDebug("ten quick encoders one after the other: %lld ms", ms);
  }

  // Every way an encoder can fail: the row's result, its sentence for the user and the
  // technical detail, never the banner or another stray line; the run goes on after it.
  void failuresAndTheirReasons_data() {
    QTest::addColumn<QByteArray>("script");  // "" for a source that is not there
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("detail");  // "" for none
    const QByteArray banner = "say Input: a.avi\nsay Press q to stop early.\nprogress 12.48\n";
    // Each code gets its own sentence (which the sentences test checks), the detail beside it.
    for (const char* code : vidmora::protocol::kErrorCodes) {
      QString reason = ErrorSentence(*vidmora::protocol::ErrorCodeSpelled(code));
      if (reason.contains(QLatin1String("%1"))) reason = reason.arg(12);
      QTest::newRow(code) << banner + "say Error: " + code + ": the detail: with a colon\nexit 1\n" << reason
                          << QStringLiteral("the detail: with a colon");
    }
    QTest::newRow("summary, then status 1")
        << QByteArray("say Error: output-full: no space\nsummary\nexit 1\n") << QStringLiteral("输出磁盘已满")
        << QStringLiteral("no space");
    QTest::newRow("the last error line counts")
        << QByteArray("say Error: source-damaged: a\nsay Error: out-of-memory: b\nexit 1\n")
        << QStringLiteral("内存不足, 无法继续转换") << QStringLiteral("b");
    QTest::newRow("error line without a code")
        << QByteArray("say Error: disk full\nexit 1\n") << QStringLiteral("编码器报告了错误")
        << QStringLiteral("disk full");
    QTest::newRow("unknown code") << QByteArray("say Error: frobnicated: x\nexit 1\n")
                                  << QStringLiteral("编码器报告了错误") << QStringLiteral("frobnicated: x");
    QTest::newRow("banner, then a crash")
        << banner + "sleep 100\ncrash\n"
        << QStringLiteral("编码器意外终止")
        << QStringLiteral("信号 11: %1").arg(QString::fromLocal8Bit(strsignal(SIGSEGV)));
    QTest::newRow("killed") << banner + "kill 9\n"
                            << QStringLiteral("编码器意外终止")
                            << QStringLiteral("信号 9: %1 (可能因内存不足被系统终止)")
                                   .arg(QString::fromLocal8Bit(strsignal(SIGKILL)));
    QTest::newRow("error line, then killed") << banner + "say Error: output-full: x\nkill 9\n"
                                             << QStringLiteral("输出磁盘已满") << QStringLiteral("x");
    QTest::newRow("stray lines, then status 1")
        << banner + "say error: lowercase\nsay oops\nexit 1\n"
        << QStringLiteral("编码器异常退出") << QStringLiteral("退出状态 1");
    QTest::newRow("status 0 without a summary") << QByteArray("progress 3.00\nsay Warning: ended\nexit 0\n")
                                                << QStringLiteral("编码器未报告完成") << QString();
    QTest::newRow("no line at all, status 0")
        << QByteArray("exit 0\n") << QStringLiteral("编码器未报告完成") << QString();
    QTest::newRow("no line at all, status 4")
        << QByteArray("exit 4\n") << QStringLiteral("编码器异常退出") << QStringLiteral("退出状态 4");
    QTest::newRow("source not there") << QByteArray() << QStringLiteral("找不到源文件")
                                      << QStringLiteral("standin: cannot open the source");
  }

  void failuresAndTheirReasons() {
    QFETCH(QByteArray, script);
    QFETCH(QString, reason);
    QFETCH(QString, detail);
    Harness h;
    if (script.isEmpty()) {
      TQueueRow missing;
      missing.source = h.dir.filePath(QStringLiteral("missing.avi"));
      missing.durationText = QStringLiteral("00:00:10");
      h.rows << missing;
    } else {
      h.Add(QStringLiteral("a.avi"), script);
    }
    h.Add(QStringLiteral("good.avi"), "progress 5.00\nsummary\n");
    QVERIFY(h.Run());
    QCOMPARE(h.Result(0), TRowResult::Failed);
    QCOMPARE(h.Reason(0), reason);
    QCOMPARE(h.queue.Rows().at(0).detail, detail);
    QCOMPARE(h.Result(1), TRowResult::Converted);
    QCOMPARE(h.queue.Rows().at(1).reason, QString());
    QCOMPARE(h.ends, QList<bool>{false});
    QCOMPARE(ProcessCheck::Zombies(), 0);
  }

  // Every code the encoder may write, error or warning, has a Chinese sentence of its own,
  // never the general one; a code is read back from its spelling alone.
  void everyCodeHasItsSentence() {
    using namespace vidmora::protocol;
    const auto chinese = [](const QString& s) {
      return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
    };
    QSet<QString> seen;
    const QString generalError = EncoderErrorText(ReadErrorLine(QStringLiteral("x: y")), 0).sentence;
    for (const char* code : kErrorCodes) {
      const TEncoderError error = ReadErrorLine(QStringLiteral("%1: the detail").arg(QLatin1String(code)));
      QVERIFY2(error.code && Spelling(*error.code) == std::string(code), code);
      QCOMPARE(error.detail, QStringLiteral("the detail"));
      const QString sentence = EncoderErrorText(error, 3.7).sentence;
      QVERIFY2(sentence != generalError && chinese(sentence) && !sentence.contains(QLatin1Char('%')), code);
      seen << sentence;
    }
    const QString generalWarning = EncoderWarningText(ReadWarningLine(QStringLiteral("x: y")));
    for (const char* code : kWarningCodes) {
      const TEncoderWarning warning = ReadWarningLine(QStringLiteral("%1: the detail").arg(QLatin1String(code)));
      QVERIFY2(warning.code && Spelling(*warning.code) == std::string(code), code);
      const QString sentence = EncoderWarningText(warning);
      QVERIFY2(sentence != generalWarning && chinese(sentence), code);
      seen << sentence;
    }
    QCOMPARE(seen.size(), int(std::size(kErrorCodes) + std::size(kWarningCodes)));
    // The seconds an incomplete source gave, whole.
    QVERIFY(EncoderErrorText(ReadErrorLine(QStringLiteral("source-incomplete: cut")), 12.9)
                .sentence.contains(QStringLiteral("12 秒")));
  }

  void stopSendsQuitKeyAndReapsTheEncoder() {
    Harness h;
    h.Add(QStringLiteral("a.avi"), "summary\n");
    h.Add(QStringLiteral("b.avi"), "length 10\nwrite\nprogress 3.00\nsleep 10000\nsummary\n");
    h.Add(QStringLiteral("c.avi"), "summary\n");
    h.tick.start(40);
    QVERIFY(h.queue.Start(h.rows));
    QTRY_COMPARE(h.percents.value(1), QStringList{"30"});
    const long long pid = h.queue.Encoder()->Pid();
    // An earlier stop's file is in the way: this one takes the next free name.
    const QString earlier = h.dir.filePath(QStringLiteral("b (未完成).mp4"));
    WriteBytes(earlier, "earlier stop");
    QVERIFY(h.queue.Stop());
    QVERIFY(!h.queue.IsRunning());
    QCOMPARE(h.queue.Position(), -1);
    QCOMPARE(h.ends, QList<bool>{true});
    QCOMPARE(h.Result(0), TRowResult::Converted);
    QCOMPARE(h.Result(1), TRowResult::Stopped);
    QCOMPARE(h.Result(2), TRowResult::Waiting);
    QVERIFY(!h.queue.Stop());  // idle: nothing to stop
    // Within a second the encoder has ended on its quit key and been reaped.
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessCheck::IsChild(pid), 1000);
    QFile log(h.rows[1].source + QStringLiteral(".log"));
    log.open(QIODevice::ReadOnly);
    QVERIFY(log.readAll().contains("\nq\nexit 0"));
    // Where the stopped row's file went, and how much it holds; never the final name.
    const QString unfinished = h.dir.filePath(QStringLiteral("b (未完成) (1).mp4"));
    QCOMPARE(h.queue.Rows().at(1).unfinished, QStringList{unfinished});
    QCOMPARE(h.queue.Rows().at(1).convertedSeconds, 3.0);
    QCOMPARE(ReadBytes(unfinished), QByteArray("standin output\n"));
    QCOMPARE(ReadBytes(earlier), QByteArray("earlier stop"));
    QVERIFY(!QFile::exists(h.dir.filePath(QStringLiteral("b.mp4"))));
    // The next run is not disturbed by the stopped one.
    h.positions.clear();
    h.ends.clear();
    h.rows.remove(1);
    QVERIFY(h.Run());
    QCOMPARE(h.Result(0), TRowResult::Converted);
    QCOMPARE(h.Result(1), TRowResult::Converted);
  }

  void rowsThatCannotStartAndTheOutputHook() {
    Harness h;
    h.Add(QStringLiteral("a.avi"), "summary\n");
    h.Add(QStringLiteral("clip.mp4"), "summary\n");
    h.Add(QStringLiteral("c.avi"), "summary\n");
    // An output that is the source itself is never started.
    h.outputFor[1] = h.rows[1].source;
    int resolved = 0;
    h.queue.ResolveOutputs = [&](QVector<TQueueRow>& rows) {
      ++resolved;
      [&] { QCOMPARE(h.prepared, 0); }();  // before the first row starts
      for (TQueueRow& row : rows) row.output = row.source + QStringLiteral(".planned");
      return true;
    };
    QVERIFY(h.Run());
    QCOMPARE(resolved, 1);
    QCOMPARE(h.Result(0), TRowResult::Converted);
    QCOMPARE(h.Result(1), TRowResult::Skipped);
    QVERIFY(!h.Reason(1).isEmpty());
    QVERIFY(!QFile::exists(h.rows[1].source + QStringLiteral(".log")));
    QCOMPARE(h.Result(2), TRowResult::Converted);
    h.queue.ResolveOutputs = nullptr;
    h.rows.remove(1);

    // A missing encoder and a row that cannot be prepared fail at once; the
    // run still goes through every row and ends.
    h.encoder = h.dir.filePath(QStringLiteral("no such encoder"));
    h.outputFor.clear();
    h.ends.clear();
    QVERIFY(h.Run(0, 2000));
    for (int r = 0; r < 2; ++r) QCOMPARE(h.Result(r), TRowResult::Failed);
    QCOMPARE(h.ends, QList<bool>{false});
    h.prepareError = true;
    QVERIFY(h.Run(0, 2000));
    QCOMPARE(h.Reason(0), QStringLiteral("database locked"));
    QCOMPARE(h.queue.Position(), 2);
  }

  // A line break or any other control character in a source's name is a blank in its output's.
  void outputBaseNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("output");
    QTest::newRow("plain") << QStringLiteral("片段 一") << QStringLiteral("片段 一");
    QTest::newRow("line break, return, tab") << QStringLiteral("a\nb\r\nc\td") << QStringLiteral("a b  c d");
    QTest::newRow("delete and a C1 control") << QStringLiteral("x\x7fy\u0085z") << QStringLiteral("x y z");
    QTest::newRow("Unicode's line separator") << QStringLiteral("p\u2028q") << QStringLiteral("p q");
  }

  void outputBaseNames() {
    QFETCH(QString, name);
    QFETCH(QString, output);
    QCOMPARE(OutputBaseName(name), output);
  }

  // The folders below the output folder that a folder's files keep.
  void outputSubFolders_data() {
    QTest::addColumn<QByteArray>("native");  // the folders' own bytes
    QTest::addColumn<QString>("output");
    QTest::newRow("phone") << QByteArray("DCIM/100ANDRO") << QStringLiteral("DCIM/100ANDRO");
    QTest::newRow("dots and doubled slashes") << QByteArray("./a//../b/") << QStringLiteral("a/b");
    QTest::newRow("GBK name") << QByteArray("\xca\xd3\xc6\xb5/x") << QStringLiteral("视频/x");
    QTest::newRow("line break") << QByteArray("a\nb") << QStringLiteral("a b");
  }

  void outputSubFolders() {
    QFETCH(QByteArray, native);
    QFETCH(QString, output);
    QCOMPARE(OutputSubFolder(Platform::PathFromNative(native)), output);
  }

  void outputNamesNeverCollide() {
    QTemporaryDir tmp;
    const QString a = tmp.filePath(QStringLiteral("A/clip.avi")),
                  b = tmp.filePath(QStringLiteral("B/clip.avi"));
    const QString c = tmp.filePath(QStringLiteral("C"));
    for (const QString& d : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
      QDir(tmp.path()).mkdir(d);
    const QStringList sources = {a, b, c + QStringLiteral("/holiday.avi"),
                                 c + QStringLiteral("/holiday.mp4")};
    for (const QString& s : sources) WriteBytes(s, "source");
    const QStringList wanted = {c + QStringLiteral("/clip.mp4"), c + QStringLiteral("/clip.mp4"),
                                c + QStringLiteral("/holiday.mp4"), c + QStringLiteral("/holiday.mp4")};
    auto names = [](const QVector<TOutputPlan>& plan, bool replaced) {
      QStringList out;
      for (const TOutputPlan& r : plan) out << QFileInfo(replaced ? r.replaces : r.output).fileName();
      return out;
    };
    // A source (even one in the output folder) and an earlier row's output
    // are never written over; nothing exists yet, so nothing is replaced.
    QVector<TOutputPlan> plan = PlanOutputs(wanted, sources, true);
    QCOMPARE(names(plan, false),
             (QStringList{"clip.mp4", "clip (1).mp4", "holiday (1).mp4", "holiday (2).mp4"}));
    QCOMPARE(CountReplaced(plan), 0);
    QCOMPARE(PlanOutputs(wanted, sources, false).size(), 4);

    // The same run again over its own outputs: replacing keeps the names and
    // writes fresh ones in the meantime; keeping both avoids every file.
    for (const TOutputPlan& r : plan) WriteBytes(r.output, "earlier output");
    plan = PlanOutputs(wanted, sources, true);
    QCOMPARE(CountReplaced(plan), 4);
    QCOMPARE(names(plan, true),
             (QStringList{"clip.mp4", "clip (1).mp4", "holiday (1).mp4", "holiday (2).mp4"}));
    QStringList fresh = names(plan, false);
    QCOMPARE(fresh, (QStringList{"clip (2).mp4", "clip (3).mp4", "holiday (3).mp4", "holiday (4).mp4"}));
    QCOMPARE(names(PlanOutputs(wanted, sources, false), false), fresh);

    // A folder in the way is never replaced; a link to a source counts as the source.
    QDir(c).mkdir(QStringLiteral("movie.mp4"));
    QFile::link(a, c + QStringLiteral("/linked.mp4"));
    plan = PlanOutputs({c + QStringLiteral("/movie.mp4"), c + QStringLiteral("/linked.mp4")}, {a}, true);
    QCOMPARE(names(plan, false), (QStringList{"movie (1).mp4", "linked (1).mp4"}));
    QCOMPARE(CountReplaced(plan), 0);
    // The output folder reached through a link: its files are still the sources.
    QFile::link(c, tmp.filePath(QStringLiteral("Clink")));
    plan = PlanOutputs({tmp.filePath(QStringLiteral("Clink/holiday.mp4"))}, sources, false);
    QCOMPARE(plan[0].output, tmp.filePath(QStringLiteral("Clink/holiday (3).mp4")));
    QVERIFY(plan[0].replaces.isEmpty());
    QCOMPARE(NextFreeName(QStringLiteral("/x/a.b.mp4"), [](const QString&) { return false; }),
             QStringLiteral("/x/a.b (1).mp4"));
  }

  // Only temporaries that an encoder made, whose encoder is gone and that nobody
  // holds locked, are removed; a user's file goes by no name.
  void staleTemporariesOnlyOurs() {
    QTemporaryDir tmp;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);  // an id of a process that has ended
    const long gone = child;
    auto ours = [&](const QString& name, long pid, const char* random) {
      const QString n = QString::fromStdString(vidmora::tempname::Make(name.toStdString(), pid, random));
      WriteBytes(tmp.filePath(n), "x");
      return n;
    };
    // An encoder that still runs: a program named like the encoder.
    QVERIFY(QFile::copy(QStringLiteral(STANDIN_PATH), tmp.filePath(QStringLiteral("make"))));
    QProcess encoder;
    encoder.start(tmp.filePath(QStringLiteral("make")), {QStringLiteral("sleep"), QStringLiteral("20000")});
    QVERIFY(encoder.waitForStarted());
    const QString mine = ours(QStringLiteral("clip.mp4"), gone, "Ab3x");
    const QStringList stale = {mine, ours(QStringLiteral("视频 一.mp4"), gone, "zz09"),
                               ours(QString(300, QLatin1Char('x')) + QStringLiteral(".mp4"), gone, "0000"),
                               // the id was taken since by a process that is no encoder
                               ours(QStringLiteral("reused.mp4"), ::getpid(), "Ab3x")};
    QString forged = mine;
    forged[forged.size() - 1] = forged.endsWith(QLatin1Char('a')) ? QLatin1Char('b') : QLatin1Char('a');
    QStringList users = {QStringLiteral(".clip.mp4.part-Ab3xYz"), forged, mine.mid(1),
                         QStringLiteral(".clip.mp4.part-0-Ab3xAb3x"), QStringLiteral("clip.mp4")};
    for (const QString& n : users) WriteBytes(tmp.filePath(n), "x");
    // Another user's temporary in a shared folder is theirs to clear (only root can make one).
    if (::geteuid() == 0) {
      const QString theirs = QString::fromStdString(vidmora::tempname::Make("theirs.mp4", gone, "Th3m"));
      WriteBytes(tmp.filePath(theirs), "x");
      QVERIFY(::chown(QFile::encodeName(tmp.filePath(theirs)).constData(), 65534, 65534) == 0);
      users << theirs;
    }
    const QString running = ours(QStringLiteral("running.mp4"), encoder.processId(), "Run1");
    const QString locked = ours(QStringLiteral("locked.mp4"), gone, "Lock");
    const int lock = ::open(QFile::encodeName(tmp.filePath(locked)).constData(), O_RDONLY);
    QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
    // A link of such a name (and what it leads to) and a folder of such a name stay.
    WriteBytes(tmp.filePath(QStringLiteral("target")), "keep");
    const QString link = QString::fromStdString(vidmora::tempname::Make("link.mp4", gone, "Lnk1"));
    const QString folder = QString::fromStdString(vidmora::tempname::Make("dir.mp4", gone, "Dir1"));
    QVERIFY(QFile::link(tmp.filePath(QStringLiteral("target")), tmp.filePath(link)));
    QVERIFY(QDir(tmp.path()).mkdir(folder));

    QStringList removed = RemoveStaleTemps(tmp.path());
    removed.sort();
    QStringList expected = stale;
    expected.sort();
    QCOMPARE(removed, expected);
    for (const QString& n : users + QStringList{running, locked})
      QVERIFY2(QFile::exists(tmp.filePath(n)), qPrintable(n));
    QVERIFY(QFileInfo(tmp.filePath(link)).isSymLink());
    QVERIFY(QFileInfo(tmp.filePath(folder)).isDir());
    QCOMPARE(ReadBytes(tmp.filePath(QStringLiteral("target"))), QByteArray("keep"));
    ::close(lock);
    encoder.kill();
    encoder.waitForFinished();
    removed = RemoveStaleTemps(tmp.path());
    removed.sort();
    QCOMPARE(removed, (QStringList{locked, running}));
  }

  void replacingTakesPlaceOnlyWhenComplete() {
    Harness h;
    h.Add(QStringLiteral("done.avi"), "write\nsummary\n");
    h.Add(QStringLiteral("stopped.avi"), "length 10\nwrite\nprogress 3.00\nsleep 10000\nsummary\n");
    const QString doneOld = h.dir.filePath(QStringLiteral("out/done.mp4"));
    const QString stoppedOld = h.dir.filePath(QStringLiteral("out/stopped.mp4"));
    const QString appeared = h.dir.filePath(QStringLiteral("out/stopped (1).mp4"));
    QDir(h.dir.path()).mkdir(QStringLiteral("out"));
    WriteBytes(doneOld, "old done");
    WriteBytes(stoppedOld, "old stopped");
    h.queue.ResolveOutputs = [&](QVector<TQueueRow>& rows) {
      rows[0].output = h.dir.filePath(QStringLiteral("out/done (1).mp4"));
      rows[0].replaces = doneOld;
      rows[1].output = appeared;
      rows[1].replaces = stoppedOld;
      // A file that appears under a planned name after the plan is kept too.
      WriteBytes(appeared, "appeared");
      return true;
    };
    h.tick.start(40);
    QVERIFY(h.queue.Start(h.rows));
    QTRY_COMPARE(h.percents.value(1), QStringList{"30"});
    // The complete conversion took the old file's place in one step.
    QCOMPARE(h.Result(0), TRowResult::Converted);
    QCOMPARE(ReadBytes(doneOld), QByteArray("standin output\n"));
    QVERIFY(!QFile::exists(h.dir.filePath(QStringLiteral("out/done (1).mp4"))));
    QCOMPARE(h.queue.Rows().at(0).output, doneOld);
    // The stopped one writes beside both files and replaces neither; its file is
    // left under the unfinished name.
    const QString written = h.queue.Rows().at(1).output;
    QCOMPARE(written, h.dir.filePath(QStringLiteral("out/stopped (1) (1).mp4")));
    QVERIFY(h.queue.Stop());
    QCOMPARE(ReadBytes(stoppedOld), QByteArray("old stopped"));
    QCOMPARE(ReadBytes(appeared), QByteArray("appeared"));
    const QString unfinished = h.dir.filePath(QStringLiteral("out/stopped (1) (1) (未完成).mp4"));
    QCOMPARE(h.queue.Rows().at(1).unfinished, QStringList{unfinished});
    QTRY_COMPARE(ReadBytes(unfinished), QByteArray("standin output\n"));
    QVERIFY(!QFile::exists(written));

    // A declined plan starts nothing.
    h.queue.ResolveOutputs = [](QVector<TQueueRow>&) { return false; };
    h.prepared = 0;
    QVERIFY(!h.queue.Start(h.rows));
    QVERIFY(!h.queue.IsRunning());
    QCOMPARE(h.prepared, 0);
  }

  void parsing() {
    int s = -1;
    QVERIFY(TConvQueue::ParseProgressTime(QStringLiteral("frame= 1 time=   12.96 bitrate"), &s));
    QCOMPARE(s, 12);
    QVERIFY(TConvQueue::ParseProgressTime(QStringLiteral("frame= 1 time=7 "), &s));
    QCOMPARE(s, 7);
    QVERIFY(TConvQueue::ParseProgressTime(QStringLiteral("frame= 1 time=4.00 x\nframe= 2 time=5.00 x"), &s));
    QCOMPARE(s, 4);
    QVERIFY(!TConvQueue::ParseProgressTime(QStringLiteral("frame= 1 fps=2"), &s));
    QVERIFY(!TConvQueue::ParseProgressTime(QStringLiteral("frame= 1 time=N/A"), &s));
    QVERIFY(TConvQueue::ParseDuration(QStringLiteral("01:02:03"), &s));
    QCOMPARE(s, 3723);
    QVERIFY(TConvQueue::ParseDuration(QStringLiteral("123:45:06"), &s));  // hours up to the first colon
    QCOMPARE(s, 123 * 3600 + 45 * 60 + 6);
    QVERIFY(!TConvQueue::ParseDuration(QStringLiteral("ab:cd:ef"), &s));
    QVERIFY(!TConvQueue::ParseDuration(QString(), &s));
  }
};

QTEST_GUILESS_MAIN(TestConvCore)
#include "tst_conv_core.moc"
