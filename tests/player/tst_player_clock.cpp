// The preview window's clock: duration, steps, the end of the file, stop and
// play again, and the track bar that only moves by its thumb.
#include "PlayerTestSupport.h"
#include "platform/AppError.h"
#include "app/PlayMainFrm.h"
#include "app/PlayMainFunc.h"

#include <QLabel>
#include <QToolButton>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QtTest>

#include <memory>

class PlayerClockTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TestSupport::TempAppDir> app_;
  std::unique_ptr<PlayerTest::FakePlayer> fake_;
  std::unique_ptr<TPlayMainForm> form_;

  QString Position() const { return form_->RzLabBgTime->text(); }
  QString Duration() const { return form_->RzLabEdTime->text(); }
  TSkinTrackBar* Bar() const { return form_->SkinTrkBar; }

  void SendMouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), Bar()->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(Bar(), &event);
  }
  QRect Handle() const {
    QStyleOptionSlider option;
    option.initFrom(Bar());
    option.orientation = Qt::Horizontal;
    option.minimum = Bar()->minimum();
    option.maximum = Bar()->maximum();
    option.sliderPosition = Bar()->sliderPosition();
    option.sliderValue = Bar()->value();
    option.subControls = QStyle::SC_All;
    return Bar()->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, Bar());
  }

 private slots:
  void init() {
    app_ = std::make_unique<TestSupport::TempAppDir>();
    fake_ = std::make_unique<PlayerTest::FakePlayer>(app_->Path());
    form_ = std::make_unique<TPlayMainForm>();
    PlayMainForm = form_.get();
  }
  void cleanup() {
    form_.reset();
    QVERIFY(PlayMainForm == nullptr);
    fake_.reset();
    app_.reset();
  }

  void newWindowIsIdleAndDark() {
    QVERIFY(form_->RzPlayPanel->testAttribute(Qt::WA_NativeWindow));
    QCOMPARE(form_->RzPlayPanel->grab().toImage().pixelColor(10, 10), QColor(0x10, 0x10, 0x10));
    QCOMPARE(Position(), QStringLiteral("00:00:00"));
    QCOMPARE(Duration(), QStringLiteral("00:00:00"));
    QCOMPARE(Bar()->maximum(), 100);
    QVERIFY(!form_->PlayTimer->isActive());
    QVERIFY(!form_->SptBtnPlay->icon().isNull() && !form_->SpdBtnStop->icon().isNull());
  }

  void formatTime() {
    TPlayMainFunc f;
    QCOMPARE(f.FormatTime(-5), QStringLiteral("00:00:00"));
    QCOMPARE(f.FormatTime(83), QStringLiteral("00:01:23"));
    QCOMPARE(f.FormatTime(3599), QStringLiteral("00:59:59"));
    QCOMPARE(f.FormatTime(36000), QStringLiteral("10:00:00"));
  }

  void durationTexts() {
    TPlayMainFunc f;
    f.ApplyDurationText(QStringLiteral("01:23:45.678"));
    QCOMPARE(Duration(), QStringLiteral("01:23:45"));
    QCOMPARE(Bar()->maximum(), 5025);
    // From 100 hours on every hour digit is kept.
    f.ApplyDurationText(QStringLiteral("123:45:06.789"));
    QCOMPARE(Duration(), QStringLiteral("123:45:06"));
    QCOMPARE(Bar()->maximum(), 123 * 3600 + 45 * 60 + 6);
    f.ApplyDurationText(QString());
    QCOMPARE(Duration(), QStringLiteral("02:30:00"));
    QCOMPARE(Bar()->maximum(), 9000);
    // A text that is not a time: the label shows it, the event ends with an error.
    Bar()->setMaximum(77);
    QVERIFY_THROWS_EXCEPTION(TAppError, f.ApplyDurationText(QStringLiteral("1:2:3.456")));
    QCOMPARE(Duration(), QStringLiteral("1:2:3.45"));
    QCOMPARE(Bar()->maximum(), 77);
  }

  void durationFromTheFile() {
    TPlayMainFunc f;
    f.LoadDuration(PlayerTest::SampleClip());  // a 5 second clip
    QCOMPARE(Duration(), QStringLiteral("00:00:05"));
    QCOMPARE(Bar()->maximum(), 5);
    f.LoadDuration(app_->File(QStringLiteral("no such file.mp4")));
    QCOMPARE(Duration(), QStringLiteral("02:30:00"));
    QCOMPARE(Bar()->maximum(), 9000);
  }

  void clockRunsToTheEndAndLeavesThePlayer() {
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    QVERIFY(form_->PlayTimer->isActive());
    QCOMPARE(Bar()->maximum(), 5);
    QCOMPARE(Position(), QStringLiteral("00:00:00"));
    QVERIFY(fake_->WaitForRuns(1));
    const long long pid = TPlayerProcesses::Instance().Running().value(0);
    for (int s = 1; s <= 4; ++s) {
      f.StepClock();
      QCOMPARE(Position(), f.FormatTime(s));
      QCOMPARE(Bar()->value(), s);
    }
    QCOMPARE(Duration(), QStringLiteral("00:00:05"));
    f.StepClock();  // reaches the maximum
    QCOMPARE(Position(), QStringLiteral("00:00:00"));
    QCOMPARE(Duration(), QStringLiteral("00:00:00"));
    QCOMPARE(Bar()->value(), 0);
    QCOMPARE(Bar()->maximum(), 5);
    QVERIFY(!form_->PlayTimer->isActive());
    QVERIFY(PlayerTest::IsAlive(pid));  // it ends by itself at the end of the file
  }

  void durationUnderOneSecondResetsAtTheFirstStep() {
    TPlayMainFunc f;
    f.ApplyDurationText(QStringLiteral("00:00:00.480"));
    QCOMPARE(Bar()->maximum(), 0);
    form_->PlayTimer->start();
    f.StepClock();
    QCOMPARE(Position(), QStringLiteral("00:00:00"));
    QCOMPARE(Bar()->value(), 0);
    QVERIFY(!form_->PlayTimer->isActive());
  }

  void timerDrivesTheClock() {
    form_->RzLabFile->setText(PlayerTest::SampleClip());
    form_->SptBtnPlayClick();
    // One tick a second in the program; here the first tick comes sooner.
    QCOMPARE(form_->PlayTimer->interval(), 1000);
    QVERIFY(form_->PlayTimer->isActive());
    QSignalSpy ticks(form_->PlayTimer, &QTimer::timeout);
    form_->PlayTimer->setInterval(100);
    QVERIFY(ticks.wait(2500));
    QCOMPARE(Position(), QStringLiteral("00:00:01"));
    QCOMPARE(Bar()->value(), 1);
  }

  void playAgainRestartsFromZero() {
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    f.StepClock();
    f.StepClock();
    f.StepClock();
    QCOMPARE(Position(), QStringLiteral("00:00:03"));
    f.StartPlay(PlayerTest::SampleClip());
    QCOMPARE(Bar()->value(), 0);
    QCOMPARE(Position(), QStringLiteral("00:00:03"));  // until the next step
    f.StepClock();
    QCOMPARE(Position(), QStringLiteral("00:00:01"));
  }

  void stopResetsButKeepsTheMaximum() {
    TPlayMainFunc f;
    f.StartPlay(PlayerTest::SampleClip());
    f.StepClock();
    f.StepClock();
    f.StopPlay();
    QCOMPARE(Position(), QStringLiteral("00:00:00"));
    QCOMPARE(Duration(), QStringLiteral("00:00:00"));
    QCOMPARE(Bar()->value(), 0);
    QCOMPARE(Bar()->maximum(), 5);
    QVERIFY(!form_->PlayTimer->isActive());
  }

  void seekWhilePlayingShowsTheThumbsSecond() {
    TPlayMainFunc f;
    f.ApplyDurationText(QStringLiteral("01:00:00"));
    form_->PlayTimer->start();
    Bar()->setValue(83);
    f.SeekPlay(PlayerTest::SampleClip());
    QCOMPARE(Position(), QStringLiteral("00:01:23"));
    QVERIFY(form_->PlayTimer->isActive());
    QCOMPARE(Bar()->maximum(), 3600);
    f.StepClock();
    QCOMPARE(Position(), QStringLiteral("00:01:24"));
  }

  // After a start or a seek the player starts at a key frame, which may lie
  // well before or after the second asked for: the clock shows the second of
  // the picture it reports (its own time stamps less the file's start time),
  // and goes on by itself while the player says nothing.
  void clockFollowsWhereThePlayerSaysItsPictureIs_data() {
    QTest::addColumn<QByteArray>("says");
    QTest::addColumn<int>("second");  // shown after the next clock step
    QTest::newRow("picture at the next key frame")
        << QByteArray("ID_START_TIME=0.00\nV:  90.0   1/  1 ??% ??% ??,?% 0 0 \r") << 90;
    QTest::newRow("file starting at 1.5 s") << QByteArray("ID_START_TIME=1.50\nV:  81.6   1/  1 ??%\r") << 80;
    QTest::newRow("sound and picture, two status lines")
        << QByteArray("A:  79.9 V:  79.5 A-V:  0.050 ct:  0.005   2/  2\rA:  80.0 V:  79.9 A-V:  0.05\r")
        << 80;
    QTest::newRow("sound only") << QByteArray("A:  70.3 (01:10.3) of 100.0 (01:40.0)  0.1%\r") << 70;
    QTest::newRow("a player that says nothing: one second on") << QByteArray() << 84;
  }
  void clockFollowsWhereThePlayerSaysItsPictureIs() {
    QFETCH(QByteArray, says);
    QFETCH(int, second);
    if (!says.isEmpty()) qputenv("VIDMORA_FAKE_PLAYER_SAYS", says);
    TPlayMainFunc f;
    f.ApplyDurationText(QStringLiteral("00:01:40"));
    form_->PlayTimer->start();
    Bar()->setValue(83);
    QSignalSpy reported(&TPlayerProcesses::Instance(), &TPlayerProcesses::PositionReported);
    f.SeekPlay(PlayerTest::SampleClip());
    QCOMPARE(Position(), QStringLiteral("00:01:23"));  // at once, before the player says anything
    if (says.isEmpty()) {
      f.StepClock();
    } else {
      // Shown as soon as the player says it; the next step keeps it while
      // the report is fresh.
      QVERIFY(reported.wait(5000));
      QCOMPARE(Position(), f.FormatTime(second));
      f.StepClock();
    }
    QCOMPARE(Position(), f.FormatTime(second));
  }

  // Esc closes the window as its close button does: the player ends.
  void escapeClosesTheWindow() {
    form_->show();
    QVERIFY(fake_->WaitForRuns(1));
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    QVERIFY(!form_->isVisible());
    QVERIFY(!form_->PlayTimer->isActive());
    QTRY_VERIFY(TPlayerProcesses::Instance().Running().isEmpty());
  }

  // A press on the track puts the thumb at the point pressed (not one page
  // step on) and the release restarts the player there.
  void trackBarTakesThePointPressed() {
    form_->show();  // starts playing: a release restarts the player
    QVERIFY(fake_->WaitForRuns(1));
    TPlayMainFunc f;
    f.ApplyDurationText(QStringLiteral("00:01:40"));
    QSignalSpy ups(Bar(), &TSkinTrackBar::MouseUp);
    const QPoint farRight(Bar()->width() - 8, Bar()->height() / 2);
    QVERIFY(!Handle().contains(farRight));

    int runs = 1;
    for (const QPoint& at : {QPoint(Bar()->width() * 3 / 4, Bar()->height() / 2), farRight}) {
      SendMouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
      QVERIFY2(Handle().contains(at), qPrintable(QString::number(Bar()->value())));
      SendMouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
      QVERIFY(fake_->WaitForRuns(++runs));
    }
    QVERIFY2(Bar()->value() >= 95, qPrintable(QString::number(Bar()->value())));
    QCOMPARE(ups.count(), 2);
    QStringList seconds;
    for (const QStringList& run : fake_->Runs()) seconds << run.value(run.indexOf(QStringLiteral("-ss")) + 1);
    QVERIFY2(seconds.contains(f.FormatTime(Bar()->value())), qPrintable(seconds.join(u' ')));

    // Dragging the thumb moves it.
    const QPoint grip = Handle().center();
    SendMouse(QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, QPoint(Bar()->width() / 2, grip.y()), Qt::NoButton, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, QPoint(Bar()->width() / 2, grip.y()), Qt::LeftButton, Qt::NoButton);
    QVERIFY2(Bar()->value() > 30 && Bar()->value() < 70, qPrintable(QString::number(Bar()->value())));
    QCOMPARE(ups.count(), 3);
    QCOMPARE(Position(), f.FormatTime(Bar()->value()));
    QVERIFY(fake_->WaitForRuns(4));

    // Any button's release counts; the wheel does nothing.
    const int value = Bar()->value();
    SendMouse(QEvent::MouseButtonPress, farRight, Qt::RightButton, Qt::RightButton);
    SendMouse(QEvent::MouseButtonRelease, farRight, Qt::RightButton, Qt::NoButton);
    QCOMPARE(ups.count(), 4);
    QWheelEvent wheel(QPointF(farRight), Bar()->mapToGlobal(QPointF(farRight)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Bar(), &wheel);
    QCOMPARE(Bar()->value(), value);
    form_->close();
  }
};

QTEST_MAIN(PlayerClockTest)
#include "tst_player_clock.moc"
