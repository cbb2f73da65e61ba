#pragma once
// The conversion queue: converts a list of source files through the encoder,
// one or several at a time, in list order, and reports every change through
// its signals. It owns the run's whole state: the rows running, the next row
// to start, whether a run is going, and each row's own state (its result, its
// progress, the length its encoder works to, its sizes), kept in the row. How
// many encoders run at once, and the threads each gets, follow ConvSlots.h;
// the window shows what the queue reports.
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "ConvSlots.h"

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
  QString source;    // the source file's full path
  QString typeText;  // the list's type and size columns, as the probe gave them
  QString sizeText;
  QString durationText;      // "hh:mm:ss", as the file list shows it
  int durationSeconds = -1;  // read from durationText when the run starts; -1 when it is no duration
  QString subFolder;         // where below the output folder its output goes ("" the folder itself):
                             // the source's folder below the folder it was added with
  int pictureWidth = 0;      // the source's picture as the probe gave it; 0 when unknown
  int pictureHeight = 0;
  QString output;          // the output path, once it is known: the file the encoder writes,
                           // and once converted the file as it was put in place
  QString planned;         // the output as planned when the row started (once a complete
                           // conversion has replaced a file, that file)
  QString replaces;        // when not empty, the existing file that a complete conversion is moved over
  QStringList unfinished;  // files that stops of this row left (the latest last): once the row
                           // is converted, they go to the trash
  QString nextUnfinished;  // while it converts: the name a stop would leave its file under
  TRowResult result = TRowResult::Waiting;
  QString reason;         // why a row failed or was skipped: one sentence for the user (Chinese)
  QString detail;         // the technical account behind the reason (the encoder's own words), or empty
  QString warning;        // a converted row's caveat for the user (Chinese), or empty
  QString warningDetail;  // the encoder's own words behind the caveat, or empty
  QString tracks;         // a converted row's tracks ("声音 2 条, 字幕 1 条"), or empty when not told
  QString disposal;       // what became of the unfinished files once the row was converted (Chinese)
  QStringList options;    // the encoder's arguments of its latest start
  int threads = 0;        // the threads its encoder is given (0: as many as it likes)
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
  // Called as each row starts, with the row's index: the encoder to start for
  // it. Must be set before Start. A row whose output is planned
  // (Rows()[row].output) must write there, with Rows()[row].threads threads.
  std::function<TConvJob(int row)> PrepareRow;
  // What a row's conversion works on (its pictures, whether it copies); unset:
  // every row is taken for 1080p.
  std::function<TEncoderWork(int row)> WorkOf;
  // The memory available now, in bytes (the system's MemAvailable unless set);
  // negative when it cannot be told.
  std::function<qint64()> AvailableMemory;
  // The setting 同时转换 (kConcurrentAuto or a number), and the cores the
  // encoders share (those this program may run on unless set). A change holds
  // from the next start of a row on.
  int Chosen = kConcurrentAuto;
  int Cores = 0;
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
  // Takes whatever the encoders have written and not yet been read (their
  // lines are otherwise taken as they arrive), and starts the next rows where
  // there is room for them now (memory freed since).
  void Poll();
  // Sends every running encoder its quit key and ends the run at once, without
  // waiting for them (each is reaped when it ends). The running rows are
  // Stopped, or Interrupted when the program is closing. False when no run is
  // going.
  bool Stop(bool closing = false);

  bool IsRunning() const { return running_; }
  // -1 before the first run and after a stop; the row started last while the
  // run goes on; the row count after the last row.
  int Position() const { return position_; }
  const QVector<TQueueRow>& Rows() const { return rows_; }
  // The rows whose encoders run, in list order.
  QVector<int> RunningRows() const;
  bool IsRowRunning(int row) const;
  // The row that waits for memory to start, -1 when none does.
  int HeldBackRow() const { return heldBack_; }
  // The encoder of a running row (of the row started last when none is
  // named), or nullptr.
  TDosProcess* Encoder(int row = -1) const;

  // Whole seconds of a "time=" in a progress text (the first one; the
  // fraction dropped). False when there is none or it is no number.
  static bool ParseProgressTime(const QString& text, int* seconds);
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
  // The next row waits for memory: it needs needed bytes, available are there.
  // Said once while it waits; HeldBack(-1, 0, 0) once it may start.
  void HeldBack(int row, qint64 needed, qint64 available);
  // The run is over: after its last row, or stopped.
  void RunEnded(bool stopped);

 private:
  // A running row: its encoder and what it asked of the machine.
  struct TRunning {
    int row = -1;
    TDosProcess* encoder = nullptr;
    TEncoderNeed need;
  };

  // Starts rows in list order while there is room for them; ends the run when
  // none is left to start and none runs.
  void StartMore();
  bool StartRow(int row, const TEncoderNeed& need);
  void TakeLine(int row, const QString& line);
  void EncoderEnded(int p);  // p: the row
  void Finish(int row, TRowResult result, const QString& reason, const QString& detail = QString());
  void SetPosition(int position);
  void RetireEncoder(TDosProcess* gone);
  void DisposeUnfinished(TQueueRow& row);
  int RunningIndex(int row) const;

  QVector<TQueueRow> rows_;
  int position_ = -1;
  int next_ = 0;  // the next row to start
  bool running_ = false;
  int preparing_ = -1;  // the row whose job is being prepared, -1 when none is
  int heldBack_ = -1;   // the row that waits for memory, -1 when none does
  // What the next row needs, worked out for row needFor_ under needChosen_ and needCores_.
  TEncoderNeed nextNeed_;
  int needFor_ = -1, needChosen_ = -1, needCores_ = 0;
  QVector<TRunning> encoders_;
};
