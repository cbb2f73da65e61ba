// The system's power control where no login manager can be reached: every
// question is answered no, and the reason says why, in Chinese.
#include "platform/PowerControl.h"

#include <QCoreApplication>
#include <QtTest>

class TestPowerControl : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // A system bus that does not exist; read when the bus is first used.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vidmora-test/system_bus_socket");
  }

  void withoutLoginManagerEveryAnswerIsNoWithAReason() {
    Platform::IPowerControl& power = Platform::PowerControl();
    const QString expected = QStringLiteral("找不到系统的登录管理器");
    QVERIFY(!power.CanPowerOff());
    QCOMPARE(power.Refusal(), expected);
    QVERIFY(!power.PowerOff());
    QCOMPARE(power.Refusal(), expected);
    // The asked forms answer from the event loop, never at once.
    for (const bool off : {false, true}) {
      int answers = 0;
      bool answer = true;
      auto done = [&](bool yes) {
        ++answers;
        answer = yes;
      };
      if (off)
        power.AskPowerOff(done);
      else
        power.AskCanPowerOff(done);
      QCOMPARE(answers, 0);
      QTRY_COMPARE(answers, 1);
      QVERIFY(!answer);
      QCOMPARE(power.Refusal(), expected);
    }
  }
};

QTEST_GUILESS_MAIN(TestPowerControl)
#include "tst_power_control.moc"
