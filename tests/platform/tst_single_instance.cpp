// A start of the program: the paths named on its command line, and how a
// later start hands them to the running one.
#include "platform/CommandLine.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Platform::TSingleInstance;

namespace {

// Claims in a thread of its own, as a second process would, while the test's
// thread serves the first.
TSingleInstance::TClaim ClaimElsewhere(const QString& folder, const QStringList& paths, int waitMs) {
  TSingleInstance::TClaim result = TSingleInstance::TClaim::kFirst;
  bool done = false;
  QThread* thread = QThread::create([&] {
    TSingleInstance later(QStringLiteral("vidmora"), folder);
    result = later.Claim(paths, waitMs);
    done = true;
  });
  thread->start();
  [&] { QTRY_VERIFY_WITH_TIMEOUT(done, waitMs + 5000); }();
  thread->wait();
  delete thread;
  return result;
}

}  // namespace

class TestSingleInstance : public QObject {
  Q_OBJECT

 private slots:
  void startPaths_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("unknown");
    QTest::newRow("none") << QStringList() << QStringList() << QStringList();
    QTest::newRow("relative and absolute")
        << QStringList{QStringLiteral("a.mp4"), QStringLiteral("../视频/b c.avi"), QStringLiteral("/srv/x.mov")}
        << QStringList{QStringLiteral("/home/u/a.mp4"), QStringLiteral("/home/视频/b c.avi"),
                       QStringLiteral("/srv/x.mov")}
        << QStringList();
    QTest::newRow("file URL") << QStringList{QStringLiteral("file:///srv/%E7%89%87%20%E4%B8%80.mp4")}
                              << QStringList{QStringLiteral("/srv/片 一.mp4")} << QStringList();
    QTest::newRow("remote URL is no file") << QStringList{QStringLiteral("file://host/x.mp4")} << QStringList()
                                           << QStringList();
    QTest::newRow("options, then paths after --")
        << QStringList{QStringLiteral("--fullscreen"), QStringLiteral("a.mp4"), QStringLiteral("--"),
                       QStringLiteral("-b.mp4"), QStringLiteral("--")}
        << QStringList{QStringLiteral("/home/u/a.mp4"), QStringLiteral("/home/u/-b.mp4"),
                       QStringLiteral("/home/u/--")}
        << QStringList{QStringLiteral("--fullscreen")};
  }
  void startPaths() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, unknown);
    QStringList gotUnknown;
    QCOMPARE(Platform::StartPaths(args, QStringLiteral("/home/u"), &gotUnknown), paths);
    QCOMPARE(gotUnknown, unknown);
  }

  // The later start's paths arrive whole, in order, and it is told to end.
  void laterStartHandsItsPathsOver() {
    QTemporaryDir run;
    TSingleInstance first(QStringLiteral("vidmora"), run.path());
    QCOMPARE(first.Claim({QStringLiteral("/srv/own.mp4")}), TSingleInstance::TClaim::kFirst);
    QList<QStringList> received;
    connect(&first, &TSingleInstance::FilesReceived, [&](const QStringList& p) { received << p; });

    const QStringList paths{QStringLiteral("/srv/一 二.mp4"), QStringLiteral("/srv/line\nbreak.avi"),
                            QString(300, QLatin1Char('x'))};
    QCOMPARE(ClaimElsewhere(run.path(), paths, 5000), TSingleInstance::TClaim::kHandedOver);
    QCOMPARE(ClaimElsewhere(run.path(), {}, 5000), TSingleInstance::TClaim::kHandedOver);
    QCOMPARE(received, (QList<QStringList>{paths, QStringList()}));
  }

  // A lock and a socket left by a start that died do not keep the next one
  // from running the program and serving later ones.
  void leftoversOfADeadStartAreTakenOver() {
    QTemporaryDir run;
    {
      QFile lock(run.filePath(QStringLiteral("vidmora.lock")));
      QVERIFY(lock.open(QIODevice::WriteOnly));
      // No process has this id: the lock is stale.
      lock.write("4194304\nvidmora\n" + QSysInfo::machineHostName().toUtf8() + "\n");
      QFile socket(run.filePath(QStringLiteral("vidmora")));
      QVERIFY(socket.open(QIODevice::WriteOnly));
    }
    TSingleInstance first(QStringLiteral("vidmora"), run.path());
    QCOMPARE(first.Claim({}), TSingleInstance::TClaim::kFirst);
    QSignalSpy received(&first, &TSingleInstance::FilesReceived);
    QCOMPARE(ClaimElsewhere(run.path(), {QStringLiteral("/a.mp4")}, 5000), TSingleInstance::TClaim::kHandedOver);
    QCOMPARE(received.count(), 1);
  }

  // A start that holds the lock but never answers makes a later one give up
  // in time rather than open a second window.
  void aSilentHolderIsNotWaitedForEndlessly() {
    QTemporaryDir run;
    QLockFile held(run.filePath(QStringLiteral("vidmora.lock")));
    QVERIFY(held.tryLock(0));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(ClaimElsewhere(run.path(), {}, 600), TSingleInstance::TClaim::kNoAnswer);
    QVERIFY(clock.elapsed() < 4000);
  }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
