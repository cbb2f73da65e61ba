#pragma once
// The encoder's console process: started with its output on a pipe, read line
// by line as the lines arrive (or on a caller's timer) without ever waiting for
// more output, and reaped when it ends.
#include "EncoderFailure.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class QSocketNotifier;

namespace Platform {
class TChildProcess;
}

// The text waiting in the pipe, or the empty text when nothing is waiting
// (never blocks). Reads chunks of at most 4800 bytes until the pipe is
// drained and returns the last chunk only, up to its first zero byte. Every
// byte read, dropped chunks included, is appended to all when it is given.
QString ReadDosPipe(int pipe, QByteArray* all = nullptr);

// The output time in seconds of a progress text (its first "time="); false when
// there is none or it is no number.
bool ParseProgressSeconds(const QString& text, double* seconds);

// One encoder run. The object owns the child process: its pid, its pipe ends
// and its reaping. Ended comes once the encoder has ended and been reaped;
// what it wrote last is still waiting to be read then (TakeWaiting reads it).
class TDosProcess : public QObject {
  Q_OBJECT
 public:
  explicit TDosProcess(QObject* parent = nullptr);
  ~TDosProcess() override;

  // Starts the program with exactly these arguments (no shell, no quoting). Its
  // standard output and error go into the output pipe, its standard input is
  // a pipe that only the quit key is written into. When this program ends, however it
  // ends, the encoder is sent SIGHUP, on which it finishes its file as on the quit key
  // (under a free name, never over another file). False when it could not be
  // started; then Ended never comes.
  bool StartDosProcess(const QString& program, const QStringList& arguments);

  // What is waiting in the output pipe now, as ReadDosPipe gives it. Every
  // line in it is taken as well (LineRead).
  QString ReadDosPipe();

  // From now on the output is read as soon as it arrives (a notifier on the
  // pipe), and LineRead comes for every line, in order: none is missed or
  // merged with another, however fast they come.
  void ReadLinesAsTheyCome();
  // Reads everything waiting in the pipe now and takes its lines; once the
  // encoder has ended, its last line without a line end too.
  void TakeWaiting();

  // Writes the quit key into the encoder's standard input. A process that has
  // gone already is no error; returns whether it was written.
  bool SendQuitKey();

  bool Started() const;
  bool HasEnded() const;
  int ExitCode() const;
  bool Crashed() const;
  int EndSignal() const;
  long long Pid() const;

  // The last error line of the output read so far (it begins with the protocol's
  // error mark), read into its code and detail: the encoder's own account of why it
  // failed. None when it wrote no such line.
  const std::optional<TEncoderError>& LastError() const { return lastError_; }
  // Whether the output read so far holds the summary line.
  bool SummarySeen() const { return summarySeen_; }
  // Where the encoder says it put the file when that is not the name it was given
  // (its output line); empty when it said nothing.
  QString OutputPath() const { return outputPath_; }
  // Its warning lines, in order.
  const QVector<TEncoderWarning>& Warnings() const { return warnings_; }
  // The tracks the output keeps, as its tracks line says: sound and subtitle tracks;
  // -1 each when it said nothing.
  int SoundTracks() const { return soundTracks_; }
  int SubtitleTracks() const { return subtitleTracks_; }
  // The elapsed time of the last progress line, in seconds; -1 before the first.
  double LastProgressSeconds() const { return lastProgress_; }
  // The length the encoder says its progress works to (its last length line),
  // in seconds; -1 before it said one.
  double WorkingLength() const { return workingLength_; }
  // Where a stopped encoder says it left its unfinished file; empty when it said nothing.
  QString UnfinishedPath() const { return unfinishedPath_; }

  // From now on the output is read and dropped as it arrives (a stopped
  // encoder that nobody reads any more must not block on a full pipe).
  void DiscardOutput();

 signals:
  void Ended(int exitCode, bool crashed);
  // One line of the encoder's output, without its line end (empty lines are left out).
  void LineRead(const QString& line);

 private:
  void TakeLines(const QByteArray& bytes, bool final);
  void TakeLine(const QString& line);

  Platform::TChildProcess* process_ = nullptr;
  QSocketNotifier* lineNotifier_ = nullptr;
  QByteArray partialLine_;
  QString unfinishedPath_;
  double workingLength_ = -1;
  std::optional<TEncoderError> lastError_;
  QString outputPath_;
  QVector<TEncoderWarning> warnings_;
  double lastProgress_ = -1;
  int soundTracks_ = -1, subtitleTracks_ = -1;
  bool summarySeen_ = false;
};
