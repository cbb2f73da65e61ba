#include "BatchClock.h"

#include "media/DurationText.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

void TBatchClock::Start(const QVector<int>& durations, qint64 nowMs) {
  stated_.clear();
  for (int d : durations) stated_ << double(d);
  WorkOutLengths();
  done_ = QVector<double>(lengths_.size(), 0.0);
  ended_ = QVector<bool>(lengths_.size(), false);
  doneCount_ = 0;
  index_ = 0;
  ++changes_;
  startMs_ = lastMs_ = nowMs;
  counted_ = 0;
  samples_.clear();
  samples_.push_back({nowMs, 0.0});
  speed_ = 0;
  shown_ = -1;
  steady_ = false;
  estimates_.clear();
}

void TBatchClock::WorkOutLengths() {
  double sum = 0;
  int known = 0;
  for (double d : stated_) {
    if (d >= 0) {
      sum += d;
      ++known;
    }
  }
  const double mean = known > 0 ? sum / known : 0;
  lengths_.clear();
  for (double d : stated_) lengths_ << (d >= 0 ? d : mean);
  lengthsKnown_ = known > 0;
}

void TBatchClock::Append(const QVector<int>& durations) {
  for (int d : durations) {
    stated_ << double(d);
    done_ << 0.0;
    ended_ << false;
  }
  WorkOutLengths();
  // The batch grew: the next estimate is shown as it is, not eased towards.
  ++changes_;
}

void TBatchClock::SetLength(int index, double seconds) {
  if (index < 0 || index >= stated_.size() || seconds < 0 || stated_[index] == seconds) return;
  stated_[index] = seconds;
  WorkOutLengths();
  ++changes_;
}

void TBatchClock::Progress(int index, double elapsed, qint64 nowMs) {
  if (index < 0 || index >= done_.size() || ended_[index]) return;
  // A file's content only grows.
  if (index > index_) ++changes_;
  index_ = std::max(index_, index);
  if (elapsed > done_[index]) {
    counted_ += elapsed - done_[index];
    done_[index] = elapsed;
  }
  Update(nowMs);
}

void TBatchClock::FileDone(int index, bool converted, qint64 nowMs) {
  if (index < 0 || index >= done_.size() || ended_[index]) return;
  Settle(index, converted);
  ended_[index] = true;
  ++doneCount_;
  ++changes_;
  Update(nowMs);
}

void TBatchClock::Settle(int index, bool converted) {
  const double rest = std::max(0.0, lengths_[index] - done_[index]);
  done_[index] += rest;
  // A file that failed or was passed by took little time for its length: it
  // is no more work, but it says nothing of the speed.
  if (converted) counted_ += rest;
}

double TBatchClock::RemainingContent() const {
  double sum = 0;
  for (int i = 0; i < lengths_.size(); ++i) sum += std::max(0.0, lengths_[i] - done_[i]);
  return sum;
}

void TBatchClock::Update(qint64 nowMs) {
  const double dt = (nowMs - lastMs_) / 1000.0;
  if (dt <= 0) return;
  lastMs_ = nowMs;
  const double since = (nowMs - startMs_) / 1000.0;
  // The speed over the last kWindowSeconds (over everything until then): a
  // slow start is forgotten, and whole-second reports average out.
  samples_.push_back({nowMs, counted_});
  while (samples_.size() > 2 && nowMs - samples_[1].ms >= qint64(kWindowSeconds * 1000))
    samples_.removeFirst();
  const Sample& first = samples_.first();
  speed_ = nowMs > first.ms ? (counted_ - first.counted) * 1000.0 / (nowMs - first.ms) : 0;
  if (since < kWarmUpSeconds || speed_ <= 0 || !lengthsKnown_) return;

  const double estimate = RemainingContent() / speed_;
  // Whether the end it points to has held still.
  estimates_.push_back({nowMs, nowMs + estimate * 1000.0});
  while (estimates_.size() > 2 && nowMs - estimates_[1].ms >= qint64(kSteadyWindowSeconds * 1000))
    estimates_.removeFirst();
  if (!steady_ && since >= kSteadyAfterSeconds &&
      nowMs - estimates_.first().ms >= qint64(kSteadyWindowSeconds * 1000)) {
    double low = estimates_.first().endMs, high = low;
    for (const Estimate& e : estimates_) {
      low = std::min(low, e.endMs);
      high = std::max(high, e.endMs);
    }
    steady_ = high - low <= 1000.0 * std::max(kSteadyMinSeconds, kSteadyShare * estimate);
  }
  // Eased only while no file started or ended since, and each file under way
  // is past the first share of its length.
  bool settled = changes_ == shownChanges_;
  for (int i = 0; i < done_.size() && settled; ++i) {
    if (ended_[i] || done_[i] <= 0) continue;
    settled = lengths_[i] > 0 && done_[i] >= kSettledShare * lengths_[i];
  }
  if (shown_ >= 0 && settled) {
    const double expected = std::max(0.0, shown_ - dt);
    shown_ = std::clamp(estimate, expected - kMaxStepSeconds, expected + kMaxStepSeconds);
  } else {
    shown_ = estimate;
  }
  shown_ = std::max(0.0, shown_);
  shownChanges_ = changes_;
}

int TBatchClock::Percent() const {
  double total = 0, done = 0;
  for (int i = 0; i < lengths_.size(); ++i) {
    total += lengths_[i];
    done += std::min(done_[i], lengths_[i]);
  }
  if (total <= 0) return lengths_.isEmpty() ? 0 : static_cast<int>(qint64(100) * doneCount_ / lengths_.size());
  return std::clamp(static_cast<int>(100.0 * done / total + 1e-9), 0, 100);
}

QString TBatchClock::Text() const {
  if (lengths_.isEmpty()) return QString();
  QString text = QStringLiteral("完成 %1/%2 个").arg(doneCount_).arg(lengths_.size());
  if (speed_ > 0 && Elapsed() >= kWarmUpSeconds) text += QStringLiteral("  %1 倍速").arg(speed_, 0, 'f', 1);
  if (lengthsKnown_) {
    text += steady_ && shown_ >= 0
                ? QStringLiteral("  剩余 ") + DurationTextFromSeconds(static_cast<int>(std::ceil(shown_)))
                : QStringLiteral("  剩余 正在估算");
  }
  return text;
}
