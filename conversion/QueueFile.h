#pragma once
// The batch kept on disk, so that it outlives the window: a close, a crash, a
// logout or a power cut. The list's rows (each source, its state, its planned
// and real outputs, its reason, its unfinished files and the encoder options of
// its latest start) are one JSON file with a format version. It is written whole
// on every change (a new file beside it, on the disk before it takes the name)
// by a thread of its own, so the window never waits for the disk; and read
// back when the program starts, with the rules of RestoredRows. A file that
// cannot be read as ours (damaged, empty, another version) is set aside under
// another name and never stands in the way of a start.
#include "ConvQueue.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// The version of the file's format; a file of another version is set aside.
inline constexpr int kQueueFileVersion = 1;
// A queue file larger than this is no queue file of ours.
inline constexpr qint64 kQueueFileMaxBytes = 64 * 1024 * 1024;

// The file's contents for these rows.
QByteArray QueueFileBytes(const QVector<TQueueRow>& rows);

// The rows of a file's contents. False, with why (in Chinese), when they are not
// a queue file of this version: damaged, empty, or of another version.
bool ParseQueueFile(const QByteArray& bytes, QVector<TQueueRow>* rows, QString* why);

struct TQueueFileRead {
  enum class TState {
    kMissing,   // there is none: a first start, or the list was never kept
    kRead,      // rows holds what it kept
    kSetAside,  // it could not be read as ours and was moved to setAsideAs
    kUnusable,  // it could not be read as ours nor moved; it is left as it is
  };
  TState state = TState::kMissing;
  QVector<TQueueRow> rows;
  QString why;         // why it was set aside (Chinese)
  QString setAsideAs;  // where it went
};

// Reads the queue file at path: opened without waiting, only a regular file of
// this user's and of a bounded size. One that is not a sound queue file of this
// version is renamed to "<path>.broken-<date and time>".
TQueueFileRead ReadQueueFile(const QString& path);

// The rows as a new start shows them: a converted row stays converted while its
// output is still there with the size it was made with, and otherwise waits
// again; a row whose conversion was cut off (converting when the program
// ended, or interrupted by a close) is interrupted and waits again, its
// unfinished file among its others; waiting, failed, stopped and skipped rows
// are as they were.
QVector<TQueueRow> RestoredRows(const QVector<TQueueRow>& saved);

// Writes the queue file in a thread of its own: Save returns at once, and the
// latest rows given are written soon after (rows given while a write goes on
// replace each other, so only the newest is written next). Each write is
// whole: the old file or the new one, never a mix, also across a power cut.
class TQueueStore {
 public:
  explicit TQueueStore(const QString& path);
  // Writes what was given last before it returns.
  ~TQueueStore();
  TQueueStore(const TQueueStore&) = delete;
  TQueueStore& operator=(const TQueueStore&) = delete;

  const QString& Path() const { return path_; }
  void Save(const QVector<TQueueRow>& rows);
  // Returns once everything given so far is written (or has failed).
  void Flush();
  // Writes done, and the error of the last write that failed ("" when it was written).
  int Writes() const;
  QString LastError() const;

 private:
  void Run();

  const QString path_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::optional<QVector<TQueueRow>> pending_;
  bool writing_ = false;
  bool quit_ = false;
  int writes_ = 0;
  QString lastError_;
  std::thread thread_;
};

// Writes data to path whole: into a new file beside it (only its owner may
// read it), on the disk, then renamed over path, and the folder's entry on the
// disk too. The folder is made when missing. "" or why not.
QString WriteFileWhole(const QString& path, const QByteArray& data);
