#include "ConvQueue.h"

#include "DosConvFunc.h"
#include "EncoderFailure.h"
#include "OutputNames.h"
#include "encoder/Protocol.h"
#include "media/DurationText.h"
#include "platform/FileNames.h"

#include <QFile>

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

}  // namespace

bool TConvQueue::ParseProgressTime(const QString& text, int* seconds) {
  double exact = 0;
  const bool ok = ParseProgressSeconds(text, &exact) && exact < INT_MAX;
  // Whole seconds, the fraction dropped.
  *seconds = ok ? static_cast<int>(exact) : 0;
  return ok;
}

QString TConvQueue::WarningText(const QString& warning) {
  const int colon = warning.indexOf(QLatin1String(": "));
  const QString code = colon >= 0 ? warning.left(colon) : warning;
  const QString detail = colon >= 0 ? warning.mid(colon + 2) : QString();
  if (code == QLatin1String(vidmora::protocol::kWarnShortSource))
    return QStringLiteral("源文件的数据在其标明的长度之前结束，只转换了其中的内容 (%1)").arg(detail);
  if (code == QLatin1String(vidmora::protocol::kWarnNoPicture))
    return QStringLiteral("源文件没有画面，输出只有声音");
  if (code == QLatin1String(vidmora::protocol::kWarnPictureSubtitles))
    return QStringLiteral("源文件的图形字幕无法存为 MP4 文字字幕，已略过 (%1)").arg(detail);
  if (code == QLatin1String(vidmora::protocol::kWarnSubtitleLeftOut))
    return QStringLiteral("有一条字幕无法读取，已略过 (%1)").arg(detail);
  if (code == QLatin1String(vidmora::protocol::kWarnSubtitleCues))
    return QStringLiteral("字幕中有部分内容有误或过大，已略过或截短 (%1)").arg(detail);
  if (code == QLatin1String(vidmora::protocol::kWarnSoundLeftOut))
    return QStringLiteral("源文件的一条声音无法保留，已略过 (%1)").arg(detail);
  return detail.isEmpty() ? warning : detail;
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
  for (TQueueRow& row : planned) {
    row.result = TRowResult::Waiting;
    row.reason.clear();
    row.detail.clear();
    row.warning.clear();
    row.tracks.clear();
    row.convertedSeconds = 0;
    row.percent = 0;
    int seconds = 0;
    row.durationSeconds = ParseDuration(row.durationText, &seconds) ? seconds : -1;
  }
  if (ResolveOutputs && !ResolveOutputs(planned)) return false;
  rows_ = planned;
  running_ = true;
  StartFrom(0);
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
  // An output that names the source file itself would destroy the source.
  if (SameFile(r.source, job.output)) {
    Finish(row, TRowResult::Skipped, QStringLiteral("输出文件与源文件相同"));
    return false;
  }
  encoder_ = new TDosProcess(this);
  connect(encoder_, &TDosProcess::Ended, this, &TConvQueue::EncoderEnded);
  if (!encoder_->StartDosProcess(job.program, job.arguments)) {
    RetireEncoder();
    Finish(row, TRowResult::Failed, QStringLiteral("编码器无法启动"));
    return false;
  }
  return true;
}

void TConvQueue::Poll() {
  if (!running_ || starting_ || !encoder_) return;
  const int p = position_;
  if (p < 0 || p >= rows_.size()) return;
  TakeText(p, encoder_->ReadDosPipe());
}

void TConvQueue::TakeText(int row, const QString& text) {
  if (text.isEmpty()) return;
  if (!text.startsWith(QLatin1String(vidmora::protocol::kProgressMark))) return;
  emit ProgressText(row, text);
  // A text whose time, or a row whose duration, does not read as a number
  // leaves the percentage as it is.
  int elapsed = 0;
  TQueueRow& r = rows_[row];
  if (!ParseProgressTime(text, &elapsed) || r.durationSeconds < 0) return;
  // A file shorter than one second has no percentage until it is finished.
  r.percent = r.durationSeconds > 0 ? static_cast<qint64>(elapsed) * 100 / r.durationSeconds : 0;
  emit RowPercent(row, r.percent);
}

void TConvQueue::EncoderEnded() {
  if (!running_ || !encoder_) return;
  const int p = position_;
  // Everything the encoder wrote is in the pipe now: its last progress text
  // counts like any other.
  TakeText(p, encoder_->ReadDosPipe());
  bool done = encoder_->ExitCode() == 0 && !encoder_->Crashed() && encoder_->SummarySeen();
  QString reason, detail;
  const TQueueRow& r = rows_[p];
  // The encoder put its file under another name (the planned one was taken meanwhile,
  // or the folder's file system refused a character of it).
  if (done && !encoder_->OutputPath().isEmpty()) rows_[p].output = encoder_->OutputPath();
  if (done) {
    QStringList caveats;
    for (const QString& w : encoder_->Warnings()) caveats << WarningText(w);
    // A source whose container states no length cannot be caught by the encoder when
    // its data ends early: the length the list shows is the measure.
    const double converted = encoder_->LastProgressSeconds();
    if (caveats.isEmpty() && r.durationSeconds > 0 && converted >= 0 && converted < 0.9 * r.durationSeconds)
      caveats << QStringLiteral("只转换了 %1 秒，列表中的长度为 %2 秒: 源文件可能不完整")
                     .arg(converted, 0, 'f', 2)
                     .arg(r.durationSeconds);
    rows_[p].warning = caveats.join(QLatin1Char('\n'));
    if (encoder_->SoundTracks() >= 0)
      rows_[p].tracks = QStringLiteral("声音 %1 条, 字幕 %2 条")
                            .arg(encoder_->SoundTracks())
                            .arg(encoder_->SubtitleTracks());
  }
  if (done && !r.replaces.isEmpty()) {
    // Only a complete conversion takes the old file's place, in one step.
    if (std::rename(QFile::encodeName(r.output).constData(), QFile::encodeName(r.replaces).constData()) ==
        0) {
      // The file now has the name the user chose to replace: that is its planned name.
      rows_[p].output = rows_[p].planned = r.replaces;
      rows_[p].replaces.clear();
    } else {
      done = false;
      reason = QStringLiteral("无法替换 %1 (%2)，输出保存为 %3")
                   .arg(r.replaces, QString::fromLocal8Bit(std::strerror(errno)), r.output);
    }
  }
  if (!done && reason.isEmpty()) {
    // The encoder's own account first; without one, how it ended.
    const TFailureText text =
        encoder_->LastErrorLine().isEmpty()
            ? EncoderEndText(encoder_->Crashed(), encoder_->EndSignal(), encoder_->ExitCode())
            : EncoderErrorText(encoder_->LastErrorLine(), encoder_->LastProgressSeconds());
    reason = text.sentence;
    detail = text.detail;
  }
  RetireEncoder();
  Finish(p, done ? TRowResult::Converted : TRowResult::Failed, reason, detail);
  // The next file starts as soon as this one's end is seen.
  StartFrom(p + 1);
}

void TConvQueue::Finish(int row, TRowResult result, const QString& reason, const QString& detail) {
  TQueueRow& r = rows_[row];
  r.result = result;
  r.reason = reason;
  r.detail = detail;
  if (result == TRowResult::Converted) r.percent = 100;
  emit RowFinished(row);
}

bool TConvQueue::Stop() {
  if (!running_) return false;
  const int p = position_;
  if (encoder_) {
    // What it has converted so far: the stopped file holds about that much.
    encoder_->ReadDosPipe();
    if (p >= 0 && p < rows_.size()) rows_[p].convertedSeconds = std::max(0.0, encoder_->LastProgressSeconds());
    // The encoder ends itself on the quit key and closes its output file; it
    // is reaped when it has ended.
    encoder_->SendQuitKey();
    RetireEncoder();
  }
  running_ = false;
  if (p >= 0 && p < rows_.size()) Finish(p, TRowResult::Stopped, QString());
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
