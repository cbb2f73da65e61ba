#pragma once
// The conversion queue: converts a list of source files one after the other
// through the encoder, and reports every change through its signals. It owns
// the run's whole state: the current row, whether a run is going, each row's
// duration in seconds and each row's result. The window shows what it reports.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class TDosProcess;

// What became of a row in the latest run.
enum class TRowResult {
  Waiting,     // not reached (yet)
  Converting,  // its encoder runs
  Converted,   // the encoder exited with status 0 after its summary
  Failed,      // the encoder could not start, or ended any other way
  Stopped,     // the run was stopped while it was converted
  Skipped,     // not converted; the reason says why
};

struct TQueueRow {
  QString source;            // the source file's full path
  QString durationText;      // "hh:mm:ss", as the file list shows it
  int durationSeconds = -1;  // read from durationText when the run starts; -1 when it is no duration
  QString output;            // the output path, once it is known: the file the encoder writes,
                             // and once converted the file as it was put in place
  QString planned;           // the output as planned when the row started (once a complete
                             // conversion has replaced a file, that file)
  QString replaces;          // when not empty, the existing file that a complete conversion is moved over
  TRowResult result = TRowResult::Waiting;
  QString reason;      // why a row failed or was skipped: one sentence for the user (Chinese)
  QString detail;      // the technical account behind the reason (the encoder's own words), or empty
  QString warning;     // a converted row's caveat for the user (Chinese), or empty
  QString tracks;      // a converted row's tracks ("声音 2 条, 字幕 1 条"), or empty when not told
  qint64 percent = 0;  // the last percentage reported, not limited to 100
  bool convert = true;  // false: the run passes the row by and reports nothing of it
  double convertedSeconds = 0;  // the output time of the last progress text read
};

// What starting a row needs, given by the one who starts the run.
struct TConvJob {
  QString program;        // the encoder's path
  QStringList arguments;  // its arguments, each one whole, as the encoder receives them
  QString output;         // the output path among them
  QString error;          // when not empty, the row could not be prepared: this is why
};

class TConvQueue : public QObject {
  Q_OBJECT
 public:
  explicit TConvQueue(QObject* parent = nullptr);
  ~TConvQueue() override;

  // Called once when a run starts, before its first row: may fill in (or
  // change) every row's output path. False starts nothing.
  std::function<bool(QVector<TQueueRow>&)> ResolveOutputs;
  // Called as each row starts, with the row's index (the queue's position):
  // the encoder to start for it. Must be set before Start.
  // A row whose output is planned (Rows()[row].output) must write there.
  std::function<TConvJob(int row)> PrepareRow;

  // Starts a run over these rows from the first; false when there are none, a
  // run is going or ResolveOutputs declined. The first row starts before this
  // returns.
  bool Start(const QVector<TQueueRow>& rows);
  // The progress tick: takes what the encoder wrote since the last tick and
  // reports the running row's progress.
  void Poll();
  // Sends the encoder its quit key and ends the run at once, without waiting
  // for the encoder (which is reaped when it ends). False when no run is going.
  bool Stop();

  bool IsRunning() const { return running_; }
  // -1 before the first run and after a stop; the running row; the row count
  // after the last row.
  int Position() const { return position_; }
  const QVector<TQueueRow>& Rows() const { return rows_; }
  // The running row's encoder, or nullptr.
  TDosProcess* Encoder() const { return encoder_; }

  // Whole seconds of a "time=" in a progress text (the first one; the
  // fraction dropped). False when there is none or it is no number.
  static bool ParseProgressTime(const QString& text, int* seconds);
  // The user's text for an encoder warning line "code: detail" (without its mark).
  static QString WarningText(const QString& warning);
  // Whole seconds of a duration text "hh:mm:ss" (hours up to the first colon).
  static bool ParseDuration(const QString& text, int* seconds);

 signals:
  void PositionChanged(int position);
  // A progress text of the running row, exactly as read.
  void ProgressText(int row, const QString& text);
  // Its percentage, when both its time and the row's duration read as numbers.
  void RowPercent(int row, qint64 percent);
  // A row has its result (Rows()[row].result and .reason).
  void RowFinished(int row);
  // The run is over: after its last row, or stopped.
  void RunEnded(bool stopped);

 private:
  void StartFrom(int row);
  bool StartRow(int row);
  void TakeText(int row, const QString& text);
  void EncoderEnded();
  void Finish(int row, TRowResult result, const QString& reason, const QString& detail = QString());
  void SetPosition(int position);
  void RetireEncoder();

  QVector<TQueueRow> rows_;
  int position_ = -1;
  bool running_ = false;
  bool starting_ = false;
  TDosProcess* encoder_ = nullptr;
};
