// No player outlives the program: not when the program is ended by a
// termination signal, not even when it is killed outright.
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

bool Exists(long long pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray text = stat.readAll();
  const int close = text.lastIndexOf(')');
  return close > 0 && close + 2 < text.size() && text[close + 2] != 'Z';
}

}  // namespace

class PlayerExitTest : public QObject {
  Q_OBJECT

 private slots:
  void noPlayerOutlivesTheProgram_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("cleanExit");
    QTest::newRow("SIGTERM") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP") << int(SIGHUP) << true;
    QTest::newRow("SIGINT") << int(SIGINT) << true;
    QTest::newRow("SIGKILL") << int(SIGKILL) << false;
  }
  void noPlayerOutlivesTheProgram() {
    QFETCH(int, signal);
    QFETCH(bool, cleanExit);
    QProcess host;
    host.start(QStringLiteral(PLAYER_HOST), {QStringLiteral(VIDMORA_FAKE_PLAYER)});
    QVERIFY(host.waitForStarted());
    QVERIFY(host.waitForReadyRead(5000));
    const long long player = host.readLine().trimmed().toLongLong();
    QVERIFY(player > 0);
    QTRY_VERIFY(Exists(player));
    ::kill(static_cast<pid_t>(host.processId()), signal);
    QVERIFY(host.waitForFinished(5000));
    if (cleanExit) {
      // Through its normal end, not killed by the signal.
      QCOMPARE(host.exitStatus(), QProcess::NormalExit);
      QCOMPARE(host.exitCode(), 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!Exists(player), 2000);
  }
};

QTEST_GUILESS_MAIN(PlayerExitTest)
#include "tst_player_exit.moc"
