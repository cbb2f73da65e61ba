// The player's command lines, byte for byte, and which processes the preview
// window starts and ends, checked with a stand-in player.
#include "PlayerTestSupport.h"
#include "app/PlayMainFrm.h"
#include "app/PlayMainFunc.h"

#include <QLabel>
#include <QProcess>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <memory>

using PlayerTest::FakePlayer;
using PlayerTest::IsAlive;

class PlayerProcessTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestSupport::TempAppDir> app_;
  std::unique_ptr<FakePlayer> fake_;
  std::unique_ptr<TPlayMainForm> form_;

  QString Handle() const { return QString::number(quint32(form_->RzPlayPanel->winId())); }
  QStringList ExpectedArgs(const QString& player, const QString& file, const QString& seek = {}) {
    QStringList args{player,
                     QStringLiteral("-slave"),
                     QStringLiteral("-identify"),
                     QStringLiteral("-wid"),
                     Handle(),
                     QStringLiteral("-colorkey"),
                     QStringLiteral("0x101010"),
                     QStringLiteral("-zoom"),
                     QStringLiteral("-framedrop"),
                     QStringLiteral("-autosync"),
                     QStringLiteral("100"),
                     QStringLiteral("-vf"),
                     QStringLiteral("screenshot"),
                     QStringLiteral("-vf-add"),
                     QStringLiteral("expand=:::::365/273")};
    if (!seek.isEmpty()) args << QStringLiteral("-ss") << seek;
    args << file;
    return args;
  }
  // A stand-in named like the player that the test starts itself, outside the
  // program's list of started processes.
  std::unique_ptr<QProcess> StartUnrelatedPlayer(const QString& dir) {
    QDir().mkpath(dir);
    QFile::link(PlayerTest::FakePlayerBinary(), dir + QStringLiteral("/mplayer"));
    auto process = std::make_unique<QProcess>();
    process->start(dir + QStringLiteral("/mplayer"), {QStringLiteral("unrelated")});
    process->waitForStarted();
    return process;
  }

 private slots:
  void init() {
    app_ = std::make_unique<TestSupport::TempAppDir>();
    fake_ = std::make_unique<FakePlayer>(app_->Path());
    form_ = std::make_unique<TPlayMainForm>();
    PlayMainForm = form_.get();
  }
  void cleanup() {
    form_.reset();
    fake_.reset();
    app_.reset();
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
  }

  void commandLinesForAPlainPath() {
    const QString file = PlayerTest::SampleClip();
    QVERIFY(!file.contains(QLatin1Char(' ')));
    const QString player = app_->Path() + QStringLiteral("mplayer");
    TPlayMainFunc f;
    QCOMPARE(f.PlayerPath, player);
    QCOMPARE(f.PlayWndHandle, quint32(form_->RzPlayPanel->winId()));
    QCOMPARE(f.BuildStartCommand(file),
             player + QStringLiteral("  -slave -identify -wid ") + Handle() +
                 QStringLiteral(" -colorkey 0x101010 -zoom -framedrop -autosync 100 -vf screenshot -vf-add expand=:::::365/273 ") + file);

    f.StartPlay(file);
    QVERIFY(fake_->WaitForRuns(1));
    QCOMPARE(fake_->Runs().first(), ExpectedArgs(player, file));

    // Released at second 83 while playing (of a longer file than the clip):
    // the player starts again there.
    f.ApplyDurationText(QStringLiteral("01:00:00"));
    form_->SkinTrkBar->setValue(83);
    QCOMPARE(f.BuildSeekCommand(file),
             player + QStringLiteral("  -slave -identify -wid ") + Handle() +
                 QStringLiteral(" -colorkey 0x101010 -zoom -framedrop -autosync 100 -vf screenshot -vf-add expand=:::::365/273 -ss "
                                "00:01:23 ") +
                 file);
    f.SeekPlay(file);
    QCOMPARE(form_->RzLabBgTime->text(), QStringLiteral("00:01:23"));
    QVERIFY(fake_->WaitForRuns(2));
    const QStringList seek = fake_->Runs().last();
    QCOMPARE(seek, ExpectedArgs(player, file, QStringLiteral("00:01:23")));
  }

  void commandLinesForPathsWithBlanksAndChinese() {
    // The installation folder and the file both have blanks and Chinese names.
    QTemporaryDir root;
    const QString appDir = root.path() + QStringLiteral("/我的 程序/");
    const QString file = root.path() + QStringLiteral("/视频 文件/片段 一.mp4");
    QDir().mkpath(appDir);
    QDir().mkpath(QFileInfo(file).path());
    QFile::copy(PlayerTest::SampleClip(), file);
    QFile::link(PlayerTest::FakePlayerBinary(), appDir + QStringLiteral("mplayer"));
    Platform::SetExeDir(appDir);

    const QString player = appDir + QStringLiteral("mplayer");
    TPlayMainFunc f;
    const QString head = QLatin1Char('"') + player + QStringLiteral("\"  -slave -identify -wid ") + Handle() +
                         QStringLiteral(" -colorkey 0x101010 -zoom -framedrop -autosync 100 -vf screenshot -vf-add expand=:::::365/273 ");
    QCOMPARE(f.BuildStartCommand(file), head + QLatin1Char('"') + file + QLatin1Char('"'));
    f.StartPlay(file);
    QVERIFY(fake_->WaitForRuns(1));
    QCOMPARE(fake_->Runs().first(), ExpectedArgs(player, file));

    f.ApplyDurationText(QStringLiteral("01:00:00"));
    form_->SkinTrkBar->setValue(83);
    QCOMPARE(f.BuildSeekCommand(file), head + QStringLiteral("-ss 00:01:23 \"") + file + QLatin1Char('"'));
    f.SeekPlay(file);
    QVERIFY(fake_->WaitForRuns(2));
    QCOMPARE(fake_->Runs().last(), ExpectedArgs(player, file, QStringLiteral("00:01:23")));
    // A double quote in a name is quoted too and arrives whole.
    QCOMPARE(f.BuildStartCommand(QStringLiteral("/v/a\"b.mp4")).section(QLatin1Char(' '), -1),
             QStringLiteral("\"/v/a\\\"b.mp4\""));
    f.StopPlay();
  }

  void onlyOurPlayersAreEnded() {
    QTemporaryDir other;
    auto unrelated = StartUnrelatedPlayer(other.path() + QStringLiteral("/elsewhere"));
    QVERIFY(fake_->WaitForRuns(1));
    const long long unrelatedPid = unrelated->processId();

    const QString file = PlayerTest::SampleClip();
    form_->RzLabFile->setText(file);
    // Start.
    form_->SptBtnPlayClick();
    QVERIFY(fake_->WaitForRuns(2));
    QList<long long> ours = TPlayerProcesses::Instance().Running();
    QCOMPARE(ours.size(), 1);
    const long long first = ours.first();
    QVERIFY(IsAlive(first));
    QVERIFY(form_->PlayTimer->isActive());

    // Play again: the first player is ended and reaped, a new one runs.
    form_->SptBtnPlayClick();
    QVERIFY(fake_->WaitForRuns(3));
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(first)));
    ours = TPlayerProcesses::Instance().Running();
    QCOMPARE(ours.size(), 1);
    const long long second = ours.first();
    QVERIFY(second != first && IsAlive(second));

    // Seek while playing.
    form_->SkinTrkBar->setMaximum(3600);
    form_->SkinTrkBar->setValue(40);
    form_->SkinTrkBarMouseUp();
    QVERIFY(fake_->WaitForRuns(4));
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(second)));
    ours = TPlayerProcesses::Instance().Running();
    QCOMPARE(ours.size(), 1);
    const long long third = ours.first();
    QVERIFY(IsAlive(third));
    QCOMPARE(fake_->Runs().value(third).mid(15, 2),
             (QStringList{QStringLiteral("-ss"), QStringLiteral("00:00:40")}));

    // Stop.
    form_->SpdBtnStopClick();
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(third)));
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
    QVERIFY(!form_->PlayTimer->isActive());

    // Seek while idle: the thumb springs back, nothing starts.
    form_->SkinTrkBar->setValue(30);
    form_->SkinTrkBarMouseUp();
    QCOMPARE(form_->SkinTrkBar->value(), 0);
    QTest::qWait(100);
    QCOMPARE(fake_->Runs().size(), 4);

    // Showing the window starts playing; closing it ends the player.
    form_->show();
    QVERIFY(fake_->WaitForRuns(5));
    const long long fourth = TPlayerProcesses::Instance().Running().value(0);
    QVERIFY(IsAlive(fourth));
    QCOMPARE(fake_->Runs().value(fourth), ExpectedArgs(app_->Path() + QStringLiteral("mplayer"), file));
    form_->close();
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(fourth)));
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());

    // The player someone else started under the same name is still there.
    QVERIFY(IsAlive(unrelatedPid));
    QCOMPARE(unrelated->state(), QProcess::Running);
    unrelated->kill();
    unrelated->waitForFinished();
  }

  void nameIsComparedWithoutRegardToCase() {
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    QVERIFY(fake_->WaitForRuns(1));
    const long long pid = TPlayerProcesses::Instance().Running().value(0);
    f.KillProcessByName(QStringLiteral("mplayer2"));
    f.KillProcessByName(QStringLiteral("player"));
    QVERIFY(IsAlive(pid));
    f.KillProcessByName(QStringLiteral("MPlayer"));
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
  }

  void aPlayerThatIgnoresTheTerminateSignalIsStillEnded() {
    qputenv("VIDMORA_FAKE_PLAYER_STUBBORN", "1");
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    QVERIFY(fake_->WaitForRuns(1));
    const long long pid = TPlayerProcesses::Instance().Running().value(0);
    f.StopPlay();
    // Stop returns at once, without waiting for the player to go ...
    QVERIFY(IsAlive(pid));
    QVERIFY(!form_->PlayTimer->isActive());
    // ... which is killed a moment later and reaped.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)), 3000);
    int status = 0;
    QCOMPARE(::waitpid(static_cast<pid_t>(pid), &status, WNOHANG), pid_t(-1));  // reaped
  }

  void aPlayerThatEndsByItselfIsReaped() {
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    QVERIFY(fake_->WaitForRuns(1));
    const long long pid = TPlayerProcesses::Instance().Running().value(0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);  // as if the file ended
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
  }

  void aMissingPlayerIsNotReported() {
    QFile::remove(app_->File(QStringLiteral("mplayer")));
    TestSupport::CapturedDialogs dialogs;
    form_->SptBtnPlayClick();
    QVERIFY(dialogs.messages.empty());
    QVERIFY(form_->PlayTimer->isActive());  // the clock runs as if it played
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
  }
};

QTEST_MAIN(PlayerProcessTest)
#include "tst_player_process.moc"
