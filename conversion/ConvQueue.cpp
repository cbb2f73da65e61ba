#include "ConvQueue.h"

#include "DosConvFunc.h"
#include "EncoderFailure.h"
#include "OutputNames.h"
#include "encoder/Protocol.h"
#include "media/DurationText.h"
#include "platform/FileNames.h"

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

QString TConvQueue::WarningText(const QString& warning, QString* technical) {
  const int colon = warning.indexOf(QLatin1String(": "));
  const QString code = colon >= 0 ? warning.left(colon) : warning;
  const QString detail = colon >= 0 ? warning.mid(colon + 2) : QString();
  // The encoder's own words stay for the technical line; the user reads Chinese.
  if (technical) *technical = warning;
  if (code == QLatin1String(vidmora::protocol::kWarnShortSource)) {
    // "the source's data ends at 5.0 s of a stated 10.0 s"
    static const QRegularExpression values(QStringLiteral("ends at ([0-9.]+) s of a stated ([0-9.]+) s"));
    const QRegularExpressionMatch m = values.match(detail);
    if (m.hasMatch())
      return QStringLiteral("源文件标明长 %1 秒，但其数据在 %2 秒处就结束了：已转换其中的全部内容")
          .arg(m.captured(2), m.captured(1));
    return QStringLiteral("源文件的数据在其标明的长度之前结束：已转换其中的全部内容");
  }
  if (code == QLatin1String(vidmora::protocol::kWarnNoPicture))
    return QStringLiteral("源文件没有画面，输出只有声音");
  if (code == QLatin1String(vidmora::protocol::kWarnPictureSubtitles))
    return QStringLiteral("源文件的图形字幕无法存为 MP4 文字字幕，已略过");
  if (code == QLatin1String(vidmora::protocol::kWarnSubtitleLeftOut))
    return QStringLiteral("有一条字幕无法读取，已略过");
  if (code == QLatin1String(vidmora::protocol::kWarnSubtitleCues))
    return QStringLiteral("字幕中有部分内容有误或过大，已略过或截短");
  if (code == QLatin1String(vidmora::protocol::kWarnSoundLeftOut))
    return QStringLiteral("源文件的一条声音无法保留，已略过");
  return QStringLiteral("编码器给出了警告");
}

qint64 TConvQueue::PercentOf(double converted, double length) {
  if (length <= 0 || converted <= 0) return 0;
  // A hair above, so that 5.1 of 10 s is 51 % however the division rounds.
  return std::clamp<qint64>(static_cast<qint64>(converted * 100.0 / length + 1e-9), 0, 99);
}

QString TConvQueue::FreeUnfinishedName(const QString& output) {
  const QString name = Platform::PathFromNative(
      QByteArray::fromStdString(vidmora::protocol::UnfinishedName(Platform::NativePath(output).toStdString())));
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
  StartFrom(0);
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
  return true;
}

void TConvQueue::StartFrom(int row) {
  // Rows that cannot start are finished at once and the next one is tried.
  while (running_) {
    // Rows left out of this run are passed by without a word.
    while (row < rows_.size() && !rows_[row].convert) ++row;
    SetPosition(row);
    if (row >= rows_.size()) {
      running_ = false;
      emit RunEnded(false);
      return;
    }
    if (StartRow(row)) return;
    ++row;
  }
}

bool TConvQueue::StartRow(int row) {
  TQueueRow& r = rows_[row];
  r.result = TRowResult::Converting;
  // A file that has appeared under the planned name since the run started is
  // not ours to replace: the row takes the next free name.
  if (!r.output.isEmpty() && PathInUse(r.output))
    r.output = NextFreeName(r.output, [this](const QString& p) {
      if (PathInUse(p)) return true;
      for (const TQueueRow& other : rows_) {
        if (other.output == p || other.replaces == p || other.source == p) return true;
      }
      return false;
    });
  starting_ = true;
  const TConvJob job = PrepareRow(row);
  starting_ = false;
  // The run may have been stopped while the row was prepared.
  if (!running_) return true;
  if (!job.error.isEmpty() || job.program.isEmpty()) {
    Finish(row, TRowResult::Failed, job.error);
    return false;
  }
  r.output = r.planned = job.output;
  r.options = job.arguments;
  r.sourceBytes = Platform::FileSize(r.source);
  r.nextUnfinished = FreeUnfinishedName(r.output);
  // An output that names the source file itself would destroy the source.
  if (SameFile(r.source, job.output)) {
    Finish(row, TRowResult::Skipped, QStringLiteral("输出文件与源文件相同"));
    return false;
  }
  encoder_ = new TDosProcess(this);
  connect(encoder_, &TDosProcess::Ended, this, &TConvQueue::EncoderEnded);
  connect(encoder_, &TDosProcess::LineRead, this, [this, row](const QString& line) { TakeLine(row, line); });
  if (!encoder_->StartDosProcess(job.program, job.arguments)) {
    RetireEncoder();
    Finish(row, TRowResult::Failed, QStringLiteral("编码器无法启动"));
    return false;
  }
  encoder_->ReadLinesAsTheyCome();
  emit RowStarted(row);
  return true;
}

void TConvQueue::Poll() {
  if (!running_ || starting_ || !encoder_) return;
  encoder_->TakeWaiting();
}

void TConvQueue::TakeLine(int row, const QString& line) {
  if (row < 0 || row >= rows_.size()) return;
  TQueueRow& r = rows_[row];
  if (line.startsWith(QLatin1String(vidmora::protocol::kLengthMark))) {
    r.lengthSeconds = encoder_ ? encoder_->WorkingLength() : r.lengthSeconds;
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

void TConvQueue::EncoderEnded() {
  if (!running_ || !encoder_) return;
  const int p = position_;
  // Everything the encoder wrote is in the pipe now: its last lines count like any other.
  encoder_->TakeWaiting();
  bool done = encoder_->ExitCode() == 0 && !encoder_->Crashed() && encoder_->SummarySeen();
  QString reason, detail;
  TQueueRow& r = rows_[p];
  r.nextUnfinished.clear();
  // The encoder put its file under another name (the planned one was taken meanwhile,
  // or the folder's file system refused a character of it).
  if (done && !encoder_->OutputPath().isEmpty()) r.output = encoder_->OutputPath();
  if (done) {
    QStringList caveats, technical;
    for (const QString& w : encoder_->Warnings()) {
      QString words;
      caveats << WarningText(w, &words);
      technical << words;
    }
    // A source whose container states no length cannot be caught by the encoder when
    // its data ends early: the length the list shows is the measure.
    const double converted = encoder_->LastProgressSeconds();
    if (caveats.isEmpty() && r.durationSeconds > 0 && converted >= 0 && converted < 0.9 * r.durationSeconds)
      caveats << QStringLiteral("只转换了 %1 秒，列表中的长度为 %2 秒: 源文件可能不完整")
                     .arg(converted, 0, 'f', 2)
                     .arg(r.durationSeconds);
    r.warning = caveats.join(QLatin1Char('\n'));
    r.warningDetail = technical.join(QLatin1Char('\n'));
    if (encoder_->SoundTracks() >= 0)
      r.tracks = QStringLiteral("声音 %1 条, 字幕 %2 条")
                     .arg(encoder_->SoundTracks())
                     .arg(encoder_->SubtitleTracks());
  }
  if (done && !r.replaces.isEmpty()) {
    // Only a complete conversion takes the old file's place, in one step.
    if (std::rename(Platform::NativePath(r.output).constData(), Platform::NativePath(r.replaces).constData()) ==
        0) {
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
    const QFileInfo written(r.output);
    r.outputBytes = written.exists() ? written.size() : -1;
    DisposeUnfinished(r);
  } else if (!encoder_->UnfinishedPath().isEmpty()) {
    // Stopped by someone else (the system, a signal): what it holds is kept, and the
    // row waits for another run.
    result = TRowResult::Interrupted;
    r.convertedSeconds = std::max(0.0, encoder_->LastProgressSeconds());
    r.unfinished << encoder_->UnfinishedPath();
    reason = QStringLiteral("转换被中断 (编码器收到了停止信号)");
  } else if (reason.isEmpty()) {
    // The encoder's own account first; without one, how it ended.
    const TFailureText text =
        encoder_->LastErrorLine().isEmpty()
            ? EncoderEndText(encoder_->Crashed(), encoder_->EndSignal(), encoder_->ExitCode())
            : EncoderErrorText(encoder_->LastErrorLine(), encoder_->LastProgressSeconds());
    reason = text.sentence;
    detail = text.detail;
  }
  RetireEncoder();
  Finish(p, result, reason, detail);
  // The next file starts as soon as this one's end is seen.
  StartFrom(p + 1);
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
  const int p = position_;
  const bool atRow = p >= 0 && p < rows_.size();
  if (encoder_) {
    // What it has converted so far: the stopped file holds about that much.
    encoder_->TakeWaiting();
    if (atRow) {
      TQueueRow& r = rows_[p];
      r.convertedSeconds = std::max(0.0, encoder_->LastProgressSeconds());
      // The encoder leaves what it has under the unfinished name, never the final one.
      if (r.convertedSeconds > 0 && !r.output.isEmpty()) r.unfinished << FreeUnfinishedName(r.output);
      r.nextUnfinished.clear();
    }
    // The encoder ends itself on the quit key and closes its output file; it
    // is reaped when it has ended.
    encoder_->SendQuitKey();
    RetireEncoder();
  }
  running_ = false;
  if (atRow) Finish(p, closing ? TRowResult::Interrupted : TRowResult::Stopped, QString());
  SetPosition(-1);
  emit RunEnded(true);
  return true;
}

void TConvQueue::RetireEncoder() {
  if (!encoder_) return;
  TDosProcess* gone = encoder_;
  encoder_ = nullptr;
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
