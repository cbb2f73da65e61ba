#include "ConvQueue.h"

#include "DosConvFunc.h"
#include "EncoderFailure.h"
#include "OutputNames.h"
#include "encoder/Protocol.h"
#include "media/DurationText.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace {

// Whether both paths name one existing file (the same device and inode, so
// links and other spellings of the path count too).
bool SameFile(const QString& a, const QString& b) {
  struct stat sa, sb;
  if (::stat(Platform::NativePath(a).constData(), &sa) != 0) return false;
  if (::stat(Platform::NativePath(b).constData(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A row as a run takes it: nothing of an earlier run is left on it.
void ResetForRun(TQueueRow& row) {
  row.result = TRowResult::Waiting;
  row.reason.clear();
  row.detail.clear();
  row.warning.clear();
  row.warningDetail.clear();
  row.tracks.clear();
  row.disposal.clear();
  row.nextUnfinished.clear();
  row.convertedSeconds = 0;
  row.lengthSeconds = -1;
  row.fps = 0;
  row.writtenBytes = 0;
  row.outputBytes = -1;
  row.percent = 0;
  int seconds = 0;
  row.durationSeconds = TConvQueue::ParseDuration(row.durationText, &seconds) ? seconds : -1;
}

// The number after "key=" in a progress line (blanks allowed before it); false when none.
bool ProgressValue(const QString& line, const QString& key, double* value) {
  const int k = line.indexOf(key + QLatin1Char('='));
  if (k < 0) return false;
  static const QRegularExpression number(QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)"));
  const QRegularExpressionMatch m = number.match(line.mid(k + key.size() + 1));
  if (!m.hasMatch()) return false;
  *value = m.captured(1).toDouble();
  return true;
}

}  // namespace

bool TConvQueue::ParseProgressTime(const QString& text, int* seconds) {
  double exact = 0;
  const bool ok = ParseProgressSeconds(text, &exact) && exact < INT_MAX;
  // Whole seconds, the fraction dropped.
  *seconds = ok ? static_cast<int>(exact) : 0;
  return ok;
}

qint64 TConvQueue::PercentOf(double converted, double length) {
  if (length <= 0 || converted <= 0) return 0;
  // A hair above, so that 5.1 of 10 s is 51 % however the division rounds.
  return std::clamp<qint64>(static_cast<qint64>(converted * 100.0 / length + 1e-9), 0, 99);
}

QString TConvQueue::FreeUnfinishedName(const QString& output) {
  const QString name = Platform::PathFromNative(QByteArray::fromStdString(
      vidmora::protocol::UnfinishedName(Platform::NativePath(output).toStdString())));
  return PathInUse(name) ? NextFreeName(name, PathInUse) : name;
}

bool TConvQueue::ParseDuration(const QString& text, int* seconds) {
  bool ok = false;
  *seconds = DurationSeconds(text, &ok);
  return ok;
}

TConvQueue::TConvQueue(QObject* parent) : QObject(parent) {}

TConvQueue::~TConvQueue() = default;

bool TConvQueue::Start(const QVector<TQueueRow>& rows) {
  if (rows.isEmpty() || running_ || !PrepareRow) return false;
  QVector<TQueueRow> planned = rows;
  for (TQueueRow& row : planned) ResetForRun(row);
  if (ResolveOutputs && !ResolveOutputs(planned)) return false;
  rows_ = planned;
  running_ = true;
  next_ = 0;
  heldBack_ = -1;
  needFor_ = -1;
  StartMore();
  return true;
}

bool TConvQueue::Append(const QVector<TQueueRow>& rows) {
  if (!running_) return false;
  const int first = rows_.size();
  for (TQueueRow row : rows) {
    ResetForRun(row);
    row.convert = true;
    rows_ << row;
  }
  if (PlanAppended) PlanAppended(rows_, first);
  // There may be room for them now.
  StartMore();
  return true;
}

QVector<int> TConvQueue::RunningRows() const {
  QVector<int> rows;
  for (const TRunning& r : encoders_) rows << r.row;
  std::sort(rows.begin(), rows.end());
  return rows;
}

int TConvQueue::RunningIndex(int row) const {
  for (int i = 0; i < encoders_.size(); ++i)
    if (encoders_[i].row == row) return i;
  return -1;
}

bool TConvQueue::IsRowRunning(int row) const { return RunningIndex(row) >= 0; }

TDosProcess* TConvQueue::Encoder(int row) const {
  const int i = RunningIndex(row < 0 ? position_ : row);
  return i >= 0 ? encoders_[i].encoder : nullptr;
}

void TConvQueue::StartMore() {
  // A row being prepared finishes its start first; its caller goes on from there.
  if (preparing_ >= 0) return;
  while (running_) {
    // Rows left out of this run are passed by without a word.
    while (next_ < rows_.size() && !rows_[next_].convert) ++next_;
    if (next_ >= rows_.size()) {
      if (!encoders_.isEmpty()) return;
      running_ = false;
      SetPosition(rows_.size());
      emit RunEnded(false);
      return;
    }
    const int cores = Cores > 0 ? Cores : Platform::UsableCores();
    // What the next row needs is worked out once while it waits.
    if (needFor_ != next_ || needChosen_ != Chosen || needCores_ != cores) {
      nextNeed_ = EncoderNeed(WorkOf ? WorkOf(next_) : TEncoderWork(), Chosen, cores);
      needFor_ = next_;
      needChosen_ = Chosen;
      needCores_ = cores;
    }
    const TEncoderNeed need = nextNeed_;
    QVector<TEncoderNeed> busy;
    for (const TRunning& r : encoders_) busy << r.need;
    const qint64 available =
        encoders_.isEmpty() ? -1 : (AvailableMemory ? AvailableMemory() : Platform::AvailableMemory());
    const TStartVerdict verdict = MayStart(busy, need, Chosen, cores, available);
    if (verdict == TStartVerdict::kWaitForMemory && heldBack_ != next_) {
      heldBack_ = next_;
      emit HeldBack(next_, need.memoryBytes, available);
    }
    if (verdict != TStartVerdict::kStart) return;
    if (heldBack_ >= 0) {
      heldBack_ = -1;
      emit HeldBack(-1, 0, 0);
    }
    const int row = next_++;
    SetPosition(row);
    StartRow(row, need);
  }
}

bool TConvQueue::StartRow(int row, const TEncoderNeed& need) {
  TQueueRow& r = rows_[row];
  r.result = TRowResult::Converting;
  r.threads = need.threads;
  // A file that has appeared under the planned name since the run started is
  // not ours to replace: the row takes the next free name, clear of every
  // other row's.
  if (!r.output.isEmpty() && PathInUse(r.output))
    r.output = NextFreeName(r.output, [this](const QString& p) {
      if (PathInUse(p)) return true;
      for (const TQueueRow& other : rows_) {
        if (other.output == p || other.replaces == p || other.source == p) return true;
      }
      return false;
    });
  // A folder's files keep its structure: their folder below the output folder is made.
  const QString folder = r.output.isEmpty() ? QString() : QFileInfo(r.output).path();
  if (!folder.isEmpty() && Platform::PathKind(folder) != Platform::TPathKind::kFolder &&
      !QDir().mkpath(folder)) {
    Finish(row, TRowResult::Failed,
           QStringLiteral("无法创建输出文件夹 %1").arg(QDir::toNativeSeparators(folder)));
    return false;
  }
  preparing_ = row;
  const TConvJob job = PrepareRow(row);
  preparing_ = -1;
  // The run may have been stopped while the row was prepared.
  if (!running_) return true;
  TQueueRow& prepared = rows_[row];
  if (!job.error.isEmpty() || job.program.isEmpty()) {
    Finish(row, TRowResult::Failed, job.error);
    return false;
  }
  prepared.output = prepared.planned = job.output;
  prepared.options = job.arguments;
  prepared.sourceBytes = Platform::FileSize(prepared.source);
  prepared.nextUnfinished = FreeUnfinishedName(prepared.output);
  // An output that names the source file itself would destroy the source.
  if (SameFile(prepared.source, job.output)) {
    Finish(row, TRowResult::Skipped, QStringLiteral("输出文件与源文件相同"));
    return false;
  }
  auto* encoder = new TDosProcess(this);
  connect(encoder, &TDosProcess::Ended, this, [this, row] { EncoderEnded(row); });
  connect(encoder, &TDosProcess::LineRead, this, [this, row](const QString& line) { TakeLine(row, line); });
  if (!encoder->StartDosProcess(job.program, job.arguments)) {
    RetireEncoder(encoder);
    Finish(row, TRowResult::Failed, QStringLiteral("编码器无法启动"));
    return false;
  }
  encoders_ << TRunning{row, encoder, need};
  encoder->ReadLinesAsTheyCome();
  emit RowStarted(row);
  return true;
}

void TConvQueue::Poll() {
  if (!running_ || preparing_ >= 0) return;
  for (const TRunning& r : QVector<TRunning>(encoders_)) {
    if (RunningIndex(r.row) >= 0) r.encoder->TakeWaiting();
  }
  // Memory freed since the last look may let the next row start.
  StartMore();
}

void TConvQueue::TakeLine(int row, const QString& line) {
  if (row < 0 || row >= rows_.size()) return;
  TQueueRow& r = rows_[row];
  if (line.startsWith(QLatin1String(vidmora::protocol::kLengthMark))) {
    const TDosProcess* encoder = Encoder(row);
    r.lengthSeconds = encoder ? encoder->WorkingLength() : r.lengthSeconds;
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kProgressMark))) {
    emit ProgressText(row, line);
    // A text whose time does not read as a number leaves the progress as it is.
    double seconds = 0;
    if (!ParseProgressSeconds(line, &seconds)) return;
    r.convertedSeconds = seconds;
    double value = 0;
    r.fps = ProgressValue(line, QStringLiteral("fps"), &value) ? value : 0;
    if (ProgressValue(line, QStringLiteral("size"), &value))
      r.writtenBytes = static_cast<qint64>(value * 1024);
  } else {
    return;
  }
  // The percentage comes from the encoder's own clock: its time of the length it works to.
  const qint64 percent = PercentOf(r.convertedSeconds, r.lengthSeconds);
  const bool changed = percent != r.percent;
  r.percent = percent;
  emit RowProgress(row);
  if (r.lengthSeconds >= 0 && (changed || line.startsWith(QLatin1String(vidmora::protocol::kProgressMark))))
    emit RowPercent(row, percent);
}

void TConvQueue::EncoderEnded(int p) {
  const int at = RunningIndex(p);
  if (!running_ || at < 0) return;
  TDosProcess* encoder = encoders_[at].encoder;
  // Everything the encoder wrote is in the pipe now: its last lines count like any other.
  encoder->TakeWaiting();
  bool done = encoder->ExitCode() == 0 && !encoder->Crashed() && encoder->SummarySeen();
  QString reason, detail;
  TQueueRow& r = rows_[p];
  r.nextUnfinished.clear();
  // The encoder put its file under another name (the planned one was taken meanwhile,
  // or the folder's file system refused a character of it).
  if (done && !encoder->OutputPath().isEmpty()) r.output = encoder->OutputPath();
  if (done) {
    QStringList caveats, technical;
    // The encoder's own words stay for the technical line; the user reads Chinese.
    for (const TEncoderWarning& w : encoder->Warnings()) {
      caveats << EncoderWarningText(w);
      technical << w.text;
    }
    // A source whose container states no length cannot be caught by the encoder when
    // its data ends early: the length the list shows is the measure.
    const double converted = encoder->LastProgressSeconds();
    if (caveats.isEmpty() && r.durationSeconds > 0 && converted >= 0 && converted < 0.9 * r.durationSeconds)
      caveats << QStringLiteral("只转换了 %1 秒，列表中的长度为 %2 秒: 源文件可能不完整")
                     .arg(converted, 0, 'f', 2)
                     .arg(r.durationSeconds);
    r.warning = caveats.join(QLatin1Char('\n'));
    r.warningDetail = technical.join(QLatin1Char('\n'));
    if (encoder->SoundTracks() >= 0)
      r.tracks =
          QStringLiteral("声音 %1 条, 字幕 %2 条").arg(encoder->SoundTracks()).arg(encoder->SubtitleTracks());
  }
  if (done && !r.replaces.isEmpty()) {
    // Only a complete conversion takes the old file's place, in one step.
    if (std::rename(Platform::NativePath(r.output).constData(),
                    Platform::NativePath(r.replaces).constData()) == 0) {
      // The file now has the name the user chose to replace: that is its planned name.
      r.output = r.planned = r.replaces;
      r.replaces.clear();
    } else {
      done = false;
      reason = QStringLiteral("无法替换 %1 (%2)，输出保存为 %3")
                   .arg(r.replaces, QString::fromLocal8Bit(std::strerror(errno)), r.output);
    }
  }
  TRowResult result = done ? TRowResult::Converted : TRowResult::Failed;
  if (done) {
    r.outputBytes = Platform::FileSize(r.output);
    DisposeUnfinished(r);
  } else if (!encoder->UnfinishedPath().isEmpty()) {
    // Stopped by someone else (the system, a signal): what it holds is kept, and the
    // row waits for another run.
    result = TRowResult::Interrupted;
    r.convertedSeconds = std::max(0.0, encoder->LastProgressSeconds());
    r.unfinished << encoder->UnfinishedPath();
    reason = QStringLiteral("转换被中断 (编码器收到了停止信号)");
  } else if (reason.isEmpty()) {
    // The encoder's own account first; without one, how it ended.
    const TFailureText text =
        encoder->LastError()
            ? EncoderErrorText(*encoder->LastError(), encoder->LastProgressSeconds())
            : EncoderEndText(encoder->Crashed(), encoder->EndSignal(), encoder->ExitCode());
    reason = text.sentence;
    detail = text.detail;
  }
  encoders_.remove(at);
  RetireEncoder(encoder);
  Finish(p, result, reason, detail);
  // The next file starts as soon as this one's end is seen.
  StartMore();
}

void TConvQueue::DisposeUnfinished(TQueueRow& row) {
  // The complete file holds all that the unfinished ones held: they go to the trash,
  // where the user can still find them. Only plain files under the names a stop left.
  QStringList trashed, kept;
  // The user's trash is made where it is missing: without it the file would be moved
  // into a trash of the working folder's.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const bool trash =
      !data.isEmpty() && QDir().mkpath(data) &&
      (QFileInfo(data + QStringLiteral("/Trash")).isDir() ||
       QDir(data).mkdir(QStringLiteral("Trash"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  for (const QString& path : std::as_const(row.unfinished)) {
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink() || !info.isFile()) continue;
    if (trash && QFile::moveToTrash(path)) {
      trashed << info.fileName();
    } else {
      kept << path;
    }
  }
  row.unfinished = kept;
  QStringList said;
  if (!trashed.isEmpty())
    said << QStringLiteral("之前未完成的文件 %1 已移到回收站").arg(trashed.join(QStringLiteral(", ")));
  if (!kept.isEmpty())
    said << QStringLiteral("之前未完成的文件 %1 无法移到回收站, 仍在原处")
                .arg(kept.join(QStringLiteral(", ")));
  row.disposal = said.join(QLatin1Char('\n'));
}

void TConvQueue::Finish(int row, TRowResult result, const QString& reason, const QString& detail) {
  TQueueRow& r = rows_[row];
  r.result = result;
  r.reason = reason;
  r.detail = detail;
  if (result == TRowResult::Converted) r.percent = 100;
  emit RowFinished(row);
}

bool TConvQueue::Stop(bool closing) {
  if (!running_) return false;
  running_ = false;
  const QVector<TRunning> stopped = encoders_;
  encoders_.clear();
  for (const TRunning& running : stopped) {
    TDosProcess* encoder = running.encoder;
    TQueueRow& r = rows_[running.row];
    // What it has converted so far: the stopped file holds about that much.
    encoder->TakeWaiting();
    r.convertedSeconds = std::max(0.0, encoder->LastProgressSeconds());
    // The encoder leaves what it has under the unfinished name, never the final one.
    if (r.convertedSeconds > 0 && !r.output.isEmpty()) r.unfinished << FreeUnfinishedName(r.output);
    r.nextUnfinished.clear();
    // The encoder ends itself on the quit key and closes its output file; it
    // is reaped when it has ended.
    encoder->SendQuitKey();
    RetireEncoder(encoder);
  }
  // In list order, as they started; a row being prepared is stopped too.
  QVector<int> rows;
  for (const TRunning& running : stopped) rows << running.row;
  if (preparing_ >= 0) rows << preparing_;
  std::sort(rows.begin(), rows.end());
  for (int row : rows) Finish(row, closing ? TRowResult::Interrupted : TRowResult::Stopped, QString());
  heldBack_ = -1;
  SetPosition(-1);
  emit RunEnded(true);
  return true;
}

void TConvQueue::RetireEncoder(TDosProcess* gone) {
  if (!gone) return;
  disconnect(gone, nullptr, this, nullptr);
  if (gone->HasEnded()) {
    gone->deleteLater();
    return;
  }
  gone->DiscardOutput();
  connect(gone, &TDosProcess::Ended, gone, &QObject::deleteLater);
}

void TConvQueue::SetPosition(int position) {
  if (position_ == position) return;
  position_ = position;
  emit PositionChanged(position);
}
