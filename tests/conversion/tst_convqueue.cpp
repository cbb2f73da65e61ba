// The conversion queue as the main window shows it, with a scripted stand-in
// for the encoder: the order of a run, progress, stopping, power-off, the
// command line, and encoders that fail. The queue's own rules are tested
// without a window in tst_conv_core.
#include "ProcessCheck.h"
#include "QueueEnv.h"
#include "app/FileAdder.h"
#include "conversion/ConvQueue.h"
#include "conversion/DosConvFunc.h"
#include "encoder/TempName.h"
#include "platform/CommandLine.h"
#include "platform/Platform.h"
#include "settings/AppSettings.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHash>
#include <QMimeData>
#include <QSet>
#include <QSignalSpy>

#include <csignal>
#include <cstring>
#include <QUrl>

#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kStandin = QStringLiteral(STANDIN_PATH);

// The banner, three progress lines and the summary, each in a tick of its
// own (a text that begins with the banner is no progress text): each step
// holds until AckHolds lets it go on.
QString ThreeSteps(const QString& a, const QString& b, const QString& c) {
  return QStringLiteral(
             "say banner line\nlength 10.00\nhold\nprogress %1\nhold\nprogress %2\nhold\n"
             "progress %3\nhold\nprogress 10.00\nsummary\n")
      .arg(a, b, c);
}

qint64 SizeOf(const QString& path) { return QFileInfo(path).size(); }

// Lets the running row's stand-in take its next step once a whole tick has
// passed since it finished the last one: that tick's poll read the step alone,
// however slow or busy the machine. Call after every tick.
void AckHolds(QueueEnv& env, QHash<QString, qint64>& saidBefore) {
  const int p = env.form()->ConvQueue->Position();
  if (p < 0 || p >= env.list()->RowCount()) return;
  const QString source = env.list()->Caption(p);
  const QString ack = source + QStringLiteral(".ack");
  if (saidBefore.value(source) > SizeOf(ack)) {
    QFile f(ack);
    if (f.open(QIODevice::Append)) f.write(".");
  }
  saidBefore[source] = SizeOf(source + QStringLiteral(".said"));
}

const QString kLong =
    QStringLiteral("say banner\nlength 10\nsleep 120\nprogress 3.00\nsleep 10000\nsummary\n");

// The percentages a row showed over the ticks, without repeats.
QStringList PercentHistory(const std::vector<Snapshot>& ticks, int row) {
  QStringList seen;
  for (const Snapshot& s : ticks) {
    const QString p = s.percents.value(row);
    if (seen.isEmpty() || seen.last() != p) seen << p;
  }
  return seen;
}

}  // namespace

class TestConvQueue : public QObject {
  Q_OBJECT

 private slots:
  void threeRowsInOrder() {
    // Percentages of the length the encoder says, cut to whole numbers: 2.50 of 10 s is 25%.
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("a.avi"),
                    ThreeSteps(QStringLiteral("2.50"), QStringLiteral("5.10"), QStringLiteral("8.00")));
    env.AddScripted(QStringLiteral("b.avi"),
                    ThreeSteps(QStringLiteral("1.00"), QStringLiteral("4.00"), QStringLiteral("9.99")));
    env.AddScripted(QStringLiteral("c.wmv"),
                    ThreeSteps(QStringLiteral("3.00"), QStringLiteral("6.00"), QStringLiteral("7.00")));
    QHash<QString, qint64> said;
    env.afterTick = [&] { AckHolds(env, said); };
    env.form()->CvAvFileBtnClick();
    // The first file starts inside the click.
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("0"));
    QCOMPARE(env.list()->ImageIndex(0), kIconConverting);
    QCOMPARE(env.list()->ImageIndex(1), kIconWaiting);
    // Files may still be added; the list keeps its rows otherwise.
    QVERIFY(env.form()->AddAvFileBtn->isEnabled());
    for (const QWidget* b : {env.form()->DelAvFileBtn, env.form()->CvAvFileBtn, env.form()->ClearAvFileBtn})
      QVERIFY(!b->isEnabled());
    QVERIFY(env.form()->StopCvAvBtn->isEnabled());
    QVERIFY(env.WaitIdle());
    env.ticks.push_back(env.Take());  // the end of the run comes between ticks

    // Each row in turn: converting while the earlier rows are finished and the
    // later ones still waiting.
    for (const Snapshot& s : env.ticks) {
      const int p = s.stat.toInt();
      for (int r = 0; r < 3; ++r) {
        if (r < p) QCOMPARE(s.icons[r], kIconFinished);
        if (r == p) QCOMPARE(s.icons[r], kIconConverting);
        if (r > p) QCOMPARE(s.icons[r], kIconWaiting);
      }
    }
    QCOMPARE(PercentHistory(env.ticks, 0), (QStringList{"0%", "25%", "51%", "80%", "100%"}));
    QCOMPARE(PercentHistory(env.ticks, 1), (QStringList{"0%", "10%", "40%", "99%", "100%"}));
    QCOMPARE(PercentHistory(env.ticks, 2), (QStringList{"0%", "30%", "60%", "70%", "100%"}));

    // The run ends with the last encoder, not a tick later; the text stays "3".
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("3"));
    QVERIFY(!env.form()->AvMsgTimer->isActive());
    QVERIFY(!env.form()->ConvQueue->IsRunning());
    QVERIFY(env.AllButtons(true));
    QCOMPARE(env.list()->ImageIndex(2), kIconFinished);
    QCOMPARE(env.form()->CvStatusGauge->value(), 0);
    // The run ends with its summary, on the status bar and on the desktop.
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("完成 3 个, 失败 0 个"));
    QCOMPARE(env.notice.notices, QStringList{QStringLiteral("转换完成|完成 3 个, 失败 0 个")});
    QCOMPARE(env.power.canCalls + env.power.offCalls + env.power.quitCalls, 0);

    // What reached the encoder: one start per row, the layout of the line.
    for (int r = 0; r < 3; ++r) {
      const QStringList log = env.LogOfRow(r).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      QCOMPARE(log.count(QStringLiteral("start")), 1);
      // No "-y": a planned name replaces nothing.
      QCOMPARE(log.value(1), QStringLiteral("arg:-ipt"));
      QCOMPARE(log.value(2), QStringLiteral("arg:") + env.list()->Caption(r));
      const QString base = QFileInfo(env.list()->Caption(r)).completeBaseName();
      QVERIFY(log.contains(QStringLiteral("arg:") + env.SaveDir() + QStringLiteral("/") + base +
                           QStringLiteral(".mp4")));
    }
    QCOMPARE(env.ErrorBoxes(), 0);

    // A new run starts again at row 0 and converts every row; no row not yet
    // reached keeps the mark of the last run.
    env.ticks.clear();
    env.form()->CvAvFileBtnClick();
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("0"));
    QCOMPARE(env.list()->ImageIndex(0), kIconConverting);
    for (int r = 1; r < 3; ++r) {
      QCOMPARE(env.list()->ImageIndex(r), kIconWaiting);
      QCOMPARE(env.list()->SubItem(r, 3), QStringLiteral("0%"));
      QCOMPARE(env.list()->topLevelItem(r)->toolTip(4), QString());
    }
    env.form()->StopCvAvBtnClick();
  }

  // Three at once over seven rows, the window's side: the setting, each running row
  // its own percentage, names that never collide, one failure among them, the
  // summary, the power-off only after the last, and a stop that ends them all.
  void threeAtOnceOverSevenRows() {
    QueueEnv env(kStandin);
    env.form()->CmbConcurrent->setCurrentIndex(env.form()->CmbConcurrent->findData(3));
    env.form()->CmbConcurrentChange();
    QCOMPARE(TAppSettings().Concurrent(), 3);
    // Seven sources of one name in seven folders: seven outputs in the output folder.
    const QString holding =
        QStringLiteral("length 10\nwrite\nprogress 5.00\nhold\nprogress 10.00\nsummary\n");
    for (int i = 0; i < 7; ++i)
      env.AddScripted(
          QStringLiteral("d%1/clip.avi").arg(i),
          i == 1 ? QStringLiteral("length 10\nprogress 1.00\nsay Error: source-damaged: broken\nexit 1\n")
                 : holding);
    QList<int> started;
    int most = 0;
    QObject::connect(env.form()->ConvQueue, &TConvQueue::RowStarted, env.form(), [&](int row) {
      started << row;
      most = std::max(most, static_cast<int>(env.form()->ConvQueue->RunningRows().size()));
    });
    env.form()->CvFshChkBox->setChecked(true);
    env.form()->CvAvFileBtnClick();
    auto said = [&env](int row) {
      return QFileInfo::exists(env.list()->Caption(row) + QStringLiteral(".said"));
    };
    // d1 fails at once, the others run on: d0, d2 and d3, each at its own 50%.
    QTRY_VERIFY(said(0) && said(2) && said(3));
    QCOMPARE(env.list()->SubItem(1, 3), QStringLiteral("失败"));
    for (int r : {0, 2, 3}) {
      QTRY_COMPARE(env.list()->SubItem(r, 3), QStringLiteral("50%"));
      QCOMPARE(env.list()->ImageIndex(r), kIconConverting);
    }
    QCOMPARE(env.list()->ImageIndex(4), kIconWaiting);
    QTRY_VERIFY(env.form()->MsgStatusPanel->text().startsWith(QStringLiteral("正在同时转换 3 个文件")));
    QTRY_VERIFY(env.form()->RunStatusPanel->text().startsWith(QStringLiteral("完成 1/7 个")));
    // The gauge: one file done (its length counted) and three at half of 10 s, of seventy.
    QTRY_COMPARE(env.form()->CvStatusGauge->value(), 35);
    QCOMPARE(env.power.canCalls, 0);
    // Each encoder its share of the machine's cores (two here).
    QVERIFY(env.LogOfRow(0).contains(QStringLiteral("arg:-threads\narg:1\n")));
    // The rest as the holds are let go; the power-off waits for the last.
    env.afterTick = [&env] {
      if (env.form()->ConvQueue->IsRunning()) QCOMPARE(env.power.canCalls, 0);
      for (int r = 0; r < env.list()->RowCount(); ++r) {
        const QString source = env.list()->Caption(r);
        if (QFileInfo(source + QStringLiteral(".said")).size() >
            QFileInfo(source + QStringLiteral(".ack")).size()) {
          QFile ack(source + QStringLiteral(".ack"));
          if (ack.open(QIODevice::Append)) ack.write(".");
        }
      }
    };
    QVERIFY(env.WaitIdle(30000));
    QCOMPARE(started, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
    QCOMPARE(most, 3);
    QSet<QString> outputs;
    for (int r = 0; r < 7; ++r) {
      QCOMPARE(env.LogOfRow(r).count(QStringLiteral("start")), 1);
      if (r == 1) continue;
      QCOMPARE(env.list()->ImageIndex(r), kIconFinished);
      outputs.insert(env.list()->OutputPath(r));
      QVERIFY(QFileInfo(env.list()->OutputPath(r)).isFile());
    }
    QCOMPARE(outputs.size(), 6);
    QVERIFY(outputs.contains(env.SaveDir() + QStringLiteral("/clip.mp4")));
    QVERIFY(outputs.contains(env.SaveDir() + QStringLiteral("/clip (6).mp4")));
    QVERIFY(env.form()->MsgStatusPanel->text().startsWith(QStringLiteral("完成 6 个, 失败 1 个, 源文件共 ")));
    QCOMPARE(env.notice.notices.size(), 1);
    QVERIFY(env.notice.notices[0].startsWith(QStringLiteral("转换完成|完成 6 个, 失败 1 个")));
    QCOMPARE(env.power.canCalls, 1);
    QCOMPARE(env.power.offCalls, 1);

    // Again, and a stop while three run: each encoder gets its quit key, each row says
    // where its unfinished file is, and nothing powers off.
    env.afterTick = nullptr;
    for (int r = 0; r < 7; ++r) {
      QFile::remove(env.list()->Caption(r) + QStringLiteral(".said"));
      QFile::remove(env.list()->Caption(r) + QStringLiteral(".ack"));
    }
    env.dialogs.questionAnswers.push_back(1);  // the last run's outputs: keep both
    env.form()->CvAvFileBtnClick();
    QTRY_VERIFY(said(0) && said(2) && said(3));
    QTRY_COMPARE(env.list()->SubItem(3, 3), QStringLiteral("50%"));
    env.form()->StopCvAvBtnClick();
    for (int r : {0, 2, 3}) {
      QCOMPARE(env.list()->ImageIndex(r), kIconStopped);
      QTRY_VERIFY(env.LogOfRow(r).contains(QStringLiteral("\nq\nexit 0")));
    }
    for (int r : {4, 5, 6}) QCOMPARE(env.list()->ImageIndex(r), kIconWaiting);
    QCOMPARE(env.form()->MsgStatusPanel->text().count(QStringLiteral("已停止: 未完成的文件保存为")), 3);
    QVERIFY(env.AllButtons(true));
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));
    QCOMPARE(env.power.canCalls, 1);
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  void convertWithEmptyListOrDuringRun() {
    QueueEnv env(kStandin);
    env.form()->CvAvFileBtnClick();
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));
    QVERIFY(!env.form()->AvMsgTimer->isActive());
    QVERIFY(env.AllButtons(true));
    // Stop while idle, with and without rows, does nothing.
    env.form()->StopCvAvBtnClick();
    env.AddScripted(QStringLiteral("a.avi"), kLong);
    env.form()->StopCvAvBtnClick();
    QCOMPARE(env.list()->ImageIndex(0), kIconWaiting);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));

    env.form()->CvAvFileBtnClick();
    env.form()->CvAvFileBtnClick();  // the button is disabled; called anyway
    QTRY_VERIFY(env.LogOfRow(0).contains(QStringLiteral("arg:")));
    QCOMPARE(env.LogOfRow(0).count(QStringLiteral("start")), 1);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("0"));
    env.form()->StopCvAvBtnClick();
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  void stopDuringSecondOfThree() {
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("a.avi"),
                    QStringLiteral("progress 5.00\nsleep 600\nprogress 10.00\nsummary\n"));
    env.AddScripted(QStringLiteral("b.avi"), kLong);
    env.AddScripted(QStringLiteral("c.avi"), kLong);
    env.form()->CvAvFileBtnClick();
    QVERIFY(QTest::qWaitFor([&] { return env.list()->SubItem(1, 3) == QStringLiteral("30%"); }, 10000));
    const long long encoder = env.form()->ConvQueue->Encoder()->Pid();
    env.form()->StopCvAvBtnClick();

    QCOMPARE(env.list()->ImageIndex(0), kIconFinished);
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("100%"));
    QCOMPARE(env.list()->ImageIndex(1), kIconStopped);
    QCOMPARE(env.list()->SubItem(1, 3), QStringLiteral("30%"));
    QCOMPARE(env.list()->ImageIndex(2), kIconWaiting);
    QCOMPARE(env.list()->SubItem(2, 3), QStringLiteral("0%"));
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));
    QVERIFY(!env.form()->AvMsgTimer->isActive());
    QVERIFY(env.AllButtons(true));
    // Where the unfinished file is and how much it holds: never under the final name.
    QCOMPARE(
        env.form()->MsgStatusPanel->text(),
        QStringLiteral("已停止: 未完成的文件保存为 %1/b (未完成).mp4 (已转换 00:00:03)").arg(env.SaveDir()));
    QCOMPARE(env.list()->topLevelItem(1)->toolTip(4),
             QStringLiteral("已停止\n未完成的文件: %1/b (未完成).mp4 (含前 00:00:03)").arg(env.SaveDir()));
    QCOMPARE(env.form()->CvStatusGauge->value(), 0);
    QVERIFY(env.notice.notices.isEmpty());  // a stopped run is no finished batch
    // The second encoder received the quit key and ended by itself.
    QVERIFY(QTest::qWaitFor([&] { return env.LogOfRow(1).contains(QStringLiteral("\nq\nexit 0")); }, 5000));
    QCOMPARE(env.LogOfRow(2), QString());
    // It has been reaped: no defunct child of the program a second after the stop.
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessCheck::IsChild(encoder), 1000);
    // A stopped run never powers off.
    QCOMPARE(env.power.offCalls + env.power.quitCalls, 0);
  }

  void powerOffAfterFinishedRun() {
    {
      QueueEnv env(kStandin);
      env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("summary\n"));
      env.form()->CvFshChkBox->setChecked(true);
      env.form()->CvAvFileBtnClick();
      QVERIFY(env.WaitIdle(5000));
      QCOMPARE(env.power.offCalls, 1);
      QCOMPARE(env.power.quitCalls, 0);
      QCOMPARE(env.power.offCalls, 1);
    }
    {  // The box cleared during the run: no power-off.
      QueueEnv env(kStandin);
      env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("sleep 300\nsummary\n"));
      env.form()->CvFshChkBox->setChecked(true);
      env.form()->CvAvFileBtnClick();
      env.form()->CvFshChkBox->setChecked(false);
      QVERIFY(env.WaitIdle(5000));
      QCOMPARE(env.power.canCalls + env.power.offCalls + env.power.quitCalls, 0);
    }
    {  // Not allowed to power off: the user is told why and the program stays open.
      QueueEnv env(kStandin);
      env.power.allowed = false;
      env.power.refusal = QStringLiteral("找不到系统的登录管理器");
      env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("summary\n"));
      env.form()->CvFshChkBox->setChecked(true);
      env.form()->CvAvFileBtnClick();
      QVERIFY(env.WaitIdle(5000));
      QCOMPARE(env.power.offCalls, 0);
      QCOMPARE(env.power.quitCalls, 0);
      QTRY_COMPARE(env.ErrorBoxes(), 1);
      QCOMPARE(env.dialogs.messages[0].second, QStringLiteral("无法关闭计算机: 找不到系统的登录管理器"));
      QVERIFY(env.form()->isVisible());
    }
    {  // The system takes its time to answer: the window does not wait for it.
      QueueEnv env(kStandin);
      env.power.deferred = true;
      env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("summary\n"));
      env.form()->CvFshChkBox->setChecked(true);
      env.form()->CvAvFileBtnClick();
      QVERIFY(env.WaitIdle(5000));
      QVERIFY(env.AllButtons(true));
      QCOMPARE(env.list()->ImageIndex(0), kIconFinished);
      QCOMPARE(env.power.canCalls, 1);
      QCOMPARE(env.power.offCalls, 0);
      env.power.Answer(true);  // allowed: the power-off is asked for next
      QCOMPARE(env.power.offCalls, 1);
      QCOMPARE(env.power.quitCalls, 0);
      QCOMPARE(env.ErrorBoxes(), 0);
      env.power.Answer(false);  // refused, without a reason: the program stays open
      QCOMPARE(env.power.quitCalls, 0);
      QTRY_COMPARE(env.ErrorBoxes(), 1);
      QCOMPARE(env.dialogs.messages[0].second, QStringLiteral("无法关闭计算机: 系统拒绝了关机请求"));
    }
    {  // The system refuses: its reason is shown and the program stays open.
      QueueEnv env(kStandin);
      env.power.accepts = false;
      env.power.refusal = QStringLiteral("系统拒绝了关机请求 (Access denied)");
      env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("summary\n"));
      env.form()->CvFshChkBox->setChecked(true);
      env.form()->CvAvFileBtnClick();
      QVERIFY(env.WaitIdle(5000));
      QCOMPARE(env.power.offCalls, 1);
      QCOMPARE(env.power.quitCalls, 0);
      QTRY_COMPARE(env.ErrorBoxes(), 1);
      QCOMPARE(env.dialogs.messages[0].second,
               QStringLiteral("无法关闭计算机: 系统拒绝了关机请求 (Access denied)"));
      QVERIFY(env.form()->isVisible());
    }
  }

  void closingWindowStopsRun() {
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("a.avi"), kLong);
    env.form()->CvFshChkBox->setChecked(true);
    env.form()->CvAvFileBtnClick();
    QTRY_VERIFY(env.LogOfRow(0).contains(QStringLiteral("arg:")));
    const long long encoder = env.form()->ConvQueue->Encoder()->Pid();
    // The question comes first; continuing keeps the window and the run.
    QVERIFY(!env.form()->close());
    QCOMPARE(env.dialogs.questions.size(), size_t(1));
    QCOMPARE(env.dialogs.questions[0].text, QStringLiteral("正在转换, 确定停止并退出吗?"));
    QCOMPARE(env.dialogs.questions[0].buttons, (QStringList{"停止并退出", "继续转换"}));
    QCOMPARE(env.dialogs.questions[0].defaultButton, 1);
    QVERIFY(env.form()->ConvQueue->IsRunning());
    QCOMPARE(env.list()->ImageIndex(0), kIconConverting);
    env.dialogs.questionAnswers.push_back(0);
    QVERIFY(env.form()->close());
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));
    QVERIFY(!env.form()->AvMsgTimer->isActive());
    // Cut off by the close: the row waits again, and says why.
    QCOMPARE(env.list()->ImageIndex(0), kIconWaiting);
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("已中断"));
    QVERIFY(QTest::qWaitFor([&] { return env.LogOfRow(0).contains(QStringLiteral("\nq\n")); }, 5000));
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessCheck::IsChild(encoder), 1000);
    QCOMPARE(env.power.offCalls, 0);
  }

  void commandLineLayoutAndQuoting() {
    QueueEnv env(kStandin);
    const int plain = env.AddScripted(QStringLiteral("clip.avi"), QString());
    const int blank = env.AddScripted(QStringLiteral("My Videos/视频 片段 \"1\".avi"), QString());
    TConvMainFunc f;
    const QString fragments = QStringList{f.GetVdoCodecCmd(),   f.GetVdoBitrateCmd(),  f.GetVdoSizeCmd(),
                                          f.GetVdoFpsCmd(),     f.GetVdoAspectCmd(),   f.GetAdoCodecCmd(),
                                          f.GetAdoBitrateCmd(), f.GetAdoChannelsCmd(), f.GetAdoFreqCmd()}
                                  .join(QLatin1Char(' '));
    const QString exe = Platform::ExeDir() + QStringLiteral("make");
    QVERIFY(!exe.contains(QLatin1Char(' ')));
    // Without blanks the line is the plain concatenation.
    QCOMPARE(f.BuildConvCommand(plain), exe + QStringLiteral(" -y -ipt ") + env.list()->Caption(plain) +
                                            QLatin1Char(' ') + fragments + QLatin1Char(' ') + env.SaveDir() +
                                            QStringLiteral("/clip.mp4"));
    QCOMPARE(f.GetOutputPath(env.list()->Caption(plain)), env.SaveDir() + QStringLiteral("/clip.mp4"));

    // Paths with blanks and quotes stay whole in the job, and the text shown
    // for it quotes them so that it comes apart into the same words.
    env.form()->AvSaveDirEdit->setText(env.SourceDir() + QStringLiteral("/out put"));
    const TConvJob job = f.BuildConvJob(blank);
    QCOMPARE(job.program, exe);
    QCOMPARE(job.arguments.value(2), env.list()->Caption(blank));
    QCOMPARE(job.output, env.SourceDir() + QStringLiteral("/out put/视频 片段 \"1\".mp4"));
    QCOMPARE(job.arguments.last(), job.output);
    QCOMPARE(job.arguments.size(), 3 + Platform::SplitCommandLine(fragments).size() + 1);
    QCOMPARE(Platform::SplitCommandLine(f.BuildConvCommand(blank)), QStringList{exe} + job.arguments);

    // A subtitle choice other than the default goes just before the output.
    env.form()->CmbSubMode->setCurrentIndex(1);
    const TConvJob burn = f.BuildConvJob(blank);
    QCOMPARE(burn.arguments.mid(job.arguments.size() - 1), (QStringList{"-sub", "burn", job.output}));
    QCOMPARE(Platform::SplitCommandLine(f.BuildConvCommand(blank)), QStringList{exe} + burn.arguments);
  }

  void blanksReachEncoderWhole() {
    QueueEnv env{QString()};
    // An installation folder with a blank and Chinese characters.
    const QString exeDir = env.SourceDir() + QStringLiteral("/程序 目录/");
    QDir().mkpath(exeDir);
    QFile::link(kStandin, exeDir + QStringLiteral("make"));
    Platform::SetExeDir(exeDir);
    QDir().mkpath(env.SourceDir() + QStringLiteral("/out dir"));
    env.form()->AvSaveDirEdit->setText(env.SourceDir() + QStringLiteral("/out dir"));
    env.AddScripted(QStringLiteral("My Videos/clip 1.avi"), QStringLiteral("write\nsummary\n"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(5000));
    QCOMPARE(env.list()->ImageIndex(0), kIconFinished);
    QVERIFY(env.LogOfRow(0).contains(QStringLiteral("arg:") + env.list()->Caption(0) + QLatin1Char('\n')));
    QVERIFY(QFile::exists(env.SourceDir() + QStringLiteral("/out dir/clip 1.mp4")));
    Platform::SetExeDir(env.app.Path());
  }

  void failedRowsShowStoppedAndTheRunGoesOn() {
    QueueEnv env(kStandin);
    env.AddScripted(
        QStringLiteral("corrupt.avi"),
        QStringLiteral(
            "say Press q to stop early.\nsay Error: source-damaged: invalid data found\nexit 1\n"));
    env.AddScripted(QStringLiteral("crash.avi"), QStringLiteral("progress 3.00\nsleep 120\ncrash\n"));
    // A summary followed by a failing exit status is no success.
    env.AddScripted(QStringLiteral("late.avi"),
                    QStringLiteral("say Error: output-unwritable: cannot close output\nsummary\nexit 1\n"));
    env.AddScripted(QStringLiteral("good.avi"), QStringLiteral("progress 10.00\nsummary\n"));
    env.form()->CvFshChkBox->setChecked(true);
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(15000));
    // A failed row says so in its progress column; its tool tip says why for the
    // user, with the encoder's technical account on a second line.
    for (int r = 0; r < 3; ++r) {
      QCOMPARE(env.list()->ImageIndex(r), kIconStopped);
      QCOMPARE(env.list()->SubItem(r, 3), QStringLiteral("失败"));
    }
    const QTreeWidgetItem* corrupt = env.list()->topLevelItem(0);
    const QString damaged = QStringLiteral("源文件已损坏或不是视频文件\ninvalid data found");
    QCOMPARE(corrupt->toolTip(4), damaged);
    QCOMPARE(corrupt->toolTip(0), env.list()->Caption(0) + QLatin1Char('\n') + damaged);
    QCOMPARE(env.list()->topLevelItem(1)->toolTip(4),
             QStringLiteral("编码器意外终止\n信号 11: %1").arg(QString::fromLocal8Bit(strsignal(SIGSEGV))));
    QCOMPARE(env.list()->topLevelItem(2)->toolTip(2),
             QStringLiteral("无法写入输出目录\ncannot close output"));
    QCOMPARE(env.list()->ImageIndex(3), kIconFinished);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("4"));
    QCOMPARE(env.rowEnds.size(), size_t(4));
    QCOMPARE(env.rowEnds[0].status, QStringLiteral("转换失败: corrupt.avi: 源文件已损坏或不是视频文件"));
    QCOMPARE(env.rowEnds[1].status, QStringLiteral("转换失败: crash.avi: 编码器意外终止"));
    // The gauge shows the whole batch: two of the four files are done.
    QCOMPARE(env.rowEnds[1].gauge, 50);
    // The run ended by itself: its summary, the notice, and the power-off.
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("完成 1 个, 失败 3 个"));
    QCOMPARE(env.notice.notices, QStringList{QStringLiteral("转换完成|完成 1 个, 失败 3 个")});
    QCOMPARE(env.power.offCalls, 1);

    // Converted again, a row no longer shows what failed before.
    env.list()->ClearRows();
    env.AddScripted(QStringLiteral("again.avi"), QStringLiteral("say Error: x\nexit 1\n"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(5000));
    TestSupport::WriteBytes(env.list()->Caption(0), "sleep 200\nsummary\n");
    env.form()->CvAvFileBtnClick();
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("0%"));
    QCOMPARE(env.list()->topLevelItem(0)->toolTip(1), QString());
    QVERIFY(env.WaitIdle(5000));
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("100%"));
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  void missingEncoder() {
    QueueEnv env{QString()};  // no make in the installation folder
    env.AddScripted(QStringLiteral("a.avi"), QString());
    env.AddScripted(QStringLiteral("b.avi"), QString());
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(5000));
    QCOMPARE(env.list()->ImageIndex(0), kIconStopped);
    QCOMPARE(env.list()->ImageIndex(1), kIconStopped);
    QCOMPARE(env.list()->topLevelItem(1)->toolTip(4), QStringLiteral("编码器无法启动"));
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("完成 0 个, 失败 2 个"));
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("2"));
    QVERIFY(env.AllButtons(true));
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  void outputFolderCheckedAndStaleTemporariesRemoved() {
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("summary\n"));
    const QString missing = env.SourceDir() + QStringLiteral("/no such folder");
    env.form()->AvSaveDirEdit->setText(missing);
    env.form()->CvAvFileBtnClick();
    // One message naming the folder; nothing starts.
    QCOMPARE(env.ErrorBoxes(), 1);
    QCOMPARE(env.dialogs.messages[0].second, QStringLiteral("输出目录不存在: ") + missing);
    QVERIFY(!env.form()->AvMsgTimer->isActive());
    QVERIFY(env.AllButtons(true));
    QCOMPARE(env.LogOfRow(0), QString());

    // A killed encoder's temporary goes before the next run into its folder;
    // a file of the user's that only looks alike stays.
    const QString folder = env.SourceDir() + QStringLiteral("/out");
    QDir().mkpath(folder);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);  // an encoder that has ended
    const QString stale =
        folder + QLatin1Char('/') + QString::fromStdString(vidmora::tempname::Make("old.mp4", child, "a1B2"));
    TestSupport::WriteBytes(stale, "partial");
    TestSupport::WriteBytes(folder + QStringLiteral("/.old.mp4.part-a1B2c3"), "user's");
    env.form()->AvSaveDirEdit->setText(folder);
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(5000));
    QVERIFY(!QFile::exists(stale));
    QVERIFY(QFile::exists(folder + QStringLiteral("/.old.mp4.part-a1B2c3")));
    QCOMPARE(env.list()->ImageIndex(0), kIconFinished);
  }

  // What the encoder says of a finished file reaches the row: a name other than the
  // planned one, a caveat (a warning mark and tool tip, counted in the summary), and a
  // conversion that ended well before the listed length of a source stating none. A
  // failed row leaves the file it was to replace as it was; a listed file whose name
  // differs only in case takes the plain name first.
  void outputNamesAndWarnings_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("tip");  // the start of the row's tool tip ("" for the output line)
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("output");   // the row's output file name
    QTest::addColumn<QByteArray>("oldA");  // an a.mp4 already in the output folder, replaced by choice
    QTest::addColumn<QString>("twin");     // a source listed (and converted) first
    QTest::newRow("put under another name")
        << "moved a (1).mp4\nprogress 10.00\nsummary\n"
        << "00:00:10" << int(kIconFinished) << ""
        << "a.avi 已保存为 %1/a (1).mp4 (原定的名字 a.mp4 已被占用或不被文件系统接受)"
        << "a (1).mp4" << QByteArray() << "";
    // A warning is told in Chinese, from its values; the encoder's words only on a marked
    // second line of the tool tip.
    QTest::newRow("source data ends early")
        << "progress 3.00\nsay warning: short-source: the source's data ends at 3.0 s of a stated 10.0 "
           "s\nsummary\n"
        << "00:00:10" << int(kIconFinishedWithWarning)
        << "源文件标明长 10.0 秒，但其数据在 3.0 秒处就结束了：已转换其中的全部内容\n"
           "技术细节: short-source: the source's data ends at 3.0 s of a stated 10.0 s"
        << "a.avi: 源文件标明长 10.0 秒，但其数据在 3.0 秒处就结束了：已转换其中的全部内容"
        << "a.mp4" << QByteArray() << "";
    QTest::newRow("no picture") << "say warning: no-picture: no picture\nprogress 10.00\nsummary\n"
                                << "00:00:10" << int(kIconFinishedWithWarning)
                                << "源文件没有画面，输出只有声音\n技术细节: no-picture: no picture"
                                << "a.avi: 源文件没有画面，输出只有声音"
                                << "a.mp4" << QByteArray() << "";
    QTest::newRow("tracks told, picture subtitles left out")
        << "say tracks: sound=2 subtitles=1\nsay warning: picture-subtitles: 1 subtitle track "
           "(dvd_subtitle)\n"
           "progress 10.00\nsummary\n"
        << "00:00:10" << 19
        << "源文件的图形字幕无法存为 MP4 文字字幕，已略过\n技术细节: picture-subtitles: 1 subtitle track "
           "(dvd_subtitle)"
        << "a.avi: 源文件的图形字幕无法存为 MP4 文字字幕，已略过"
        << "a.mp4" << QByteArray() << "";
    QTest::newRow("cut short, no stated length")
        << "progress 0.56\nsummary\n"
        << "00:00:06" << 19 << "只转换了 0.56 秒，列表中的长度为 6 秒: 源文件可能不完整"
        << "a.avi: 只转换了 0.56 秒，列表中的长度为 6 秒: 源文件可能不完整"
        << "a.mp4" << QByteArray() << "";
    QTest::newRow("nine tenths of the listed length") << "progress 5.40\nsummary\n"
                                                      << "00:00:06" << int(kIconFinished) << ""
                                                      << ""
                                                      << "a.mp4" << QByteArray() << "";
    QTest::newRow("unknown length") << "progress 0.56\nsummary\n"
                                    << "未知" << int(kIconFinished) << ""
                                    << ""
                                    << "a.mp4" << QByteArray() << "";
    QTest::newRow("fails where it was to replace a file")
        << "write\nprogress 3.00\nsay Error: output-full: No space left on device\nexit 1\n"
        << "00:00:10" << int(kIconStopped) << "输出磁盘已满\nNo space left on device"
        << "转换失败: a.avi: 输出磁盘已满"
        << "" << QByteArray("the user's a.mp4") << "";
    QTest::newRow("replaces a file by choice") << "write\nsummary\n"
                                               << "00:00:10" << int(kIconFinished) << ""
                                               << ""
                                               << "a.mp4" << QByteArray("the user's a.mp4") << "";
    QTest::newRow("a listed name differing only in case") << "write\nsummary\n"
                                                          << "00:00:10" << int(kIconFinished) << ""
                                                          << ""
                                                          << "a (1).mp4" << QByteArray() << "other/A.avi";
  }

  void outputNamesAndWarnings() {
    QFETCH(QString, script);
    QFETCH(QString, duration);
    QFETCH(int, icon);
    QFETCH(QString, tip);
    QFETCH(QString, status);
    QFETCH(QString, output);
    QFETCH(QByteArray, oldA);
    QFETCH(QString, twin);
    QueueEnv env(kStandin);
    if (!twin.isEmpty()) env.AddScripted(twin, QStringLiteral("write\nsummary\n"));
    const int row = env.AddScripted(QStringLiteral("a.avi"), script, duration);
    const QString oldPath = env.SaveDir() + QStringLiteral("/a.mp4");
    if (!oldA.isEmpty()) {
      TestSupport::WriteBytes(oldPath, oldA);
      env.dialogs.questionAnswers.push_back(0);  // 替换
    }
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(10000));
    QCOMPARE(env.list()->ImageIndex(row), icon);
    const bool failed = icon == kIconStopped;
    QCOMPARE(env.list()->SubItem(row, 3), failed ? QStringLiteral("失败") : QStringLiteral("100%"));
    const QString written = env.form()->ConvQueue->Rows().at(row).output;
    QString saved = QStringLiteral("输出文件: ") + written;
    // The tracks the encoder names are told under the file, then the sizes.
    const auto tracks = QRegularExpression(QStringLiteral("sound=(\\d) subtitles=(\\d)")).match(script);
    if (tracks.hasMatch())
      saved += QStringLiteral("\n声音 %1 条, 字幕 %2 条").arg(tracks.captured(1), tracks.captured(2));
    if (QFileInfo::exists(written)) saved += QStringLiteral("\n源文件 1 KB → 输出 1 KB");
    QCOMPARE(env.list()->topLevelItem(row)->toolTip(4), failed          ? tip
                                                        : tip.isEmpty() ? saved
                                                                        : tip + QLatin1Char('\n') + saved);
    QCOMPARE(env.rowEnds.at(row).status,
             status.contains(QStringLiteral("%1")) ? status.arg(env.SaveDir()) : status);
    if (!output.isEmpty()) QCOMPARE(QFileInfo(written).fileName(), output);
    if (!oldA.isEmpty())
      QCOMPARE(TestSupport::ReadBytes(oldPath), failed ? oldA : QByteArray("standin output\n"));
    const int converted = (failed ? 0 : 1) + (twin.isEmpty() ? 0 : 1);
    const int sized = (failed || !QFileInfo::exists(written) ? 0 : 1) + (twin.isEmpty() ? 0 : 1);
    QCOMPARE(env.form()->MsgStatusPanel->text(),
             QStringLiteral("完成 %1 个, 失败 %2 个").arg(converted).arg(failed ? 1 : 0) +
                 (icon == kIconFinishedWithWarning ? QStringLiteral(", 其中 1 个有警告") : QString()) +
                 (sized > 0 ? QStringLiteral(", 源文件共 1 KB, 输出共 1 KB") : QString()));
  }

  void dropsOntoTheList() {
    QueueEnv env(kStandin);
    const QString media = TestSupport::SourceDir() + QStringLiteral("/tests/data/media/");
    const QString dir = env.SourceDir() + QStringLiteral("/drop");
    QDir().mkpath(dir + QStringLiteral("/folder/sub.mp4"));
    const QString files[3] = {dir + QStringLiteral("/one.avi"), dir + QStringLiteral("/two.MP4"),
                              dir + QStringLiteral("/three.mp4")};
    QVERIFY(QFile::copy(media + QStringLiteral("clip.avi"), files[0]));
    QVERIFY(QFile::copy(media + QStringLiteral("clip.mp4"), files[1]));
    QVERIFY(QFile::copy(media + QStringLiteral("silent.mp4"), files[2]));
    QVERIFY(QFile::copy(media + QStringLiteral("clip.mp4"), dir + QStringLiteral("/folder/b.mp4")));
    QVERIFY(QFile::copy(media + QStringLiteral("clip.avi"), dir + QStringLiteral("/folder/a.avi")));
    TestSupport::WriteBytes(dir + QStringLiteral("/folder/notes.txt"), "notes");
    TestSupport::WriteBytes(dir + QStringLiteral("/readme.txt"), "text");
    const QStringList dropped = {files[0], files[1], dir + QStringLiteral("/folder"),
                                 dir + QStringLiteral("/readme.txt"), files[2]};
    QVERIFY(Drop(env.list(), dropped));
    // A slow first probe may leave the rest to the next slices.
    QTRY_VERIFY(!env.form()->AvFileAdder->IsBusy());
    QStringList captions;
    for (int r = 0; r < env.list()->RowCount(); ++r) captions << env.list()->Caption(r);
    QCOMPARE(captions, (QStringList{files[0], files[1], dir + QStringLiteral("/folder/a.avi"),
                                    dir + QStringLiteral("/folder/b.mp4"), files[2]}));
    // Each row as the Add button makes it; the panel shows the last one added.
    QCOMPARE(env.list()->SubItem(0, 0), QStringLiteral("avi"));
    QCOMPARE(env.list()->SubItem(4, 3), QStringLiteral("0%"));
    QCOMPARE(env.list()->ImageIndex(4), kIconWaiting);
    QCOMPARE(env.form()->AvParamsList->SubItem(1, 0), QStringLiteral("three.mp4"));
    QCOMPARE(env.form()->MsgStatusPanel->text(),
             QStringLiteral("已添加 5 个文件, 已忽略 2 个不是视频的文件"));

    // During a run a drop joins it: its file is converted after the others, in the same run.
    env.list()->ClearRows();
    const QString script = env.SourceDir() + QStringLiteral("/joins.avi");
    TestSupport::WriteBytes(script, "length 2\nprogress 2.00\nsummary\n");
    env.AddScripted(QStringLiteral("first.avi"),
                    QStringLiteral("length 10\nprogress 1.00\nhold\nprogress 10.00\nsummary\n"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(Drop(env.list(), {script}));
    QCOMPARE(env.list()->RowCount(), 2);
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("已添加 1 个文件, 将在本次转换中依次转换"));
    QCOMPARE(env.form()->RunStatusPanel->text().left(8), QStringLiteral("完成 0/2 个"));
    QFile ack(env.list()->Caption(0) + QStringLiteral(".ack"));
    QVERIFY(ack.open(QIODevice::WriteOnly));
    ack.write(".");
    ack.close();
    QVERIFY(env.WaitIdle(10000));
    QCOMPARE(env.list()->ImageIndex(1), kIconFinished);
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("完成 2 个, 失败 0 个"));
    QCOMPARE(env.LogOfRow(1).count(QStringLiteral("start")), 1);
  }
};

QTEST_MAIN(TestConvQueue)
#include "tst_convqueue.moc"
