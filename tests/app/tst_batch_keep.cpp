// The batch that outlives the window, and files given while it runs, through the main
// window with the scripted stand-in encoder: the list file after each change, a new
// start after a close and after a crash, a damaged list file, files that join a run (a
// drop and a second start of the program), and the run's progress in our own words.
#include "conversion/QueueFile.h"
#include "platform/SingleInstance.h"
#include "tests/conversion/ProcessCheck.h"
#include "tests/conversion/QueueEnv.h"

#include <QAction>
#include <QMenu>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {

const QString kStandin = QStringLiteral(STANDIN_PATH);

QString Word(TRowResult r) {
  switch (r) {
    case TRowResult::Waiting:
      return QStringLiteral("waiting");
    case TRowResult::Converting:
      return QStringLiteral("converting");
    case TRowResult::Converted:
      return QStringLiteral("converted");
    case TRowResult::Failed:
      return QStringLiteral("failed");
    case TRowResult::Stopped:
      return QStringLiteral("stopped");
    case TRowResult::Skipped:
      return QStringLiteral("skipped");
    case TRowResult::Interrupted:
      return QStringLiteral("interrupted");
  }
  return QString();
}

// What the list file holds once the window has written its last change: "name:state".
QStringList Kept(QueueEnv& env) {
  if (!QTest::qWaitFor([&] { return !env.form()->AvSaveTimer->isActive(); }, 5000)) return {"<not written>"};
  env.form()->BatchStore->Flush();
  QStringList out;
  for (const TQueueRow& r : ReadQueueFile(env.QueueFile()).rows)
    out << QFileInfo(r.source).fileName() + ':' + Word(r.result);
  return out;
}

// A stand-in script as a source file, added the way the user adds files.
QString Script(QueueEnv& env, const QString& name, const QByteArray& script) {
  const QString path = env.SourceDir() + QLatin1Char('/') + name;
  TestSupport::WriteBytes(path, script);
  return path;
}

void Reconvert(QueueEnv& env, int row) {
  std::unique_ptr<QMenu> menu(env.form()->BuildRowMenu(row));
  menu->findChild<QAction*>(QStringLiteral("ReconvertRowAct"))->trigger();
}

void Ack(const QString& source) {
  QFile ack(source + QStringLiteral(".ack"));
  QVERIFY(ack.open(QIODevice::Append));
  ack.write(".");
}

bool Said(const QString& source) { return QFileInfo(source + QStringLiteral(".said")).size() > 0; }

}  // namespace

class TestBatchKeep : public QObject {
  Q_OBJECT

 private slots:
  // The list file follows every change of the list: add, remove, a run's results, a
  // stop, a close; the next start shows it again.
  void listFileFollowsTheList() {
    QueueEnv env(kStandin);
    const QString a = Script(env, QStringLiteral("a.avi"), "say Error: source-damaged: x\nexit 1\n");
    const QString b = Script(env, QStringLiteral("b.avi"), "write\nsummary\n");
    const QString c = Script(env, QStringLiteral("c.avi"), "summary\n");
    const struct {
      const char* step;
      std::function<void()> act;
      QStringList kept;
    } steps[] = {
        {"add",
         [&] {
           Drop(env.list(), {a, b, c});
         },
         {"a.avi:waiting", "b.avi:waiting", "c.avi:waiting"}},
        {"remove",
         [&] {
           env.list()->SelectRow(2);
           env.form()->DelAvFileBtnClick();
         },
         {"a.avi:waiting", "b.avi:waiting"}},
        {"finish and fail",
         [&] {
           env.form()->CvAvFileBtnClick();
           QVERIFY(env.WaitIdle());
         },
         {"a.avi:failed", "b.avi:converted"}},
        {"converting",
         [&] {
           TestSupport::WriteBytes(a, "length 10\nwrite\nprogress 3.00\nhold\nsummary\n");
           Reconvert(env, 0);
           env.form()->CvAvFileBtnClick();
           QTRY_VERIFY(Said(a));
         },
         {"a.avi:converting", "b.avi:converted"}},
        {"stop",
         [&] {
           env.form()->StopCvAvBtnClick();
           QTRY_VERIFY(!ProcessCheck::Children().size());
         },
         {"a.avi:stopped", "b.avi:converted"}},
        {"close during a run",
         [&] {
           Reconvert(env, 0);
           QFile::remove(a + QStringLiteral(".said"));
           env.form()->CvAvFileBtnClick();
           QTRY_VERIFY(Said(a));
           env.Restart(true);
         },
         {"a.avi:interrupted", "b.avi:converted"}},
        {"clear",
         [&] {
           QTRY_VERIFY(!ProcessCheck::Children().size());
           env.form()->ClearAvFileBtnClick();
         },
         {}},
    };
    for (const auto& s : steps) {
      s.act();
      QVERIFY2(!QTest::currentTestFailed(), s.step);
      QCOMPARE(Kept(env), s.kept);
    }
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  // A new start shows the list as it was left: a finished row stays finished while its
  // output is there as it was made; a row cut off by a crash is interrupted, says so and
  // where its unfinished file is, and waits again, as do the waiting rows and the finished
  // one whose output went. 转换 then converts those, and only those.
  void restoredAfterACrash() {
    QueueEnv env(kStandin);
    const QString media = TestSupport::SourceDir() + QStringLiteral("/tests/data/media/clip.mp4");
    auto row = [&](const QString& name, TRowResult state) {
      TQueueRow r;
      r.source = Script(env, name, "length 10\nprogress 10.00\nsummary\n");
      r.typeText = QStringLiteral("avi");
      r.sizeText = QStringLiteral("0.01 MB");
      r.durationText = QStringLiteral("00:00:10");
      r.result = state;
      return r;
    };
    TQueueRow done = row(QStringLiteral("done.avi"), TRowResult::Converted);
    done.output = env.SaveDir() + QStringLiteral("/done.mp4");
    TestSupport::WriteBytes(done.output, "the finished output");
    done.outputBytes = QFileInfo(done.output).size();
    TQueueRow gone = row(QStringLiteral("gone.avi"), TRowResult::Converted);
    gone.output = env.SaveDir() + QStringLiteral("/gone.mp4");
    gone.outputBytes = 100;
    TQueueRow cut = row(QStringLiteral("cut.avi"), TRowResult::Converting);
    cut.output = env.SaveDir() + QStringLiteral("/cut.mp4");
    cut.nextUnfinished = env.SaveDir() + QStringLiteral("/cut (未完成).mp4");
    const TQueueRow waiting = row(QStringLiteral("waiting.avi"), TRowResult::Waiting);
    TQueueRow failed = row(QStringLiteral("failed.avi"), TRowResult::Failed);
    failed.reason = QStringLiteral("源文件已损坏或不是视频文件");
    // The program was killed mid-run: its encoder left what it had.
    QVERIFY(QFile::copy(media, cut.nextUnfinished));
    TestSupport::WriteBytes(env.QueueFile(), QueueFileBytes({done, gone, cut, waiting, failed}));
    env.Restart(false);

    QCOMPARE(env.list()->RowCount(), 5);
    QCOMPARE(env.form()->MsgStatusPanel->text(),
             QStringLiteral("已恢复上次未完成的 3 个文件, 另有 1 个已完成"));
    const struct {
      int icon;
      const char* progress;
      const char* tip;  // a part of the row's tool tip
    } shown[] = {
        {kIconFinished, "100%", "输出文件: "},
        {kIconWaiting, "0%", "上次转换的输出文件 gone.mp4 已不在, 将重新转换"},
        {kIconWaiting, "已中断", "(含前 00:00:0"},
        {kIconWaiting, "0%", ""},
        {kIconStopped, "失败", "源文件已损坏或不是视频文件"},
    };
    for (int r = 0; r < 5; ++r) {
      QCOMPARE(env.list()->ImageIndex(r), shown[r].icon);
      QCOMPARE(env.list()->SubItem(r, 3), QString::fromUtf8(shown[r].progress));
      QVERIFY2(env.list()->topLevelItem(r)->toolTip(4).contains(QString::fromUtf8(shown[r].tip)),
               qPrintable(env.list()->topLevelItem(r)->toolTip(4)));
    }
    QVERIFY(env.list()->topLevelItem(2)->toolTip(4).contains(cut.nextUnfinished));
    QCOMPARE(Kept(env), (QStringList{"done.avi:converted", "gone.avi:waiting", "cut.avi:interrupted",
                                     "waiting.avi:waiting", "failed.avi:failed"}));

    // The interrupted row completes: its output takes the final name, the unfinished
    // file goes to the trash.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle());
    qunsetenv("XDG_DATA_HOME");
    for (int r : {0, 4}) QCOMPARE(env.LogOfRow(r), QString());
    for (int r : {1, 2, 3}) QCOMPARE(env.LogOfRow(r).count(QStringLiteral("start")), 1);
    QVERIFY(!QFile::exists(cut.nextUnfinished));
    QCOMPARE(QDir(home.filePath(QStringLiteral("Trash/files"))).entryList(QDir::Files),
             QStringList{QStringLiteral("cut (未完成).mp4")});
    QVERIFY(env.list()->topLevelItem(2)->toolTip(4).contains(
        QStringLiteral("之前未完成的文件 cut (未完成).mp4 已移到回收站")));
  }

  // A list file that cannot be read is set aside and never holds the start up.
  void damagedListFileSetAside() {
    QueueEnv env(kStandin);
    env.Restart(false);
    TestSupport::WriteBytes(env.QueueFile(), "{\"format\": \"vidmora-queue\", \"version\": 1, \"rows\": [");
    env.Restart(false);
    QCOMPARE(env.list()->RowCount(), 0);
    QVERIFY2(env.form()->MsgStatusPanel->text().startsWith(
                 QStringLiteral("上次的转换列表无法读取 (文件已损坏)，已另存为 ConvQueue.json.broken-")),
             qPrintable(env.form()->MsgStatusPanel->text()));
    const QStringList aside = QDir(env.app.Path()).entryList({QStringLiteral("ConvQueue.json.broken-*")});
    QCOMPARE(aside.size(), 1);
    QVERIFY(ReadQueueFile(env.QueueFile()).rows.isEmpty());
  }

  // "Open with" while a batch runs: a second start of the program hands its file to the
  // window, which lists it, says so, and converts it in the same run.
  void secondStartJoinsTheRun() {
    QueueEnv env(kStandin);
    QTemporaryDir runtime;
    Platform::TSingleInstance instance(QStringLiteral("vidmora"), runtime.path());
    QCOMPARE(instance.Claim({}), Platform::TSingleInstance::TClaim::kFirst);
    QObject::connect(&instance, &Platform::TSingleInstance::FilesReceived, env.form(),
                     [&](const QStringList& paths) { env.form()->TakeStartFiles(paths); });
    const QString first =
        Script(env, QStringLiteral("first.avi"), "length 10\nprogress 1.00\nhold\nprogress 10.00\nsummary\n");
    const QString later = Script(env, QStringLiteral("later.avi"), "length 10\nprogress 10.00\nsummary\n");
    Drop(env.list(), {first});
    env.form()->CvAvFileBtnClick();
    QTRY_VERIFY(Said(first));

    QProcess second;
    QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    system.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    system.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(system);
    second.start(TestSupport::BuiltAppDir() + QStringLiteral("/vidmora"), {later});
    // The window answers from its event loop, which runs while this waits.
    QVERIFY(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
    QVERIFY2(second.exitCode() == 0, second.readAllStandardError().constData());
    QTRY_COMPARE(env.list()->RowCount(), 2);
    QCOMPARE(env.list()->Caption(1), later);
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("已添加 1 个文件, 将在本次转换中依次转换"));
    QVERIFY(env.form()->RunStatusPanel->text().startsWith(QStringLiteral("完成 0/2 个")));
    Ack(first);
    QVERIFY(env.WaitIdle());
    QCOMPARE(env.list()->ImageIndex(1), kIconFinished);
    QCOMPARE(env.LogOfRow(1).count(QStringLiteral("start")), 1);
    QCOMPARE(env.notice.notices, QStringList{QStringLiteral("转换完成|完成 2 个, 失败 0 个")});
  }

  // The first panel tells the run's progress in our own words, from the encoder's clock;
  // the running row's tool tip the output's size so far and at the end; the remaining
  // time waits until it is steady; a finished row and the end tell the sizes.
  void progressInOurWords() {
    QueueEnv env(kStandin);
    const QString a = Script(env, QStringLiteral("a.avi"),
                             "length 10\nwrite\nprogress 4.00\nhold\nprogress 10.00\nsummary\n");
    Drop(env.list(), {a});
    env.form()->CvAvFileBtnClick();
    QTRY_VERIFY(Said(a));
    QTRY_COMPARE(env.form()->MsgStatusPanel->text(),
                 QStringLiteral("正在转换 00:00:04 / 00:00:10, 50 帧/秒"));
    QCOMPARE(env.form()->CvStatusGauge->value(), 40);
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("40%"));
    QCOMPARE(env.list()->topLevelItem(0)->toolTip(4),
             QStringLiteral("正在转换: 已输出 256 KB, 预计共 640 KB"));
    QVERIFY2(env.form()->RunStatusPanel->text().endsWith(QStringLiteral("剩余 正在估算")),
             qPrintable(env.form()->RunStatusPanel->text()));
    Ack(a);
    QVERIFY(env.WaitIdle());
    QVERIFY2(env.list()->topLevelItem(0)->toolTip(4).endsWith(QStringLiteral("源文件 1 KB → 输出 1 KB")),
             qPrintable(env.list()->topLevelItem(0)->toolTip(4)));
    QCOMPARE(env.form()->MsgStatusPanel->text(),
             QStringLiteral("完成 1 个, 失败 0 个, 源文件共 1 KB, 输出共 1 KB"));
  }
};

QTEST_MAIN(TestBatchKeep)
#include "tst_batch_keep.moc"
