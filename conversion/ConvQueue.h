#pragma once
// The conversion queue: converts a list of source files one after the other
// through the encoder, and reports every change through its signals. It owns
// the run's whole state: the current row, whether a run is going, and each
// row's own state (its result, its progress, the length its encoder works to,
// its sizes), kept in the row so that several rows could run at once. The
// window shows what it reports.
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class TDosProcess;

// What became of a row in the latest run.
enum class TRowResult {
  Waiting,      // not reached (yet)
  Converting,   // its encoder runs
  Converted,    // the encoder exited with status 0 after its summary
  Failed,       // the encoder could not start, or ended any other way
  Stopped,      // the user stopped the run while it was converted
  Skipped,      // not converted; the reason says why
  Interrupted,  // its conversion was cut off by a close, a crash or a power cut: it waits again
};

struct TQueueRow {
  QString source;            // the source file's full path
  QString typeText;          // the list's type and size columns, as the probe gave them
  QString sizeText;
  QString durationText;      // "hh:mm:ss", as the file list shows it
  int durationSeconds = -1;  // read from durationText when the run starts; -1 when it is no duration
  QString subFolder;         // where below the output folder its output goes ("" the folder itself):
                             // the source's folder below the folder it was added with
  int pictureWidth = 0;      // the source's picture as the probe gave it; 0 when unknown
  int pictureHeight = 0;
  QString output;            // the output path, once it is known: the file the encoder writes,
                             // and once converted the file as it was put in place
  QString planned;           // the output as planned when the row started (once a complete
                             // conversion has replaced a file, that file)
  QString replaces;          // when not empty, the existing file that a complete conversion is moved over
  QStringList unfinished;    // files that stops of this row left (the latest last): once the row
                             // is converted, they go to the trash
  QString nextUnfinished;    // while it converts: the name a stop would leave its file under
  TRowResult result = TRowResult::Waiting;
  QString reason;         // why a row failed or was skipped: one sentence for the user (Chinese)
  QString detail;         // the technical account behind the reason (the encoder's own words), or empty
  QString warning;        // a converted row's caveat for the user (Chinese), or empty
  QString warningDetail;  // the encoder's own words behind the caveat, or empty
  QString tracks;         // a converted row's tracks ("声音 2 条, 字幕 1 条"), or empty when not told
  QString disposal;       // what became of the unfinished files once the row was converted (Chinese)
  QStringList options;    // the encoder's arguments of its latest start
  qint64 percent = 0;     // of lengthSeconds; 100 only once converted
  bool convert = true;    // false: the run passes the row by and reports nothing of it
  double convertedSeconds = 0;  // the output time of the last progress line read
  double lengthSeconds = -1;    // the length the encoder says it works to; -1 until it says
  double fps = 0;               // pictures a second, as the last progress line says
  qint64 writtenBytes = 0;      // the output's bytes so far, as the last progress line says
  qint64 sourceBytes = -1;      // the source file's size when the row started
  qint64 outputBytes = -1;      // the finished output's size
};
Q_DECLARE_METATYPE(TQueueRow)

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
  // Called when rows join a running run (Append), with every row and the first
  // new one: may choose the new rows' outputs, clear of the run's others.
  std::function<void(QVector<TQueueRow>& rows, int first)> PlanAppended;

  // Starts a run over these rows from the first; false when there are none, a
  // run is going or ResolveOutputs declined. The first row starts before this
  // returns.
  bool Start(const QVector<TQueueRow>& rows);
  // Rows given during a run join it: they are converted after the rows before
  // them, each under a name free when it starts. False when no run is going.
  bool Append(const QVector<TQueueRow>& rows);
  // Takes whatever the encoder has written and not yet been read (the encoder's
  // lines are otherwise taken as they arrive).
  void Poll();
  // Sends the encoder its quit key and ends the run at once, without waiting
  // for the encoder (which is reaped when it ends). The running row is
  // Stopped, or Interrupted when the program is closing. False when no run is
  // going.
  bool Stop(bool closing = false);

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
  // The user's text for an encoder warning line "code: detail" (without its
  // mark), in Chinese, with the encoder's own words apart in *technical.
  static QString WarningText(const QString& warning, QString* technical = nullptr);
  // Whole seconds of a duration text "hh:mm:ss" (hours up to the first colon).
  static bool ParseDuration(const QString& text, int* seconds);
  // The percentage of a row at converted seconds of a length: 0 without a
  // length, never above 99 (100 is a converted row's).
  static qint64 PercentOf(double converted, double length);
  // The name a stop would leave output's unfinished file under: its
  // unfinished name, or the next free numbered one.
  static QString FreeUnfinishedName(const QString& output);

 signals:
  void PositionChanged(int position);
  // The row's encoder has started (Rows()[row].output, .options and .nextUnfinished are set).
  void RowStarted(int row);
  // A progress text of the running row, exactly as read.
  void ProgressText(int row, const QString& text);
  // The running row's progress (its converted seconds, length, speed and bytes) moved.
  void RowProgress(int row);
  // Its percentage, once the encoder has said the length it works to.
  void RowPercent(int row, qint64 percent);
  // A row has its result (Rows()[row].result and .reason).
  void RowFinished(int row);
  // The run is over: after its last row, or stopped.
  void RunEnded(bool stopped);

 private:
  void StartFrom(int row);
  bool StartRow(int row);
  void TakeLine(int row, const QString& line);
  void EncoderEnded();
  void Finish(int row, TRowResult result, const QString& reason, const QString& detail = QString());
  void SetPosition(int position);
  void RetireEncoder();
  void DisposeUnfinished(TQueueRow& row);

  QVector<TQueueRow> rows_;
  int position_ = -1;
  bool running_ = false;
  bool starting_ = false;
  TDosProcess* encoder_ = nullptr;
};
