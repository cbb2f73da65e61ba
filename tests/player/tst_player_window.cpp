// Opening the preview window from the main window: the two refusals, and the
// modal window that plays the selected file and ends its player when closed.
#include "PlayerTestSupport.h"
#include "app/Controls.h"
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "conversion/ConvQueue.h"
#include "platform/AppError.h"
#include "app/PlayMainFrm.h"

#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QtTest>

class PlayerWindowTest : public QObject {
  Q_OBJECT

  static void ClickPlay() { ConvMainForm->PlayAvFileBtnClick(); }

 private slots:
  void refusedDuringARunEvenWithASelectedRow() {
    TestSupport::TempAppDir app;
    PlayerTest::FakePlayer fake(app.Path());
    TestSupport::MainWindowFixture window;
    TestSupport::CapturedDialogs dialogs;
    // An encoder that runs until its quit key arrives.
    QFile::remove(app.File(QStringLiteral("make")));
    TestSupport::WriteBytes(app.File(QStringLiteral("make")), "#!/bin/sh\nexec head -c 1 >/dev/null\n");
    QFile::setPermissions(app.File(QStringLiteral("make")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ConvMainForm->AvFilesList->AddRow(PlayerTest::SampleClip(), 4, {});
    ConvMainForm->AvFilesList->SelectRow(0);
    ConvMainForm->CvAvFileBtnClick();
    QVERIFY(ConvMainForm->ConvQueue->IsRunning());
    ClickPlay();
    ConvMainForm->StopCvAvBtnClick();
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].first, QStringLiteral("提示"));
    QCOMPARE(dialogs.messages[0].second, QStringLiteral("正在转换视频文件,无法播放"));
    QVERIFY(PlayMainForm == nullptr);
    QVERIFY(fake.Runs().isEmpty());
  }

  void refusedWithoutASelectedRow() {
    TestSupport::TempAppDir app;
    PlayerTest::FakePlayer fake(app.Path());
    TestSupport::MainWindowFixture window;
    TestSupport::CapturedDialogs dialogs;
    ConvMainForm->AvFilesList->AddRow(PlayerTest::SampleClip(), 4, {});
    ConvMainForm->AvFilesList->SelectRow(-1);
    QCOMPARE(ConvMainForm->AvFilesList->SelectedRow(), -1);
    ClickPlay();
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].first, QStringLiteral("提示"));
    QCOMPARE(dialogs.messages[0].second, QStringLiteral("请选择要播放的视频文件"));
    QVERIFY(PlayMainForm == nullptr);
    QVERIFY(fake.Runs().isEmpty());
  }

  void playsTheSelectedRowAndClosingEndsThePlayer() {
    TestSupport::TempAppDir app;
    PlayerTest::FakePlayer fake(app.Path());
    TestSupport::MainWindowFixture window;
    TestSupport::CapturedDialogs dialogs;
    // A player of the same name that somebody else runs.
    QTemporaryDir elsewhere;
    QFile::link(PlayerTest::FakePlayerBinary(), elsewhere.path() + QStringLiteral("/mplayer"));
    QProcess unrelated;
    unrelated.start(elsewhere.path() + QStringLiteral("/mplayer"), {});
    QVERIFY(unrelated.waitForStarted());
    QVERIFY(fake.WaitForRuns(1));

    ConvMainForm->AvFilesList->AddRow(QStringLiteral("/nowhere/a.mp4"), 4, {});
    ConvMainForm->AvFilesList->AddRow(PlayerTest::SampleClip(), 4, {});
    ConvMainForm->AvFilesList->SelectRow(1);
    bool sawWindow = false;
    long long player = -1;
    QString file;
    bool modal = false;
    QTimer::singleShot(300, [&] {
      sawWindow = PlayMainForm && PlayMainForm->isVisible();
      if (!PlayMainForm) return;
      modal = PlayMainForm->isModal();
      file = PlayMainForm->RzLabFile->text();
      player = TPlayerProcesses::Instance().Running().value(0, -1);
      PlayMainForm->close();
    });
    // Fails the test rather than hanging when the window never closes.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] {
      if (PlayMainForm) PlayMainForm->reject();
    });
    guard.start(10000);
    ClickPlay();
    QVERIFY(sawWindow);
    QVERIFY(modal);
    QCOMPARE(file, PlayerTest::SampleClip());
    QVERIFY(PlayMainForm == nullptr);
    QVERIFY(player > 0);
    QCOMPARE(fake.Runs().value(player).last(), PlayerTest::SampleClip());
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(player)));
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
    QCOMPARE(unrelated.state(), QProcess::Running);
    unrelated.kill();
    unrelated.waitForFinished();
    // Only errors of unfinished parts of the main window may have been shown.
    for (const auto& message : dialogs.messages) QVERIFY(message.first != QStringLiteral("提示"));
  }

  void aModalLoopEndedWithoutTheCloseEventLeavesNoPlayer() {
    TestSupport::TempAppDir app;
    PlayerTest::FakePlayer fake(app.Path());
    TestSupport::MainWindowFixture window;
    TestSupport::CapturedDialogs dialogs;
    ConvMainForm->AvFilesList->AddRow(PlayerTest::SampleClip(), 4, {});
    ConvMainForm->AvFilesList->SelectRow(0);
    long long player = -1;
    // The loop ends as it does when the application quits while the window is open.
    QTimer::singleShot(300, [&] {
      player = TPlayerProcesses::Instance().Running().value(0, -1);
      if (PlayMainForm) PlayMainForm->reject();
    });
    ClickPlay();
    QVERIFY(player > 0);
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(player)));
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
  }
};

QTEST_MAIN(PlayerWindowTest)
#include "tst_player_window.moc"
