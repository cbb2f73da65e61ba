// The conversion queue without any window, against the scripted stand-in
// encoder: the order of a run, what counts as converted or failed, moving on
// at each encoder's end, stopping, and rows that cannot start.
#include "ProcessCheck.h"
#include "conversion/ConvQueue.h"
#include "conversion/DosConvFunc.h"
#include "platform/CommandLine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kStandin = QStringLiteral(STANDIN_PATH);

// A queue whose rows are stand-in scripts, with a record of what it reported.
class Harness {
 public:
  Harness() {
    queue.PrepareRow = [this](int row) {
      ++prepared;
      if (prepareError) return TConvJob{QString(), QString(), QStringLiteral("database locked")};
      const QString source = queue.Rows().at(row).source;
      TConvJob job;
      job.output =
          outputFor.value(row, dir.filePath(QFileInfo(source).completeBaseName() + QStringLiteral(".mp4")));
      job.commandLine = Platform::QuoteArg(encoder) + QStringLiteral(" -y -ipt ") +
                        Platform::QuoteArg(source) + QLatin1Char(' ') + Platform::QuoteArg(job.output);
      return job;
    };
    QObject::connect(&queue, &TConvQueue::PositionChanged, [this](int p) { positions << p; });
    QObject::connect(&queue, &TConvQueue::RowPercent,
                     [this](int row, qint64 percent) { percents[row] << QString::number(percent); });
    QObject::connect(&queue, &TConvQueue::ProgressText, [this](int, const QString& text) { texts << text; });
    QObject::connect(&queue, &TConvQueue::RunEnded, [this](bool stopped) { ends << stopped; });
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
};

}  // namespace

class TestConvCore : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(QFile::exists(kStandin)); }

  void rowsInOrderWithProgress() {
    Harness h;
    h.Add(QStringLiteral("a.avi"),
          "say banner\nsleep 150\nprogress 2.50\nsleep 150\nprogress 8.00\nsleep 150\nsummary\n");
    // The first "time=" of a text counts, whole seconds, blanks allowed.
    h.Add(QStringLiteral("b.avi"), "say frame=  1 fps=0 time=   12.96 bitrate=1\nsleep 150\nsummary\n",
          QStringLiteral("00:01:40"));
    h.Add(QStringLiteral("long.avi"), "progress 10.00\nsleep 150\nprogress 7300.00\nsleep 150\nsummary\n",
          QStringLiteral("02:00:00"));
    // Neither a zero nor an unreadable duration stops a file from finishing.
    h.Add(QStringLiteral("short.avi"), "progress 0.40\nsleep 150\nsummary\n", QStringLiteral("00:00:00"));
    h.Add(QStringLiteral("odd.avi"), "progress 2.00\nsleep 150\nsay frame= 2 time=N/A\nsleep 150\nsummary\n",
          QStringLiteral("??:??:??"));
    QVERIFY(h.Run());
    QCOMPARE(h.positions, (QList<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(h.ends, QList<bool>{false});
    QVERIFY(!h.queue.IsRunning());
    for (int r = 0; r < 5; ++r) QCOMPARE(h.Result(r), TRowResult::Converted);
    QCOMPARE(h.percents[0], (QStringList{"20", "80"}));
    QCOMPARE(h.percents[1], (QStringList{"12"}));
    QCOMPARE(h.percents[2], (QStringList{"0", "101"}));  // not limited to 100
    QCOMPARE(h.percents[3], (QStringList{"0"}));
    QVERIFY(h.percents[4].isEmpty());
    QVERIFY(h.texts.contains(QStringLiteral("frame= 2 time=N/A\n")));  // shown although it is no number
    QCOMPARE(h.queue.Rows().at(2).durationSeconds, 7200);
    QCOMPARE(h.queue.Rows().at(4).durationSeconds, -1);
    // A new run starts again at the first row.
    h.positions.clear();
    QVERIFY(h.Run());
    QCOMPARE(h.positions.first(), 0);
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

  void convertedOnlyOnStatusZeroAfterSummary() {
    Harness h;
    h.Add(QStringLiteral("summary-then-1.avi"), "say Error: disk full\nsummary\nexit 1\n");
    h.Add(QStringLiteral("zero-without-summary.avi"),
          "progress 3.00\nsay Warning: stream ended early\nexit 0\n");
    h.Add(QStringLiteral("crash.avi"), "progress 3.00\nsleep 100\ncrash\n");
    h.Add(QStringLiteral("silent.avi"), "exit 0\n");
    h.Add(QStringLiteral("good.avi"), "progress 5.00\nsummary\n");
    h.rows << TQueueRow{h.dir.filePath(QStringLiteral("missing.avi")), QStringLiteral("00:00:10")};
    QVERIFY(h.Run());
    QCOMPARE(h.Result(0), TRowResult::Failed);
    QCOMPARE(h.Reason(0), QStringLiteral("Error: disk full"));
    QCOMPARE(h.Result(1), TRowResult::Failed);
    QCOMPARE(h.Reason(1), QStringLiteral("Warning: stream ended early"));
    QCOMPARE(h.Result(2), TRowResult::Failed);
    QVERIFY(!h.Reason(2).isEmpty());
    QCOMPARE(h.Result(3), TRowResult::Failed);
    QVERIFY(!h.Reason(3).isEmpty());
    QCOMPARE(h.Result(4), TRowResult::Converted);
    QCOMPARE(h.Result(5), TRowResult::Failed);
    QCOMPARE(h.Reason(5), QStringLiteral("standin: cannot open the source"));
    QCOMPARE(h.ends, QList<bool>{false});
    QCOMPARE(ProcessCheck::Zombies(), 0);
  }

  void stopSendsQuitKeyAndReapsTheEncoder() {
    Harness h;
    h.Add(QStringLiteral("a.avi"), "summary\n");
    h.Add(QStringLiteral("b.avi"), "progress 3.00\nsleep 10000\nsummary\n");
    h.Add(QStringLiteral("c.avi"), "summary\n");
    h.tick.start(40);
    QVERIFY(h.queue.Start(h.rows));
    QTRY_COMPARE(h.percents.value(1), QStringList{"30"});
    const long long pid = h.queue.Encoder()->Pid();
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
      QCOMPARE(h.prepared, 0);  // before the first row starts
      QCOMPARE(rows.size(), 3);
      for (TQueueRow& row : rows) row.output = row.source + QStringLiteral(".planned");
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

  void parsing() {
    int s = -1;
    QVERIFY(TConvQueue::ParseProgressTime(QStringLiteral("frame= 1 time=   12.96 bitrate"), &s));
    QCOMPARE(s, 12);
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
