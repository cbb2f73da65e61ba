#include "FileAdder.h"

#include "media/ProbePool.h"
#include "platform/FileNames.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>

TFileAdder::TFileAdder(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("AvFileAdder"));
  pool_ = new TProbePool(this);
  connect(pool_, &TProbePool::Answered, this, &TFileAdder::Answered);
  deliver_ = new QTimer(this);
  deliver_->setSingleShot(true);
  connect(deliver_, &QTimer::timeout, this, &TFileAdder::Deliver);
  walker_ = std::thread([this] { Walk(); });
}

TFileAdder::~TFileAdder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  walker_.join();
}

void TFileAdder::Add(const QStringList& paths, int notLocal, bool anyKind) {
  Ignored += notLocal;
  ended_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const QString& path : paths) {
      items_.push_back(TItem{path, anyKind});
      ++walking_;
    }
  }
  wake_.notify_all();
  // Nothing to walk: the end is told from the event loop, as any other.
  if (paths.isEmpty()) ScheduleDelivery();
}

void TFileAdder::Walk() {
  for (;;) {
    TItem item;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !items_.empty(); });
      if (quit_) return;
      item = items_.front();
      items_.pop_front();
    }
    // Asked of the path's own bytes: Qt cannot reach a name that is not UTF-8.
    int ignored = 0;
    QVector<TTreeFile> files;
    const Platform::TPathKind kind = Platform::PathKind(item.path);
    auto report = [this](const QVector<TTreeFile>& found, int skipped, bool done) {
      QMetaObject::invokeMethod(
          this, [this, found, skipped, done] { Found(found, skipped, done); }, Qt::QueuedConnection);
    };
    if (kind == Platform::TPathKind::kFolder) {
      // The tree's files go to the window in chunks as they are found.
      MediaFilesInTree(
          item.path, &ignored, [&](const QVector<TTreeFile>& chunk) { report(chunk, 0, false); }, &quit_);
    } else if (item.anyKind ||
               (kind == Platform::TPathKind::kFile && IsMediaFileName(QFileInfo(item.path).fileName()))) {
      files << TTreeFile{item.path, QString()};
    } else {
      ++ignored;
    }
    report(files, ignored, true);
  }
}

void TFileAdder::Found(const QVector<TTreeFile>& files, int ignored, bool walkDone) {
  Ignored += ignored;
  if (walkDone) {
    std::lock_guard<std::mutex> lock(mutex_);
    --walking_;
  }
  for (const TTreeFile& file : files) {
    const qint64 id = nextId_++;
    TEntry& entry = entries_[id];
    entry.row.path = file.path;
    entry.row.subFolder = file.subFolder;
    if (noLibrary_) {
      entry.answered = true;
      continue;
    }
    pool_->Probe(id, file.path);
  }
  ScheduleDelivery();
}

void TFileAdder::ScheduleDelivery() {
  // Answers are given a slice at a time: the window adds many rows in one go
  // rather than one row an event.
  if (!deliver_->isActive()) deliver_->start(SliceMs);
}

void TFileAdder::Answered(qint64 id, const TProbeAnswer& answer) {
  const auto it = entries_.find(id);
  if (it == entries_.end()) return;
  TEntry& entry = it->second;
  entry.answered = true;
  switch (answer.kind) {
    case TProbeAnswer::TKind::kRow: {
      const QString subFolder = entry.row.subFolder;
      entry.row = answer.row;
      entry.row.subFolder = subFolder;
      entry.keep = true;
      break;
    }
    case TProbeAnswer::TKind::kRefused:
      // A pipe, device or socket is never probed (opening it could wait forever).
      Refused = answer.refusal;
      break;
    case TProbeAnswer::TKind::kNoLibrary:
      // Without the media library nothing can be added.
      noLibrary_ = true;
      pool_->Clear();
      for (auto& e : entries_) e.second.answered = true;
      break;
  }
  ScheduleDelivery();
}

void TFileAdder::Deliver() {
  if (delivering_) return;
  // The rows ready at the front, in order, a slice at a time.
  QVector<TFileRow> rows;
  while (!entries_.empty() && entries_.begin()->second.answered && rows.size() < SliceRows) {
    if (entries_.begin()->second.keep && !noLibrary_) rows << entries_.begin()->second.row;
    entries_.erase(entries_.begin());
  }
  if (!rows.isEmpty()) {
    ++Slices;
    Added += static_cast<int>(rows.size());
    LastAdded = rows.last().path;
    delivering_ = true;
    if (OnRows) OnRows(rows);
    delivering_ = false;
  }
  // More ready: the next slice after other events.
  if (!entries_.empty() && entries_.begin()->second.answered) {
    ScheduleDelivery();
    return;
  }
  if (!IsBusy() && !ended_) {
    ended_ = true;
    if (OnEnd) OnEnd();
  }
}

bool TFileAdder::IsBusy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return walking_ > 0 || !entries_.empty();
}

int TFileAdder::Remaining() const { return static_cast<int>(entries_.size()); }

void TFileAdder::Reset() {
  Added = 0;
  Joined = 0;
  Ignored = 0;
  Slices = 0;
  LastAdded.clear();
  Refused.clear();
  noLibrary_ = false;
}
