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

  void trackBarMovesOnlyByItsThumb() {
    form_->show();  // starts playing: a release restarts the player
    QVERIFY(fake_->WaitForRuns(1));
    TPlayMainFunc f;
    f.ApplyDurationText(QStringLiteral("00:01:40"));
    QSignalSpy ups(Bar(), &TSkinTrackBar::MouseUp);
    const QPoint farRight(Bar()->width() - 8, Bar()->height() / 2);
    QVERIFY(!Handle().contains(farRight));

    // A click on the track away from the thumb does not move it, but its
    // release still restarts the player at the clock's second.
    SendMouse(QEvent::MouseButtonPress, farRight, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(Bar()->value(), 0);
    SendMouse(QEvent::MouseButtonRelease, farRight, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(Bar()->value(), 0);
    QCOMPARE(ups.count(), 1);
    QVERIFY(fake_->WaitForRuns(2));

    // Dragging the thumb moves it.
    const QPoint grip = Handle().center();
    SendMouse(QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, QPoint(Bar()->width() / 2, grip.y()), Qt::NoButton, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, QPoint(Bar()->width() / 2, grip.y()), Qt::LeftButton, Qt::NoButton);
    QVERIFY2(Bar()->value() > 30 && Bar()->value() < 70, qPrintable(QString::number(Bar()->value())));
    QCOMPARE(ups.count(), 2);
    QCOMPARE(Position(), f.FormatTime(Bar()->value()));
    QVERIFY(fake_->WaitForRuns(3));

    // Any button's release counts; the wheel does nothing.
    const int value = Bar()->value();
    SendMouse(QEvent::MouseButtonPress, farRight, Qt::RightButton, Qt::RightButton);
    SendMouse(QEvent::MouseButtonRelease, farRight, Qt::RightButton, Qt::NoButton);
    QCOMPARE(ups.count(), 3);
    QWheelEvent wheel(QPointF(farRight), Bar()->mapToGlobal(QPointF(farRight)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Bar(), &wheel);
    QCOMPARE(Bar()->value(), value);
    form_->close();
  }
};

QTEST_MAIN(PlayerClockTest)
#include "tst_player_clock.moc"
