#pragma once
// How far a batch of conversions has come and when it will end, with one file
// or several converted at once. The estimate
// rests on the content converted so far (seconds of the sources' length, as
// the encoder's progress reports them), not on the number of files, so one
// long file among short ones is weighed by its length. The speed is measured
// over the last twenty seconds; once a file is past a tenth of its
// length, the remaining time shown moves by at most a few seconds per report
// beyond the time that passed, so it does not jump about. Until the estimate
// has held still for a few seconds it is not shown at all ("正在估算"): the
// first seconds of an encoder are slow and say little of the rest.
#include <QString>
#include <QVector>

class TBatchClock {
 public:
  // A new batch of files with these lengths in seconds (negative: unknown,
  // taken as the mean of the known ones), started at nowMs, a reading of any
  // steady clock in milliseconds.
  void Start(const QVector<int>& durations, qint64 nowMs);
  // Files that join the batch while it runs, after the others.
  void Append(const QVector<int>& durations);
  // The length the encoder of the file at index works to (seconds), which
  // replaces the length the file was started with.
  void SetLength(int index, double seconds);
  // The file at index (0-based in the batch) has converted elapsed seconds of
  // its content by nowMs (other files may be converted beside it).
  void Progress(int index, double elapsed, qint64 nowMs);
  // The file at index is done: none of it remains. Only the rest of a file
  // that was converted counts toward the speed.
  void FileDone(int index, bool converted, qint64 nowMs);

  // The furthest file reached.
  int Index() const { return index_; }
  int Count() const { return static_cast<int>(lengths_.size()); }
  // Files done (converted or not) of Count().
  int Done() const { return doneCount_; }
  // The share of the batch's content done, 0 to 100.
  int Percent() const;
  // Content seconds converted per second, smoothed; 0 while not known.
  double Speed() const { return speed_; }
  // Seconds until the batch ends; negative while not known.
  double Remaining() const { return shown_; }
  // Whether the remaining time has held still long enough to be shown.
  bool Steady() const { return steady_; }
  // Seconds since the batch started, as of the last report.
  double Elapsed() const { return (lastMs_ - startMs_) / 1000.0; }
  // "完成 2/10 个  剩余 正在估算", then "2.4 倍速" once it is known and
  // "剩余 00:12:34" once it is steady; no remaining time without any length.
  QString Text() const;

  // The time over which the speed is measured, and the largest move of the
  // remaining time per report once a file is past kSettledShare of it.
  static constexpr double kWindowSeconds = 20.0;
  static constexpr double kMaxStepSeconds = 3.0;
  static constexpr double kSettledShare = 0.1;
  // Reports before this much time has passed give no estimate yet.
  static constexpr double kWarmUpSeconds = 2.0;
  // The estimate is shown once this much time has passed and the end it points
  // to has moved by at most kSteadyShare of the time left (or kSteadyMinSeconds)
  // over the last kSteadyWindowSeconds.
  static constexpr double kSteadyAfterSeconds = 6.0;
  static constexpr double kSteadyWindowSeconds = 4.0;
  static constexpr double kSteadyShare = 0.1;
  static constexpr double kSteadyMinSeconds = 3.0;

 private:
  void Update(qint64 nowMs);
  void Settle(int index, bool converted);
  double RemainingContent() const;
  // The lengths worked out from the stated ones: unknown ones as the mean of the known.
  void WorkOutLengths();

  QVector<double> stated_;  // negative: unknown
  QVector<double> lengths_;
  QVector<double> done_;  // content converted of each file
  QVector<bool> ended_;   // whether each file is done
  int doneCount_ = 0;
  bool lengthsKnown_ = false;
  int index_ = 0;
  // Bumped when the batch changes beyond progress (a file starts or ends, a
  // length or a file is added): the estimate is not eased across a change.
  int changes_ = 0;
  int shownChanges_ = -1;
  qint64 startMs_ = 0;
  qint64 lastMs_ = 0;
  double counted_ = 0;  // content converted that tells the speed
  struct Sample {
    qint64 ms;
    double counted;
  };
  QVector<Sample> samples_;
  double speed_ = 0;
  double shown_ = -1;
  bool steady_ = false;
  struct Estimate {
    qint64 ms;
    double endMs;  // when the batch would end by the estimate of that moment
  };
  QVector<Estimate> estimates_;
};
