#pragma once
// How late a timer's ticks come while the event loop runs other work: the
// longest stall of the window, and how many stalls passed a bound. For the
// benches; start it when the work to be watched begins.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

class TStallClock {
 public:
  explicit TStallClock(int intervalMs, double boundMs = 100) : boundMs_(boundMs) {
    ticker_.setInterval(intervalMs);
    QObject::connect(&ticker_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      const double late = double(now - last_);
      longestMs_ = std::max(longestMs_, late);
      if (late > boundMs_) ++overBound_;
      last_ = now;
    });
  }
  void Start() {
    clock_.start();
    last_ = 0;
    ticker_.start();
  }
  qint64 ElapsedMs() const { return clock_.elapsed(); }
  double LongestMs() const { return longestMs_; }
  int OverBound() const { return overBound_; }

 private:
  QElapsedTimer clock_;
  QTimer ticker_;
  qint64 last_ = 0;
  double longestMs_ = 0;
  double boundMs_;
  int overBound_ = 0;
};
