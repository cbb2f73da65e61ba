// The preview window without the media-information library: the duration and
// the maximum keep what they had, and playback still starts. (The library stays
// loaded once found, so this runs in a process of its own.)
#include "PlayerTestSupport.h"
#include "media/MediaInfoDll.h"
#include "app/PlayMainFrm.h"
#include "app/PlayMainFunc.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

class PlayerNoLibTest : public QObject {
  Q_OBJECT
 private slots:
  void durationStaysAndTheClockStopsAfter100Steps() {
    SetMediaInfoLibFileForTests(QStringLiteral("libvidmora-no-such-library.so.0"));
    TestSupport::TempAppDir app;
    PlayerTest::FakePlayer fake(app.Path());
    TPlayMainForm form;
    PlayMainForm = &form;
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    QCOMPARE(form.RzLabEdTime->text(), QStringLiteral("00:00:00"));
    QCOMPARE(form.SkinTrkBar->maximum(), 100);
    QVERIFY(form.PlayTimer->isActive());
    QVERIFY(fake.WaitForRuns(1));
    for (int i = 1; i < 100; ++i) f.StepClock();
    QCOMPARE(form.RzLabBgTime->text(), QStringLiteral("00:01:39"));
    QVERIFY(form.PlayTimer->isActive());
    f.StepClock();
    QCOMPARE(form.RzLabBgTime->text(), QStringLiteral("00:00:00"));
    QVERIFY(!form.PlayTimer->isActive());
    f.StopPlay();
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
  }
};

QTEST_MAIN(PlayerNoLibTest)
#include "tst_player_nolib.moc"
