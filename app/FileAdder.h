#pragma once
// Files on their way into the list, without the window ever waiting for them.
// Folders are walked whole (their subfolders too) by a thread of the adder's
// own; each file is probed by the probe workers (media/ProbePool); the rows
// come back to the window in the order the files were given, as their probes
// finish, a slice at a time. Files given while an addition goes on join it.
#include "media/FileFacts.h"

#include <QObject>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class TProbePool;
struct TProbeAnswer;

class TFileAdder : public QObject {
  Q_OBJECT
 public:
  explicit TFileAdder(QObject* owner);
  ~TFileAdder() override;

  // Adds files and folders, in this order: a folder brings the media files of
  // its whole tree, each with its folder below it; a file comes as it is when
  // anyKind (picked one by one) or when it is a media file, otherwise it is
  // counted in Ignored, as are notLocal items.
  void Add(const QStringList& paths, int notLocal = 0, bool anyKind = false);

  int Added = 0;      // rows added by this addition so far
  int Joined = 0;     // of them, rows that joined a run that goes on
  int Ignored = 0;    // items of this addition that are no video files
  int Slices = 0;     // slices of rows given to the window
  QString LastAdded;  // the file of the last row added
  QString Refused;    // why the last file that cannot be a source was refused
  // The most rows given to the window in one slice, and the time between slices:
  // answers that come meanwhile are given together.
  int SliceRows = 100;
  int SliceMs = 25;

  bool IsBusy() const;
  // Files found and not yet given to the window as rows.
  int Remaining() const;
  // Forgets the addition that has ended.
  void Reset();

  // Rows ready, in the order given; the addition's end (also after NoLibrary).
  std::function<void(const QVector<TFileRow>& rows)> OnRows;
  std::function<void()> OnEnd;
  TProbePool* Probes() const { return pool_; }

 private:
  struct TItem {
    QString path;
    bool anyKind = false;
  };
  struct TEntry {
    TFileRow row;
    bool answered = false;
    bool keep = false;  // a row to add (not refused)
  };
  void Walk();
  void Found(const QVector<TTreeFile>& files, int ignored, bool walkDone);
  void Answered(qint64 id, const TProbeAnswer& answer);
  void Deliver();

  TProbePool* pool_ = nullptr;
  // The walk's side: items to walk, guarded by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TItem> items_;
  int walking_ = 0;  // items given to the walk and not yet reported back
  std::atomic<bool> quit_{false};
  std::thread walker_;
  // The window's side: the files in order, by their number.
  std::map<qint64, TEntry> entries_;
  qint64 nextId_ = 0;
  bool delivering_ = false;
  bool noLibrary_ = false;
  bool ended_ = true;  // the addition's end was told
  class QTimer* deliver_ = nullptr;
  void ScheduleDelivery();
};
