// The batch's remaining time, worked out over progress series like the
// encoder's: a report about every 500 ms (with jitter), whole seconds of
// content, a pause between files while the next encoder starts.
#include "conversion/BatchClock.h"

#include <QtTest>

#include <cmath>
#include <functional>

namespace {

struct Tick {
  double t;          // wall seconds since the start
  int index;         // the running file
  double estimate;   // the clock's remaining seconds after the report
  bool settled;      // the file was past a tenth of its length at the report before
};

struct Run {
  QVector<Tick> ticks;
  double total = 0;  // when the batch really ended
};

// Converts files of these lengths at speed(t) content seconds per second.
Run Simulate(const QVector<int>& lengths, const std::function<double(double)>& speed,
             double startPause = 0.3) {
  Run run;
  TBatchClock clock;
  clock.Start(lengths, 0);
  quint32 seed = 12345;
  auto jitter = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return 0.4 + 0.2 * ((seed >> 16) % 1000) / 1000.0;
  };
  double t = 0;
  for (int i = 0; i < lengths.size(); ++i) {
    t += startPause;
    double content = 0;
    bool settled = false;
    while (content < lengths[i]) {
      const double dt = jitter();
      content += speed(t) * dt;
      t += dt;
      const double shown = std::min<double>(std::floor(content), lengths[i]);
      clock.Progress(i, shown, qint64(t * 1000));
      run.ticks.push_back({t, i, clock.Remaining(), settled});
      settled = shown >= 0.1 * lengths[i];
    }
    clock.FileDone(i, true, qint64(t * 1000));
  }
  run.total = t;
  return run;
}

}  // namespace

class TestBatchClock : public QObject {
  Q_OBJECT
 private slots:
  void estimateWithinFifteenPercent_data() {
    QTest::addColumn<QVector<int>>("lengths");
    QTest::addColumn<double>("slowFor");    // wall seconds at a quarter of the speed
    QTest::addColumn<double>("speed");
    QVector<int> ten(10, 60);
    QTest::newRow("steady") << ten << 0.0 << 2.4;
    QTest::newRow("slow start") << ten << 20.0 << 2.4;
    QTest::newRow("one long file") << QVector<int>{20, 20, 20, 600, 20, 20, 20} << 0.0 << 3.0;
    QTest::newRow("long file first, slow") << QVector<int>{900, 30, 30, 30} << 10.0 << 0.8;
  }
  void estimateWithinFifteenPercent() {
    QFETCH(QVector<int>, lengths);
    QFETCH(double, slowFor);
    QFETCH(double, speed);
    const Run run =
        Simulate(lengths, [&](double t) { return t < slowFor ? speed / 4 : speed; });
    int checked = 0;
    for (int k = 0; k < run.ticks.size(); ++k) {
      const Tick& tick = run.ticks[k];
      const double truth = run.total - tick.t;
      if (tick.t >= 0.2 * run.total && tick.t <= 0.8 * run.total) {
        ++checked;
        QVERIFY2(std::abs(tick.estimate - truth) <= 0.15 * truth,
                 qPrintable(QStringLiteral("at %1 s: %2 s left, estimated %3 s")
                                .arg(tick.t).arg(truth).arg(tick.estimate)));
      }
      // Past a tenth of a file, no jump of more than a few seconds.
      if (k > 0 && tick.settled && run.ticks[k - 1].index == tick.index && run.ticks[k - 1].estimate >= 0) {
        const double expected = run.ticks[k - 1].estimate - (tick.t - run.ticks[k - 1].t);
        QVERIFY2(std::abs(tick.estimate - std::max(0.0, expected)) <= TBatchClock::kMaxStepSeconds + 0.01,
                 qPrintable(QStringLiteral("at %1 s: %2 after %3").arg(tick.t).arg(tick.estimate).arg(run.ticks[k - 1].estimate)));
      }
    }
    QVERIFY(checked > 20);
  }

  // What the status panel shows: the position at once, the speed once known,
  // the remaining time once it holds still ("正在估算" until then); unknown
  // lengths count as the mean of the known ones.
  void textAndUnknownLengths() {
    TBatchClock clock;
    clock.Start({100, -1, 300}, 0);
    QCOMPARE(clock.Text(), QStringLiteral("完成 0/3 个  剩余 正在估算"));
    clock.Progress(0, 1, 1000);
    QCOMPARE(clock.Text(), QStringLiteral("完成 0/3 个  剩余 正在估算"));  // too early to tell
    for (int s = 2; s <= 20; ++s) clock.Progress(0, 2.0 * s, s * 1000);
    QCOMPARE(clock.Speed(), 2.0);
    // 60 of 100 left, 200 assumed for the unknown file, 300: 560 s at 2x.
    QCOMPARE(clock.Remaining(), 280.0);
    QCOMPARE(clock.Text(), QStringLiteral("完成 0/3 个  2.0 倍速  剩余 00:04:40"));
    // A failed file is no more work and does not make the batch look faster.
    clock.FileDone(0, false, 20500);
    clock.Progress(1, 1, 21000);
    QCOMPARE(clock.Index(), 1);
    QVERIFY(clock.Speed() <= 2.0);
    QVERIFY(clock.Text().startsWith(QStringLiteral("完成 1/3 个")));

    // Files that join, and a length the encoder says, count from then on.
    clock.Append({400});
    QCOMPARE(clock.Count(), 4);
    clock.Progress(1, 1.5, 21500);
    QVERIFY(clock.Text().startsWith(QStringLiteral("完成 1/4 个")));
    const double before = clock.Remaining();
    clock.SetLength(1, 20);
    clock.Progress(1, 2, 22000);
    QVERIFY2(clock.Remaining() < before, qPrintable(QString::number(clock.Remaining())));

    TBatchClock none;
    none.Start({-1, -1}, 0);
    for (int s = 1; s <= 10; ++s) none.Progress(0, s, s * 1000);
    QVERIFY(none.Remaining() < 0);
    QCOMPARE(none.Text(), QStringLiteral("完成 0/2 个  1.0 倍速"));
  }

  // An encoder that starts slowly and speeds up: the remaining time is not shown
  // while its estimate keeps moving, and once shown it is near the truth.
  void estimatingUntilSteady_data() {
    QTest::addColumn<double>("rampSeconds");  // wall seconds until full speed
    QTest::newRow("steady from the start") << 0.0;
    QTest::newRow("speeds up over 15 s") << 15.0;
    QTest::newRow("speeds up over 40 s") << 40.0;
  }
  void estimatingUntilSteady() {
    QFETCH(double, rampSeconds);
    const auto speed = [&](double t) {
      return rampSeconds > 0 && t < rampSeconds ? 0.3 + 2.7 * t / rampSeconds : 3.0;
    };
    // The truth: 600 s of content at that speed, from the start.
    double total = 0, content = 0;
    while (content < 600) {
      content += speed(total) * 0.1;
      total += 0.1;
    }
    TBatchClock clock;
    clock.Start({600}, 0);
    double t = 0;
    content = 0;
    double firstShown = -1;
    while (content < 590) {
      content += speed(t) * 0.5;
      t += 0.5;
      clock.Progress(0, content, qint64(t * 1000));
      if (clock.Steady() && firstShown < 0) {
        firstShown = t;
        const double truth = total - t;
        QVERIFY2(
            std::abs(clock.Remaining() - truth) <= std::max(10.0, 0.25 * truth),
            qPrintable(
                QStringLiteral("shown at %1 s: %2 s, truly %3 s").arg(t).arg(clock.Remaining()).arg(truth)));
      }
      QCOMPARE(clock.Text().contains(QStringLiteral("正在估算")), !clock.Steady());
    }
    QVERIFY(firstShown >= TBatchClock::kSteadyAfterSeconds);
    // Not much later than the speed, measured over its window, has settled.
    QVERIFY2(
        firstShown < std::max(TBatchClock::kSteadyAfterSeconds, rampSeconds) + TBatchClock::kWindowSeconds,
        qPrintable(QString::number(firstShown)));
  }
};

QTEST_GUILESS_MAIN(TestBatchClock)
#include "tst_batch_clock.moc"
