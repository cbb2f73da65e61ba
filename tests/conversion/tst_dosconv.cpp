// The encoder's process runner on real pipes and processes: reading without
// waiting, the exit status, the last error line, and the child's reaping.
#include "ProcessCheck.h"
#include "conversion/DosConvFunc.h"
#include "platform/ChildProcess.h"
#include "platform/CommandLine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <signal.h>

namespace {

const QString kStandin = QStringLiteral(STANDIN_PATH);

QString Line(const QStringList& argv) {
  QStringList quoted;
  for (const QString& a : argv) quoted << Platform::QuoteArg(a);
  return quoted.join(QLatin1Char(' '));
}

// Starts a runner on a program and its arguments (argv[0] the program).
bool Start(TDosProcess& runner, const QStringList& argv) {
  return runner.StartDosProcess(argv.value(0), argv.mid(1));
}

// Starts a runner and waits for its end (the output stays in the pipe).
std::unique_ptr<TDosProcess> RunToEnd(const QStringList& argv) {
  auto runner = std::make_unique<TDosProcess>();
  QSignalSpy ended(runner.get(), &TDosProcess::Ended);
  if (!Start(*runner, argv)) return runner;
  if (!runner->HasEnded()) ended.wait(10000);
  return runner;
}

// A stand-in script in a temporary folder, run in the encoder's form.
QStringList ScriptArgv(const QTemporaryDir& dir, const QString& name, const QByteArray& script) {
  const QString src = dir.filePath(name);
  QFile f(src);
  f.open(QIODevice::WriteOnly);
  f.write(script);
  f.close();
  return {kStandin, QStringLiteral("-y"), QStringLiteral("-ipt"), src, dir.filePath(QStringLiteral("o.mp4"))};
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
    TDosProcess runner;
    QVERIFY(Start(runner, {kStandin, QStringLiteral("sleep"), QStringLiteral("3000")}));
    QVERIFY(runner.Pid() > 0);
    QElapsedTimer t;
    t.start();
    // A read on the empty pipe of a live writer would hang here.
    QCOMPARE(runner.ReadDosPipe(), QString());
    QVERIFY(t.elapsed() < 1000);
    QVERIFY(!runner.HasEnded());
    QSignalSpy ended(&runner, &TDosProcess::Ended);
    kill(static_cast<pid_t>(runner.Pid()), SIGTERM);
    QVERIFY(ended.wait(5000));
    QVERIFY(runner.Crashed());
    QVERIFY(!ProcessCheck::IsChild(runner.Pid()));  // reaped
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
    auto runner =
        RunToEnd({kStandin, QStringLiteral("bytes"), QString::number(bytes), QStringLiteral("a")});
    QVERIFY(runner->HasEnded());
    QCOMPARE(runner->ExitCode(), 0);
    const QString text = runner->ReadDosPipe();
    QCOMPARE(text.size(), expectedLength);
    QCOMPARE(text.count(QLatin1Char('a')), expectedA);
    QVERIFY(text.endsWith(QString(std::min(1200, bytes), QLatin1Char('z'))));
    // Drained: the next poll finds nothing.
    QCOMPARE(runner->ReadDosPipe(), QString());
  }

  void zeroByteEndsTextAndUtf8IsKept() {
    auto runner = RunToEnd({kStandin, QStringLiteral("zero")});
    QCOMPARE(runner->ReadDosPipe(), QStringLiteral("before"));
    QCOMPARE(runner->ReadDosPipe(), QString());
    runner = RunToEnd({kStandin, QStringLiteral("args"), QStringLiteral("中文")});
    const QStringList lines = runner->ReadDosPipe().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(QString::fromUtf8(QByteArray::fromHex(lines.value(1).toLatin1())), QStringLiteral("中文"));
  }

  void missingProgramIsQuiet() {
    const int zombiesBefore = ProcessCheck::Zombies();
    TDosProcess runner;
    QVERIFY(!runner.StartDosProcess(QStringLiteral("/nonexistent/folder/make"), {QStringLiteral("-ipt"), QStringLiteral("a.avi"), QStringLiteral("b.mp4")}));
    QCOMPARE(runner.Pid(), -1LL);
    QVERIFY(runner.HasEnded());
    QCOMPARE(runner.ReadDosPipe(), QString());
    QVERIFY(!runner.SendQuitKey());  // nobody reads: no signal, no error
    QCOMPARE(ProcessCheck::Zombies(), zombiesBefore);
    // A non-executable file is not handed to a shell either.
    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("make")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("touch " + dir.filePath(QStringLiteral("ran")).toUtf8() + "\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    TDosProcess second;
    QVERIFY(!second.StartDosProcess(script.fileName(), {}));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("ran"))));
    QCOMPARE(ProcessCheck::Zombies(), zombiesBefore);
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
    auto runner = RunToEnd(QStringList{kStandin, QStringLiteral("args")} + args);
    const QStringList lines = runner->ReadDosPipe().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList received;
    for (const QString& hex : lines) received << QString::fromUtf8(QByteArray::fromHex(hex.toLatin1()));
    QCOMPARE(received, QStringList{QStringLiteral("args")} + args);
    QVERIFY(!QFile::exists(marker));
  }

  // How an encoder ended, and the line that says why it failed.
  void exitStatusSummaryAndLastErrorLine() {
    QTemporaryDir dir;
    auto runner =
        RunToEnd(ScriptArgv(dir, QStringLiteral("a.avi"),
                            "say banner\nprogress 1.00\nsay Error: first\nsay Error: no space left\n"
                            "progress 2.00\nsummary\nexit 1\n"));
    QCOMPARE(runner->ExitCode(), 1);
    QVERIFY(!runner->Crashed());
    runner->ReadDosPipe();
    QVERIFY(runner->SummarySeen());
    // Progress lines and the summary are no error lines.
    QVERIFY(runner->LastError() && !runner->LastError()->code);
    QCOMPARE(runner->LastError()->text, QStringLiteral("no space left"));

    // A last line without a line end counts once the encoder has ended.
    runner = RunToEnd(ScriptArgv(dir, QStringLiteral("b.avi"), "say one\nraw Error: cut short"));
    runner->ReadDosPipe();
    QCOMPARE(runner->ExitCode(), 0);
    QVERIFY(!runner->SummarySeen());
    QVERIFY(runner->LastError());
    QCOMPARE(runner->LastError()->text, QStringLiteral("cut short"));

    runner = RunToEnd(ScriptArgv(dir, QStringLiteral("c.avi"), "progress 1.00\ncrash\n"));
    QVERIFY(runner->Crashed());
    QCOMPARE(runner->ExitCode(), -1);
    QVERIFY(!runner->LastError());
  }

  void quitKeyReachesChildAndGoneReaderIsHarmless() {
    QTemporaryDir dir;
    TDosProcess runner;
    QSignalSpy ended(&runner, &TDosProcess::Ended);
    QVERIFY(Start(runner, ScriptArgv(dir, QStringLiteral("s.avi"), "say banner\nsleep 5000\nsay late\n")));
    QString read;
    QVERIFY(QTest::qWaitFor([&] { return !(read = runner.ReadDosPipe()).isEmpty(); }, 5000));
    QCOMPARE(read, QStringLiteral("banner\n"));
    QVERIFY(runner.SendQuitKey());
    QVERIFY(ended.wait(5000));
    QCOMPARE(runner.ExitCode(), 0);
    QFile log(dir.filePath(QStringLiteral("s.avi.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("\nq\n"));
    // The reader has gone: writing again must not raise SIGPIPE.
    QVERIFY(!runner.SendQuitKey());
  }

  void manyStartsLeakNothing() {
    // Warm up once so that lazily opened descriptors are counted.
    RunToEnd({QStringLiteral("/bin/true")});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int fdsBefore = ProcessCheck::OpenFdCount();
    {
      std::vector<std::unique_ptr<TDosProcess>> runners;
      for (int i = 0; i < 300; ++i) {
        runners.push_back(std::make_unique<TDosProcess>());
        Start(*runners.back(), i % 2 ? QStringList{QStringLiteral("/bin/true")}
                                     : QStringList{QStringLiteral("/nonexistent/make"), QStringLiteral("x")});
        if (i % 3 == 0) runners.back()->ReadDosPipe();
      }
      // Every child is reaped as it ends, without anybody asking.
      QTRY_VERIFY_WITH_TIMEOUT(
          std::all_of(runners.begin(), runners.end(), [](const auto& r) { return r->HasEnded(); }), 20000);
      QCOMPARE(ProcessCheck::Zombies(), 0);
    }
    QCOMPARE(ProcessCheck::OpenFdCount(), fdsBefore);
  }

  void runnerGoneWhileEncoderRunsKeepsItsPipeAndReapsIt() {
    // A stopped encoder may still be closing its file and writing: dropping
    // its runner must neither cut its output pipe nor leave a zombie.
    QTemporaryDir dir;
    const int fdsBefore = ProcessCheck::OpenFdCount();
    long long pid = -1;
    {
      TDosProcess runner;
      QVERIFY(Start(runner,
          ScriptArgv(dir, QStringLiteral("slow.avi"), "sleep 300\nsay still writing\nsleep 100\nexit 0\n")));
      pid = runner.Pid();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessCheck::IsChild(pid), 10000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(ProcessCheck::OpenFdCount(), fdsBefore);
    QFile log(dir.filePath(QStringLiteral("slow.avi.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("exit 0"));  // it was not ended by a broken pipe
  }
};

QTEST_GUILESS_MAIN(TestDosConv)
#include "tst_dosconv.moc"
