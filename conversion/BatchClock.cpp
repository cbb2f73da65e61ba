#include "BatchClock.h"

#include "media/DurationText.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

void TBatchClock::Start(const QVector<int>& durations, qint64 nowMs) {
  double sum = 0;
  int known = 0;
  for (int d : durations) {
    if (d >= 0) {
      sum += d;
      ++known;
    }
  }
  const double mean = known > 0 ? sum / known : 0;
  lengths_.clear();
  for (int d : durations) lengths_ << (d >= 0 ? double(d) : mean);
  lengthsKnown_ = known > 0;
  done_ = QVector<double>(lengths_.size(), 0.0);
  index_ = 0;
  startMs_ = lastMs_ = nowMs;
  counted_ = 0;
  samples_.clear();
  samples_.push_back({nowMs, 0.0});
  speed_ = 0;
  shown_ = -1;
  shownIndex_ = -1;
}

void TBatchClock::Progress(int index, double elapsed, qint64 nowMs) {
  if (index < 0 || index >= done_.size()) return;
  // Files passed by are done; the running file's content only grows.
  for (int i = index_; i < index; ++i) Settle(i, false);
  index_ = std::max(index_, index);
  if (elapsed > done_[index]) {
    counted_ += elapsed - done_[index];
    done_[index] = elapsed;
  }
  Update(nowMs);
}

void TBatchClock::FileDone(int index, bool converted, qint64 nowMs) {
  if (index < 0 || index >= done_.size()) return;
  Settle(index, converted);
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
  while (samples_.size() > 2 && nowMs - samples_[1].ms >= qint64(kWindowSeconds * 1000)) samples_.removeFirst();
  const Sample& first = samples_.first();
  speed_ = nowMs > first.ms ? (counted_ - first.counted) * 1000.0 / (nowMs - first.ms) : 0;
  if (since < kWarmUpSeconds || speed_ <= 0 || !lengthsKnown_) return;

  const double estimate = RemainingContent() / speed_;
  const bool settled = index_ == shownIndex_ && lengths_[index_] > 0 &&
                       done_[index_] >= kSettledShare * lengths_[index_];
  if (shown_ >= 0 && settled) {
    const double expected = std::max(0.0, shown_ - dt);
    shown_ = std::clamp(estimate, expected - kMaxStepSeconds, expected + kMaxStepSeconds);
  } else {
    shown_ = estimate;
  }
  shown_ = std::max(0.0, shown_);
  shownIndex_ = index_;
}

QString TBatchClock::Text() const {
  if (lengths_.isEmpty()) return QString();
  QString text = QStringLiteral("第 %1/%2 个").arg(index_ + 1).arg(lengths_.size());
  if (speed_ > 0 && Elapsed() >= kWarmUpSeconds) {
    text += QStringLiteral("  %1 倍速").arg(speed_, 0, 'f', 1);
    if (shown_ >= 0) text += QStringLiteral("  剩余 ") + DurationTextFromSeconds(static_cast<int>(std::ceil(shown_)));
  }
  return text;
}
