// The encoder's process runner on real pipes and processes, and the
// command-line splitting and quoting it relies on.
#include "conversion/DosConvFunc.h"
#include "platform/CommandLine.h"
#include "platform/Process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kStandin = QStringLiteral(STANDIN_PATH);

int OpenFdCount() {
  return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// Zombie children of this process.
int ZombieCount() {
  int zombies = 0;
  const QString self = QString::number(getpid());
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool isPid = false;
    entry.toInt(&isPid);
    if (!isPid) continue;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0) continue;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() > 1 && fields[1] == self.toLatin1() && fields[0] == "Z") ++zombies;
  }
  return zombies;
}

// Waits until the last start has ended and its output has reached the pipe.
void WaitForEnd(int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!DosProcessEnded() && t.elapsed() < timeoutMs) QThread::msleep(5);
  QVERIFY(DosProcessEnded());
}

QString Line(const QStringList& argv) {
  QStringList quoted;
  for (const QString& a : argv) quoted << Platform::QuoteArg(a);
  return quoted.join(QLatin1Char(' '));
}

}  // namespace

class TestDosConv : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(QFile::exists(kStandin)); }

  void splitAndQuoteRoundTrip() {
    const QStringList nasty = {QStringLiteral("plain"),
                               QStringLiteral("with blank"),
                               QStringLiteral("tab\there"),
                               QStringLiteral("quote\"inside"),
                               QStringLiteral("\"quoted\""),
                               QStringLiteral("trailing\\"),
                               QStringLiteral("blank and trailing\\"),
                               QStringLiteral("slash\\\"quote"),
                               QStringLiteral("a\\\\b c"),
                               QStringLiteral("视频 文件.avi"),
                               QStringLiteral("x;y"),
                               QStringLiteral("$(touch z)"),
                               QStringLiteral("`id`"),
                               QStringLiteral("*")};
    for (const QString& arg : nasty) {
      QCOMPARE(Platform::SplitCommandLine(Platform::QuoteArg(arg)), QStringList{arg});
    }
    QCOMPARE(Platform::SplitCommandLine(Line(nasty)), nasty);
    // Arguments without blank or quote stay exactly as they are.
    QCOMPARE(Platform::QuoteArg(QStringLiteral("/a/b\\c.avi")), QStringLiteral("/a/b\\c.avi"));
    QCOMPARE(Platform::QuoteArg(QStringLiteral("/a b/c.avi")), QStringLiteral("\"/a b/c.avi\""));
    // Empty arguments between two blanks do not count; "" is one.
    QCOMPARE(Platform::SplitCommandLine(QStringLiteral("a  b \"\" c")),
             (QStringList{QStringLiteral("a"), QStringLiteral("b"), QString(), QStringLiteral("c")}));
  }

  void nothingWaitingReturnsAtOnce() {
    StartDosProcess(Line({kStandin, QStringLiteral("sleep"), QStringLiteral("3000")}));
    QVERIFY(DosProcessId() > 0);
    QVERIFY(OutReadPipe >= 0 && InWritePipe >= 0);
    QCOMPARE(OutWritePipe, -1);  // the child's ends are closed in the program
    QCOMPARE(InReadPipe, -1);
    QElapsedTimer t;
    t.start();
    // A read on the empty pipe of a live writer would hang here.
    QCOMPARE(ReadDosPipe(OutReadPipe), QString());
    QVERIFY(t.elapsed() < 1000);
    QVERIFY(!DosProcessEnded());
    kill(DosProcessId(), SIGTERM);
    WaitForEnd();
  }

  void readsAndKeepsLastChunk_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("expectedLength");
    QTest::addColumn<int>("expectedA");  // leading 'a' bytes in the result
    QTest::newRow("100") << 100 << 100 << 0;
    QTest::newRow("4800") << 4800 << 4800 << 3600;
    QTest::newRow("6000") << 6000 << 1200 << 0;
    QTest::newRow("12000") << 12000 << 2400 << 1200;
  }
  void readsAndKeepsLastChunk() {
    QFETCH(int, bytes);
    QFETCH(int, expectedLength);
    QFETCH(int, expectedA);
    StartDosProcess(Line({kStandin, QStringLiteral("bytes"), QString::number(bytes), QStringLiteral("a")}));
    WaitForEnd();
    QCOMPARE(Platform::BytesWaiting(OutReadPipe), bytes);
    const QString text = ReadDosPipe(OutReadPipe);
    QCOMPARE(text.size(), expectedLength);
    QCOMPARE(text.count(QLatin1Char('a')), expectedA);
    QVERIFY(text.endsWith(QString(std::min(1200, bytes), QLatin1Char('z'))));
    // Drained: the next poll finds nothing.
    QCOMPARE(ReadDosPipe(OutReadPipe), QString());
  }

  void zeroByteEndsText() {
    StartDosProcess(Line({kStandin, QStringLiteral("zero")}));
    WaitForEnd();
    QCOMPARE(ReadDosPipe(OutReadPipe), QStringLiteral("before"));
    QCOMPARE(ReadDosPipe(OutReadPipe), QString());
  }

  void utf8TextIsKept() {
    StartDosProcess(Line({kStandin, QStringLiteral("args"), QStringLiteral("中文")}));
    WaitForEnd();
    const QStringList lines = ReadDosPipe(OutReadPipe).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(QString::fromUtf8(QByteArray::fromHex(lines.value(1).toLatin1())), QStringLiteral("中文"));
  }

  void missingProgramIsQuiet() {
    const int zombiesBefore = ZombieCount();
    StartDosProcess(QStringLiteral("/nonexistent/folder/make -y -ipt a.avi b.mp4"));
    QCOMPARE(DosProcessId(), -1);
    QVERIFY(OutReadPipe >= 0);  // the pipes exist
    QVERIFY(DosProcessEnded());
    for (int i = 0; i < 3; ++i) QCOMPARE(ReadDosPipe(OutReadPipe), QString());
    QVERIFY(!SendDosQuitKey());  // nobody reads: no signal, no error
    QCOMPARE(ZombieCount(), zombiesBefore);
    // A non-executable file is not handed to a shell either.
    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("make")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("touch " + dir.filePath(QStringLiteral("ran")).toUtf8() + "\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    StartDosProcess(script.fileName());
    QThread::msleep(200);
    QVERIFY(DosProcessEnded());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("ran"))));
  }

  void argumentsReachChildExactly() {
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("marker"));
    const QStringList args = {
        dir.filePath(QStringLiteral("My Videos/clip 1.avi")),
        QStringLiteral("say \"hello\" there"),
        dir.filePath(QStringLiteral("视频 文件/片段.avi")),
        QStringLiteral("a; touch ") + marker,
        QStringLiteral("$(touch ") + marker + QStringLiteral(")"),
        QStringLiteral("`touch ") + marker + QStringLiteral("`"),
        QStringLiteral("*"),
        QStringLiteral("ends with backslash\\"),
        QStringLiteral("|&>"),
    };
    StartDosProcess(Line(QStringList{kStandin, QStringLiteral("args")} + args));
    WaitForEnd();
    const QStringList lines = ReadDosPipe(OutReadPipe).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList received;
    for (const QString& hex : lines) received << QString::fromUtf8(QByteArray::fromHex(hex.toLatin1()));
    QCOMPARE(received, QStringList{QStringLiteral("args")} + args);
    QVERIFY(!QFile::exists(marker));
  }

  void quitKeyReachesChildAndGoneReaderIsHarmless() {
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("s.avi"));
    QFile f(src);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("say banner\nsleep 5000\nsay late\n");
    f.close();
    StartDosProcess(
        Line({kStandin, QStringLiteral("-y"), QStringLiteral("-ipt"), src, QStringLiteral("o.mp4")}));
    QThread::msleep(100);
    QVERIFY(SendDosQuitKey());
    WaitForEnd();
    QCOMPARE(ReadDosPipe(OutReadPipe), QStringLiteral("banner\n"));
    QFile log(src + QStringLiteral(".log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("\nq\n"));
    // The reader has gone: writing again must not raise SIGPIPE.
    QVERIFY(!SendDosQuitKey());
  }

  void thousandStartsLeakNothing() {
    // Warm up once so that lazily opened descriptors are counted.
    StartDosProcess(QStringLiteral("/bin/true"));
    WaitForEnd();
    ReapDosProcesses();
    const int fdsBefore = OpenFdCount();
    for (int i = 0; i < 1000; ++i) {
      StartDosProcess(i % 2 ? QStringLiteral("/bin/true") : QStringLiteral("/nonexistent/make x"));
      if (i % 3 == 0) ReadDosPipe(OutReadPipe);
    }
    WaitForEnd();
    // Earlier children may still be running on a busy machine: they are
    // neither zombies yet nor released; wait for every one to end.
    QElapsedTimer t;
    t.start();
    do {
      ReapDosProcesses();
      if (ZombieCount() == 0 && OpenFdCount() == fdsBefore) break;
      QThread::msleep(10);
    } while (t.elapsed() < 10000);
    QCOMPARE(ZombieCount(), 0);
    QCOMPARE(OpenFdCount(), fdsBefore);
  }

  void replacedRunningEncoderKeepsItsPipeUntilItEnds() {
    // A stopped encoder may still be closing its file and writing: the next
    // start must not cut its output pipe from under it.
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("slow.avi"));
    QFile f(src);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("sleep 300\nsay still writing\nsleep 100\nexit 0\n");
    f.close();
    StartDosProcess(
        Line({kStandin, QStringLiteral("-y"), QStringLiteral("-ipt"), src, QStringLiteral("o.mp4")}));
    const int fdsWhileRunning = OpenFdCount();
    StartDosProcess(QStringLiteral("/bin/true"));
    QCOMPARE(OpenFdCount(), fdsWhileRunning + 2);  // old ends kept, new ends open
    QElapsedTimer t;
    t.start();
    do {
      QThread::msleep(50);
      ReapDosProcesses();
    } while (OpenFdCount() != fdsWhileRunning && t.elapsed() < 10000);
    QCOMPARE(OpenFdCount(), fdsWhileRunning);
    QFile log(src + QStringLiteral(".log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("exit 0"));  // it was not ended by a broken pipe
  }
};

QTEST_GUILESS_MAIN(TestDosConv)
#include "tst_dosconv.moc"
