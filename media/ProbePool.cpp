#include "media/ProbePool.h"

#include "media/MediaInfoDll.h"
#include "platform/ChildProcess.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// A request whose answer is no longer wanted (Clear came meanwhile).
constexpr qint64 kDropped = -2;
// How long probes on the caller's thread may take before other events come in.
constexpr qint64 kHereSliceMs = 20;

QByteArray Field(const QString& text) { return text.toUtf8().toBase64(); }
QString FromField(const QByteArray& field) { return QString::fromUtf8(QByteArray::fromBase64(field)); }

// The row of a file whose probe gave nothing: as a file the library cannot read.
TFileRow UnknownRow(const QString& path) {
  TFileRow row;
  row.path = path;
  row.size = FormatMediaSize(QString());
  row.duration = QString::fromUtf8(kUnknownDuration);
  row.progress = QStringLiteral("0%");
  return row;
}

TProbeAnswer ProbeHere(const QString& path) {
  TProbeAnswer answer;
  answer.refusal = NotASourceReason(path);
  if (!answer.refusal.isEmpty()) {
    answer.kind = TProbeAnswer::TKind::kRefused;
    return answer;
  }
  const std::optional<TFileRow> row = ProbeFileRow(path);
  if (!row) {
    answer.kind = TProbeAnswer::TKind::kNoLibrary;
    return answer;
  }
  answer.row = *row;
  return answer;
}

}  // namespace

QByteArray ProbeAnswerLine(const TProbeAnswer& answer) {
  switch (answer.kind) {
    case TProbeAnswer::TKind::kNoLibrary:
      return "nolib\n";
    case TProbeAnswer::TKind::kRefused:
      return "refused " + Field(answer.refusal) + '\n';
    case TProbeAnswer::TKind::kRow:
      break;
  }
  const TFileRow& r = answer.row;
  return "row " + Field(r.type) + ' ' + Field(r.size) + ' ' + Field(r.duration) + ' ' +
         QByteArray::number(r.width) + ' ' + QByteArray::number(r.height) + '\n';
}

bool ParseProbeAnswerLine(const QByteArray& line, const QString& path, TProbeAnswer* answer) {
  const QList<QByteArray> words = line.trimmed().split(' ');
  *answer = TProbeAnswer();
  if (words.value(0) == "nolib" && words.size() == 1) {
    answer->kind = TProbeAnswer::TKind::kNoLibrary;
    return true;
  }
  if (words.value(0) == "refused" && words.size() == 2) {
    answer->kind = TProbeAnswer::TKind::kRefused;
    answer->refusal = FromField(words[1]);
    return true;
  }
  if (words.value(0) != "row" || words.size() != 6) return false;
  bool okW = false, okH = false;
  TFileRow& r = answer->row;
  r.path = path;
  r.type = FromField(words[1]);
  r.size = FromField(words[2]);
  r.duration = FromField(words[3]);
  r.width = std::max(0, words[4].toInt(&okW));
  r.height = std::max(0, words[5].toInt(&okH));
  r.progress = QStringLiteral("0%");
  return okW && okH;
}

int TProbePool::RunWorker(int argc, char** argv) {
  Platform::EnsureUtf8Locale();
  // Background work: the window and the encoders come first.
  ::setpriority(PRIO_PROCESS, 0, 4);
  // A test may name another library file.
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--library") == 0)
      SetMediaInfoLibFileForTests(QString::fromLocal8Bit(argv[i + 1]));
  std::string line;
  // One path a line (its bytes in base64), one answer a line.
  while (std::getline(std::cin, line)) {
    const QString path = Platform::PathFromNative(QByteArray::fromBase64(QByteArray::fromStdString(line)));
    const QByteArray answer = ProbeAnswerLine(ProbeHere(path));
    std::fwrite(answer.constData(), 1, static_cast<size_t>(answer.size()), stdout);
    std::fflush(stdout);
  }
  return 0;
}

TProbePool::TProbePool(QObject* parent) : QObject(parent) {
  dispatch_ = new QTimer(this);
  dispatch_->setSingleShot(true);
  connect(dispatch_, &QTimer::timeout, this, &TProbePool::Dispatch);
  idle_ = new QTimer(this);
  idle_->setSingleShot(true);
  connect(idle_, &QTimer::timeout, this, &TProbePool::EndIdleWorkers);
}

void TProbePool::EndIdleWorkers() {
  if (queue_.isEmpty() && busy_ == 0) RetireAll();
}

// Each worker is asked to end; a keeper reaps it (see ChildProcess.h).
TProbePool::~TProbePool() { RetireAll(); }

void TProbePool::RetireAll() {
  const QVector<TWorker*> workers = workers_;
  workers_.clear();
  for (TWorker* w : workers) Retire(w);
}

void TProbePool::Probe(qint64 id, const QString& path) {
  queue_.enqueue(TRequest{id, path});
  // Answered from the event loop, never inside this call.
  ScheduleDispatch(0);
}

void TProbePool::ScheduleDispatch(int ms) {
  if (dispatch_->isActive() && dispatch_->remainingTime() <= ms) return;
  dispatch_->start(ms);
}

void TProbePool::Clear() {
  queue_.clear();
  for (TWorker* w : std::as_const(workers_))
    if (w->id >= 0) w->id = kDropped;
}

TProbePool::TWorker* TProbePool::StartWorker() {
  auto* w = new TWorker;
  w->process = new Platform::TChildProcess(this);
  QStringList argv{Program.isEmpty() ? Platform::ExePath(QString::fromLatin1(Platform::kProbeFile))
                                     : Program};
  if (MediaInfoLibFile() != QString::fromLatin1(Platform::kMediaInfoLibFile))
    argv << QStringLiteral("--library") << MediaInfoLibFile();
  Platform::TChildProcess::Options options;
  options.captureOutput = true;
  options.inputPipe = true;
  options.endWithProgram = true;
  if (!QFileInfo(argv.first()).isExecutable() || !w->process->Start(argv, options)) {
    delete w->process;
    delete w;
    return nullptr;
  }
  w->timer = new QTimer(w->process);
  w->timer->setSingleShot(true);
  connect(w->timer, &QTimer::timeout, this, [this, w] { WorkerGone(w, true); });
  // Its answers as they come; its end when it ends.
  connect(w->process, &Platform::TChildProcess::Finished, this, [this, w] { WorkerGone(w, false); });
  w->notifier = new QSocketNotifier(w->process->OutputFd(), QSocketNotifier::Read, w->process);
  connect(w->notifier, &QSocketNotifier::activated, this, [this, w] { TakeOutput(w); });
  workers_ << w;
  return w;
}

void TProbePool::Dispatch() {
  if (queue_.isEmpty() && busy_ == 0) {
    idle_->start(IdleMs);
    return;
  }
  idle_->stop();
  const int most = MaxWorkers > 0 ? MaxWorkers : std::min(4, Platform::UsableCores());
  QElapsedTimer slice;
  slice.start();
  while (!queue_.isEmpty()) {
    if (unavailable_) {
      // No worker program: the files are probed here, as they always were, a
      // short slice at a time between the window's other events.
      if (slice.elapsed() >= kHereSliceMs) {
        // A timer, not a posted event: the window's own timers come first.
        ScheduleDispatch(1);
        return;
      }
      const TRequest request = queue_.dequeue();
      emit Answered(request.id, ProbeHere(request.path));
      continue;
    }
    TWorker* idle = nullptr;
    for (TWorker* w : std::as_const(workers_))
      if (w->id == -1) idle = w;
    if (!idle && workers_.size() < most) {
      idle = StartWorker();
      if (!idle) {
        unavailable_ = workers_.isEmpty();
        if (unavailable_) continue;
      }
    }
    if (!idle) return;
    const TRequest request = queue_.dequeue();
    idle->id = request.id;
    idle->path = request.path;
    ++busy_;
    idle->timer->start(TimeoutMs);
    idle->process->Write(Platform::NativePath(request.path).toBase64() + '\n');
  }
}

void TProbePool::TakeOutput(TWorker* w) {
  // Only what is waiting: the read never blocks.
  char chunk[4096];
  for (int waiting;
       w->process->OutputFd() >= 0 && (waiting = Platform::BytesWaiting(w->process->OutputFd())) > 0;) {
    const ssize_t n = ::read(w->process->OutputFd(), chunk, std::min<size_t>(sizeof chunk, size_t(waiting)));
    if (n <= 0) break;
    w->buffer.append(chunk, static_cast<int>(n));
  }
  int end;
  while ((end = w->buffer.indexOf('\n')) >= 0) {
    const QByteArray line = w->buffer.left(end);
    w->buffer.remove(0, end + 1);
    TProbeAnswer answer;
    if (!ParseProbeAnswerLine(line, w->path, &answer)) answer.row = UnknownRow(w->path);
    Answer(w, answer);
  }
  Dispatch();
}

void TProbePool::Answer(TWorker* w, const TProbeAnswer& answer) {
  if (w->id == -1) return;
  const qint64 id = w->id;
  w->id = -1;
  w->timer->stop();
  --busy_;
  if (id != kDropped) emit Answered(id, answer);
}

void TProbePool::WorkerGone(TWorker* w, bool timedOut) {
  if (!workers_.contains(w)) return;
  // A worker that crashed or hung on a file: that file's facts are unknown, and
  // the next file gets a new worker.
  if (timedOut) {
    TakeOutput(w);
    if (w->id == -1) return;  // it answered after all
  }
  workers_.removeAll(w);
  if (w->id != -1) Answer(w, TProbeAnswer{TProbeAnswer::TKind::kRow, UnknownRow(w->path), QString()});
  Retire(w);
  ScheduleDispatch(0);
}

void TProbePool::Retire(TWorker* w) {
  delete w->notifier;
  delete w->timer;
  w->process->disconnect(this);
  if (w->process->Running()) {
    connect(w->process, &Platform::TChildProcess::Finished, w->process, &QObject::deleteLater);
    w->process->Terminate(0);
  } else {
    w->process->deleteLater();
  }
  delete w;
}
