// The conversion queue as the main window shows it. The queue itself
// (conversion/ConvQueue) owns the run; these operations start, poll and stop
// it, and mirror what it reports into the list, the gauge, the status text,
// the hidden position edit AvListStat and the timer AvMsgTimer. Each row keeps
// its record (what the queue knows of it) beside what it shows, and the whole
// list is kept on disk after every change (conversion/QueueFile).
#include "ConvMainFunc.h"

#include "Controls.h"
#include "FileAdder.h"
#include "ListMarks.h"
#include "conversion/BatchClock.h"
#include "conversion/ConvQueue.h"
#include "conversion/ConvSlots.h"
#include "conversion/OutputNames.h"
#include "conversion/QueueFile.h"
#include "media/DurationText.h"
#include "media/FileFacts.h"
#include "platform/AppError.h"
#include "platform/CommandLine.h"
#include "platform/DesktopNotice.h"
#include "platform/FileNames.h"
#include "platform/Shell.h"
#include "platform/UserFiles.h"
#include "settings/AppSettings.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <cmath>

namespace {

QString FileNameOf(const QString& path) { return QFileInfo(Platform::ShownPath(path)).fileName(); }

// A steady clock for the run's timing, in milliseconds.
qint64 NowMs() {
  static QElapsedTimer clock = [] {
    QElapsedTimer c;
    c.start();
    return c;
  }();
  return clock.elapsed();
}

// The progress column of a row that failed, and of one that waits again after
// its conversion was cut off.
const QString kFailedText = QStringLiteral("失败");
const QString kInterruptedText = QStringLiteral("已中断");
// What marks the encoder's own words in a tool tip, under the user's sentence.
const QString kTechnicalMark = QStringLiteral("技术细节: ");
// How long a message stays in the status text before progress may replace it.
constexpr qint64 kHoldMessageMs = 5000;
constexpr char kHeldUntil[] = "HeldUntilMs";

// The question asked when existing outputs stand in the way, and its answers.
enum { kAnswerReplace, kAnswerKeepBoth, kAnswerCancel };

QString ReplaceQuestion(const QVector<TOutputPlan>& plan) {
  QStringList names;
  for (const TOutputPlan& row : plan) {
    if (!row.replaces.isEmpty()) names << FileNameOf(row.replaces);
  }
  const int count = static_cast<int>(names.size());
  if (names.size() > 5) {
    names = names.mid(0, 5);
    names << QStringLiteral("……");
  }
  return QStringLiteral(
             "输出目录中已有 %1 个同名文件:\n%2\n\n"
             "替换这些文件，还是保留两者(新文件另起名字)?\n列表中的源文件在任何情况下都不会被替换。")
      .arg(count)
      .arg(names.join(QLatin1Char('\n')));
}

// "12.3 MB": kilobytes below a megabyte, gigabytes from a gigabyte on.
QString SizeText(qint64 bytes) {
  constexpr double kMB = 1024.0 * 1024.0;
  if (bytes < 0) return QString();
  if (bytes < kMB) return QStringLiteral("%1 KB").arg(std::ceil(bytes / 1024.0), 0, 'f', 0);
  if (bytes < 1024 * kMB) return QStringLiteral("%1 MB").arg(bytes / kMB, 0, 'f', 1);
  return QStringLiteral("%1 GB").arg(bytes / kMB / 1024.0, 0, 'f', 2);
}

QString HeldText(double seconds) { return DurationTextFromSeconds(static_cast<int>(seconds)); }

// Where a row's latest unfinished file is and how much it holds; "" without one.
QString UnfinishedText(const TQueueRow& r) {
  if (r.unfinished.isEmpty()) return QString();
  const QString where = QDir::toNativeSeparators(r.unfinished.last());
  if (r.convertedSeconds <= 0) return QStringLiteral("未完成的文件: %1").arg(where);
  return QStringLiteral("未完成的文件: %1 (含前 %2)").arg(where, HeldText(r.convertedSeconds));
}

// Where a stopped row's unfinished file was saved and how much it holds. The
// encoder finishes the file after the stop, so this is what it holds at the stop.
QString StoppedText(const TQueueRow& r) {
  if (r.convertedSeconds <= 0 || r.unfinished.isEmpty())
    return QStringLiteral("已停止: %1 尚未转换任何内容，没有保存文件").arg(FileNameOf(r.source));
  const QString where = QDir::toNativeSeparators(r.unfinished.last());
  const QString held = HeldText(r.convertedSeconds);
  // A stopped file that was to replace an existing one leaves it as it was.
  if (!r.replaces.isEmpty())
    return QStringLiteral("已停止: 未完成的文件保存为 %1 (已转换 %2)，原有的 %3 未改动")
        .arg(where, held, FileNameOf(r.replaces));
  return QStringLiteral("已停止: 未完成的文件保存为 %1 (已转换 %2)").arg(where, held);
}

// A row's tool tip (under its caption) for what its record says.
QString RowTip(const TQueueRow& r) {
  QStringList lines;
  switch (r.result) {
    case TRowResult::Converted:
      // The user's words first, the encoder's own on the second line.
      if (!r.warning.isEmpty()) {
        lines << r.warning;
        if (!r.warningDetail.isEmpty()) lines << kTechnicalMark + r.warningDetail;
      }
      lines << QStringLiteral("输出文件: ") + QDir::toNativeSeparators(r.output);
      if (!r.tracks.isEmpty()) lines << r.tracks;
      if (r.sourceBytes >= 0 && r.outputBytes >= 0)
        lines << QStringLiteral("源文件 %1 → 输出 %2").arg(SizeText(r.sourceBytes), SizeText(r.outputBytes));
      if (!r.disposal.isEmpty()) lines << r.disposal;
      break;
    case TRowResult::Failed:
    case TRowResult::Skipped:
      lines << r.reason;
      if (!r.detail.isEmpty()) lines << r.detail;
      break;
    case TRowResult::Stopped:
      lines << QStringLiteral("已停止");
      lines << UnfinishedText(r);
      break;
    case TRowResult::Interrupted:
      lines << (r.reason.isEmpty() ? QStringLiteral("转换被中断") : r.reason)
            << QStringLiteral("将在下次转换时重新转换");
      lines << UnfinishedText(r);
      break;
    case TRowResult::Waiting:
      lines << r.reason;
      break;
    case TRowResult::Converting:
      break;
  }
  lines.removeAll(QString());
  return lines.join(QLatin1Char('\n'));
}

// The icon and the progress column of a row's record.
int IconOf(const TQueueRow& r) {
  switch (r.result) {
    case TRowResult::Converted:
      return r.warning.isEmpty() ? kIconFinished : kIconFinishedWithWarning;
    case TRowResult::Converting:
      return kIconConverting;
    case TRowResult::Failed:
    case TRowResult::Skipped:
    case TRowResult::Stopped:
      return kIconStopped;
    case TRowResult::Waiting:
    case TRowResult::Interrupted:
      break;
  }
  return kIconWaiting;
}

}  // namespace

TQueueRow TConvMainFunc::ListRowRecord(int r) {
  TQueueRow row = AvFilesList->RowData(r).value<TQueueRow>();
  row.source = AvFilesList->Caption(r);
  row.typeText = AvFilesList->SubItem(r, 0);
  row.sizeText = AvFilesList->SubItem(r, 1);
  row.durationText = AvFilesList->SubItem(r, 2);
  if (!AvFilesList->OutputPath(r).isEmpty()) row.output = AvFilesList->OutputPath(r);
  // What the row shows is its state; the record tells apart what one icon shows.
  switch (AvFilesList->ImageIndex(r)) {
    case kIconConverting:
      row.result = TRowResult::Converting;
      break;
    case kIconFinished:
    case kIconFinishedWithWarning:
      row.result = TRowResult::Converted;
      break;
    case kIconStopped:
      if (row.result != TRowResult::Stopped && row.result != TRowResult::Skipped)
        row.result = TRowResult::Failed;
      break;
    default:
      if (row.result != TRowResult::Interrupted) row.result = TRowResult::Waiting;
      break;
  }
  return row;
}

void TConvMainFunc::ShowRowRecord(int r, const TQueueRow& row) {
  AvFilesList->SetRowData(r, QVariant::fromValue(row));
  AvFilesList->SetImageIndex(r, IconOf(row));
  if (!row.output.isEmpty() && row.result == TRowResult::Converted) AvFilesList->SetOutputPath(r, row.output);
  switch (row.result) {
    case TRowResult::Converted:
      AvFilesList->SetSubItem(r, 3, QStringLiteral("100%"));
      break;
    case TRowResult::Failed:
    case TRowResult::Skipped:
      AvFilesList->SetSubItem(r, 3, kFailedText);
      break;
    case TRowResult::Interrupted:
      AvFilesList->SetSubItem(r, 3, kInterruptedText);
      break;
    case TRowResult::Waiting:
      AvFilesList->SetSubItem(r, 3, QStringLiteral("0%"));
      break;
    case TRowResult::Stopped:  // its percentage column keeps the last value shown
    case TRowResult::Converting:
      break;
  }
  AvFilesList->SetRowToolTip(r, RowTip(row));
}

void TConvMainFunc::ScheduleQueueSave() {
  if (AvSaveTimer) AvSaveTimer->start();
}

void TConvMainFunc::SaveConvQueue() {
  if (!BatchStore) return;
  QVector<TQueueRow> rows;
  rows.reserve(AvFilesList->RowCount());
  for (int r = 0; r < AvFilesList->RowCount(); ++r) rows << ListRowRecord(r);
  BatchStore->Save(rows);
}

void TConvMainFunc::LoadConvQueue() {
  if (!BatchStore) return;
  const TQueueFileRead read = ReadQueueFile(BatchStore->Path());
  QStringList said;
  if (read.state == TQueueFileRead::TState::kSetAside)
    said << QStringLiteral("上次的转换列表无法读取 (%1)，已另存为 %2")
                .arg(read.why, FileNameOf(read.setAsideAs));
  else if (read.state == TQueueFileRead::TState::kUnusable)
    said << QStringLiteral("上次的转换列表无法读取 (%1)").arg(read.why);
  int waiting = 0, finished = 0;
  for (TQueueRow row : RestoredRows(read.rows)) {
    // How much an unfinished file holds is what its data holds.
    if (row.result == TRowResult::Interrupted && !row.unfinished.isEmpty()) {
      row.convertedSeconds = 0;
      if (Platform::PathKind(row.unfinished.last()) == Platform::TPathKind::kFile) {
        const std::optional<TFileRow> probed = ProbeFileRow(row.unfinished.last());
        bool ok = false;
        const int seconds = probed ? DurationSeconds(probed->duration, &ok) : 0;
        if (ok) row.convertedSeconds = seconds;
      }
    }
    const int r = AvFilesList->AddRow(row.source, kIconWaiting,
                                      {row.typeText, row.sizeText, row.durationText, QStringLiteral("0%")});
    ShowRowRecord(r, row);
    waiting += row.result == TRowResult::Waiting || row.result == TRowResult::Interrupted ? 1 : 0;
    finished += row.result == TRowResult::Converted ? 1 : 0;
  }
  if (waiting > 0)
    said << QStringLiteral("已恢复上次未完成的 %1 个文件").arg(waiting) +
                (finished > 0 ? QStringLiteral(", 另有 %1 个已完成").arg(finished) : QString());
  else if (!read.rows.isEmpty())
    said << QStringLiteral("已恢复上次的列表: %1 个文件").arg(read.rows.size());
  if (!said.isEmpty()) SayForAWhile(said.join(QStringLiteral("；")));
  // What a start changed (a cut-off row is interrupted now) is kept at once.
  if (!read.rows.isEmpty() || read.state != TQueueFileRead::TState::kMissing) SaveConvQueue();
}

void TConvMainFunc::SayForAWhile(const QString& text) {
  MsgStatusPanel->setText(text);
  MsgStatusPanel->setProperty(kHeldUntil, NowMs() + kHoldMessageMs);
}

bool TConvMainFunc::StatusHeld() {
  const QVariant until = MsgStatusPanel->property(kHeldUntil);
  return until.isValid() && NowMs() < until.toLongLong();
}

void TConvMainFunc::StartConvQueue() {
  if (AvFilesList->RowCount() == 0 || ConvQueue->IsRunning()) return;
  if (AvFileAdder && AvFileAdder->IsBusy()) return;
  // A folder that is missing or takes no files starts nothing.
  const QString folder = AvSaveDirEdit->text();
  const QString problem = CheckSaveDir(folder);
  if (!problem.isEmpty()) {
    Shell::MessageBox(AvFilesList->window(), problem, AppTitle);
    return;
  }
  // What a killed encoder left behind goes before the next run into the folder.
  RemoveStaleTemps(folder);
  DisableFileButtons();
  AvMsgTimer->start();
  // The rows that wait (added since, put back with 重新转换, or cut off) are the
  // run; when none waits, every row is converted again.
  bool anyWaiting = false;
  for (int r = 0; r < AvFilesList->RowCount(); ++r) anyWaiting |= AvFilesList->ImageIndex(r) == kIconWaiting;
  QVector<TQueueRow> rows;
  QVector<int> durations;
  rows.reserve(AvFilesList->RowCount());
  for (int r = 0; r < AvFilesList->RowCount(); ++r) {
    TQueueRow row = ListRowRecord(r);
    row.convert = !anyWaiting || AvFilesList->ImageIndex(r) == kIconWaiting;
    if (row.convert) {
      int seconds = 0;
      durations << (TConvQueue::ParseDuration(row.durationText, &seconds) ? seconds : -1);
    }
    rows << row;
  }
  RunClock->Start(durations, NowMs());
  ShowRunClock();
  ConvQueue->Chosen = GetConcurrent();
  // The outputs are chosen, then the first files start inside this call.
  if (!ConvQueue->Start(rows)) {
    EnableFileButtons();
    AvMsgTimer->stop();
    RunStatusPanel->clear();
  }
}

bool TConvMainFunc::PlanOutputNames(QVector<TQueueRow>& rows) {
  // Only the rows of this run get outputs; every listed source is kept safe.
  QStringList wanted, sources;
  QVector<int> planned;
  for (int i = 0; i < rows.size(); ++i) {
    sources << rows[i].source;
    if (!rows[i].convert) continue;
    planned << i;
    wanted << GetOutputPath(rows[i].source, rows[i].subFolder);
  }
  QVector<TOutputPlan> plan = PlanOutputs(wanted, sources, true);
  if (CountReplaced(plan) > 0) {
    // Enter keeps both; Esc cancels; replacing takes a deliberate choice.
    const int answer = Shell::Question(
        AvFilesList->window(), AppTitle, ReplaceQuestion(plan),
        {QStringLiteral("替换"), QStringLiteral("保留两者"), QStringLiteral("取消")}, kAnswerKeepBoth);
    if (answer != kAnswerReplace && answer != kAnswerKeepBoth) return false;
    if (answer == kAnswerKeepBoth) plan = PlanOutputs(wanted, sources, false);
  }
  // What a killed encoder left in a folder below the output folder goes too (the
  // output folder itself was cleared as the run started).
  QStringList folders{QDir::cleanPath(AvSaveDirEdit->text())};
  for (int k = 0; k < planned.size(); ++k) {
    rows[planned[k]].output = plan[k].output;
    rows[planned[k]].replaces = plan[k].replaces;
    const QString folder = QDir::cleanPath(QFileInfo(plan[k].output).path());
    if (folders.contains(folder)) continue;
    folders << folder;
    if (Platform::PathKind(folder) == Platform::TPathKind::kFolder) RemoveStaleTemps(folder);
  }
  // The run is on: what an earlier run said of its rows goes before the first
  // one starts, so no row not yet reached shows an old mark.
  for (int i : planned) {
    if (i >= AvFilesList->RowCount()) continue;
    TQueueRow shown = rows[i];
    shown.result = TRowResult::Waiting;
    shown.reason.clear();
    ShowRowRecord(i, shown);
    AvFilesList->SetOutputPath(i, QString());
  }
  return true;
}

void TConvMainFunc::PlanAppendedOutputs(QVector<TQueueRow>& rows, int first) {
  // Rows joining a run never replace anything: a name in the way is avoided as
  // the run's sources and its earlier outputs are.
  QStringList wanted, sources, reserved;
  for (int i = 0; i < rows.size(); ++i) {
    sources << rows[i].source;
    if (i < first) reserved << rows[i].output << rows[i].replaces;
    if (i >= first) wanted << GetOutputPath(rows[i].source, rows[i].subFolder);
  }
  const QVector<TOutputPlan> plan = PlanOutputs(wanted, sources, false, reserved);
  for (int k = 0; k < plan.size(); ++k) rows[first + k].output = plan[k].output;
}

TConvJob TConvMainFunc::ConvCurrentFile(int p) {
  if (p < 0 || p >= AvFilesList->RowCount()) return TConvJob();
  ShowAvParams(AvFilesList->Caption(p));
  AvFilesList->SetImageIndex(p, kIconConverting);
  // What an earlier run said of this row goes.
  AvFilesList->SetRowToolTip(p, QString());
  if (AvFilesList->SubItem(p, 3) == kFailedText || AvFilesList->SubItem(p, 3) == kInterruptedText)
    AvFilesList->SetSubItem(p, 3, QStringLiteral("0%"));
  return BuildConvJob(p);
}

void TConvMainFunc::ShowRowStarted(int row) {
  if (row < 0 || row >= AvFilesList->RowCount() || row >= ConvQueue->Rows().size()) return;
  // The record knows where the row writes, and where a cut would leave its file.
  TQueueRow record = ConvQueue->Rows().at(row);
  record.result = TRowResult::Converting;
  AvFilesList->SetRowData(row, QVariant::fromValue(record));
  ScheduleQueueSave();
}

void TConvMainFunc::PollConvOutput() { ConvQueue->Poll(); }

void TConvMainFunc::ShowQueuePosition(int position) {
  // A mirror of the queue: nothing is bound to its change event.
  AvListStat->SetText(QString::number(position));
  if (ConvQueue->IsRunning() && position >= 0 && position < ConvQueue->Rows().size()) {
    RunClock->Progress(RunIndexOf(position), 0, NowMs());
    ShowRunClock();
  }
}

void TConvMainFunc::ShowConvProgress(int row) {
  if (row < 0 || row >= ConvQueue->Rows().size() || row >= AvFilesList->RowCount()) return;
  const TQueueRow& r = ConvQueue->Rows().at(row);
  // Our own words, from the encoder's clock: how far, of how long, how fast;
  // of several files at once, how many and their pictures a second together.
  const QVector<int> running = ConvQueue->RunningRows();
  QString text;
  if (running.size() > 1) {
    double fps = 0;
    for (int k : running) fps += ConvQueue->Rows().at(k).fps;
    text = QStringLiteral("正在同时转换 %1 个文件").arg(running.size());
    if (fps > 0) text += QStringLiteral(", 共 %1 帧/秒").arg(std::lround(fps));
  } else {
    text = QStringLiteral("正在转换 ") + HeldText(r.convertedSeconds);
    if (r.lengthSeconds > 0) text += QStringLiteral(" / ") + HeldText(std::ceil(r.lengthSeconds));
    if (r.fps > 0) text += QStringLiteral(", %1 帧/秒").arg(std::lround(r.fps));
  }
  // A further file waits for memory: said for as long as it waits.
  if (ConvQueue->HeldBackRow() >= 0) text += QStringLiteral("；内存不足，下一个文件稍后开始");
  if (!StatusHeld()) MsgStatusPanel->setText(text);
  // The output's size so far, and what it comes to at this rate.
  QString tip = QStringLiteral("正在转换: 已输出 ") + SizeText(r.writtenBytes);
  if (r.lengthSeconds > 0 && r.convertedSeconds >= 1 && r.writtenBytes > 0)
    tip += QStringLiteral(", 预计共 ") +
           SizeText(static_cast<qint64>(r.writtenBytes * std::max(r.lengthSeconds, r.convertedSeconds) /
                                        r.convertedSeconds));
  AvFilesList->SetRowToolTip(row, tip);
  const int index = RunIndexOf(row);
  if (r.lengthSeconds >= 0) RunClock->SetLength(index, r.lengthSeconds);
  RunClock->Progress(index, r.convertedSeconds, NowMs());
  ShowRunClock();
  // The gauge shows the whole batch.
  CvStatusGauge->setValue(RunClock->Percent());
}

int TConvMainFunc::RunIndexOf(int row) {
  // Rows left out of the run do not count.
  int index = 0;
  const QVector<TQueueRow>& rows = ConvQueue->Rows();
  for (int r = 0; r < row && r < rows.size(); ++r) index += rows[r].convert ? 1 : 0;
  return index;
}

void TConvMainFunc::ShowRunClock() {
  if (ConvQueue->IsRunning() || RunClock->Count() > 0) RunStatusPanel->setText(RunClock->Text());
}

void TConvMainFunc::ShowConvPercent(int row, qint64 percent) {
  // Each running row its own percentage.
  AvFilesList->SetSubItem(row, 3, QString::number(percent) + QLatin1Char('%'));
}

TEncoderWork TConvMainFunc::RowWork(int row) {
  TEncoderWork work;
  if (row < 0 || row >= ConvQueue->Rows().size()) return work;
  const TQueueRow& r = ConvQueue->Rows().at(row);
  work.sourceWidth = r.pictureWidth;
  work.sourceHeight = r.pictureHeight;
  // The choices of this moment: a copied picture, a size chosen.
  const QStringList codec = Platform::SplitCommandLine(GetVdoCodecCmd());
  const int c = static_cast<int>(codec.indexOf(QStringLiteral("-vcodec")));
  work.copy = c >= 0 && codec.value(c + 1) == QLatin1String("copy");
  const QStringList size = Platform::SplitCommandLine(GetVdoSizeCmd());
  const int s = static_cast<int>(size.indexOf(QStringLiteral("-s")));
  const QString box = s >= 0 ? size.value(s + 1) : QString();
  const int x = static_cast<int>(box.indexOf(QLatin1Char('x')));
  if (x > 0) {
    work.outputWidth = box.left(x).toInt();
    work.outputHeight = box.mid(x + 1).toInt();
  }
  return work;
}

void TConvMainFunc::ShowMemoryHold(int row, qint64 needed, qint64 available) {
  if (row < 0 || row >= AvFilesList->RowCount()) return;
  SayForAWhile(QStringLiteral("可用内存不足 (剩余 %1, 再转换一个文件约需 %2): %3 等其他文件转换完再开始")
                   .arg(SizeText(available), SizeText(needed), FileNameOf(AvFilesList->Caption(row))));
}

void TConvMainFunc::ShowRowResult(int row) {
  if (row < 0 || row >= AvFilesList->RowCount() || row >= ConvQueue->Rows().size()) return;
  const TQueueRow& r = ConvQueue->Rows().at(row);
  if (r.result != TRowResult::Waiting && r.result != TRowResult::Converting) {
    RunClock->FileDone(RunIndexOf(row), r.result == TRowResult::Converted, NowMs());
  }
  ShowRowRecord(row, r);
  ScheduleQueueSave();
  // The gauge shows what is left of the batch once a file has its end.
  const bool ended = r.result != TRowResult::Stopped && r.result != TRowResult::Waiting &&
                     r.result != TRowResult::Converting;
  if (ended) CvStatusGauge->setValue(ConvQueue->IsRunning() ? RunClock->Percent() : 0);
  switch (r.result) {
    case TRowResult::Converted: {
      // A name other than the planned one is told at once; so is a caveat.
      QStringList told;
      if (!r.planned.isEmpty() && r.output != r.planned && r.replaces.isEmpty())
        told << QStringLiteral("%1 已保存为 %2 (原定的名字 %3 已被占用或不被文件系统接受)")
                    .arg(FileNameOf(r.source), QDir::toNativeSeparators(r.output), FileNameOf(r.planned));
      if (!r.warning.isEmpty())
        told << FileNameOf(r.source) + QStringLiteral(": ") +
                    QString(r.warning).replace(QLatin1Char('\n'), QStringLiteral("；"));
      MsgStatusPanel->setText(told.join(QStringLiteral("；")));
      break;
    }
    case TRowResult::Failed:
    case TRowResult::Skipped:
      // The reason stays on the row, and in the status text until the next
      // file shows its progress.
      MsgStatusPanel->setText(QStringLiteral("转换失败: ") + FileNameOf(r.source) +
                              (r.reason.isEmpty() ? QString() : QStringLiteral(": ") + r.reason));
      break;
    case TRowResult::Interrupted:
      if (ConvQueue->IsRunning())
        MsgStatusPanel->setText(QStringLiteral("转换被中断: ") + FileNameOf(r.source) + QStringLiteral(": ") +
                                r.reason);
      break;
    case TRowResult::Stopped:
    case TRowResult::Waiting:
    case TRowResult::Converting:
      break;
  }
}

void TConvMainFunc::EndConvRun(bool stopped) {
  EnableFileButtons();
  AvMsgTimer->stop();
  CvStatusGauge->setValue(0);
  MsgStatusPanel->setProperty(kHeldUntil, QVariant());
  ScheduleQueueSave();
  int converted = 0, failed = 0, warned = 0;
  qint64 before = 0, after = 0;
  QStringList kept;
  for (const TQueueRow& r : ConvQueue->Rows()) {
    if (r.result == TRowResult::Converted) ++converted;
    if (r.result == TRowResult::Converted && r.sourceBytes >= 0 && r.outputBytes >= 0) {
      before += r.sourceBytes;
      after += r.outputBytes;
    }
    if (r.result == TRowResult::Converted && !r.warning.isEmpty()) ++warned;
    if (r.result == TRowResult::Failed || r.result == TRowResult::Skipped) ++failed;
    if (r.result == TRowResult::Stopped || r.result == TRowResult::Interrupted) kept << StoppedText(r);
  }
  if (stopped) {
    // Every file the stop cut off: where it is and what it holds.
    MsgStatusPanel->setText(kept.join(QStringLiteral("；")));
    RunStatusPanel->clear();
    return;
  }
  QString summary = QStringLiteral("完成 %1 个, 失败 %2 个").arg(converted).arg(failed);
  if (warned > 0) summary += QStringLiteral(", 其中 %1 个有警告").arg(warned);
  // What the batch came to on the disk.
  if (before > 0)
    summary += QStringLiteral(", 源文件共 %1, 输出共 %2").arg(SizeText(before), SizeText(after));
  MsgStatusPanel->setText(summary);
  // The batch's time, and the way to its files.
  RunStatusPanel->setText(QStringLiteral("用时 %1  <a href=\"open\">打开输出目录</a>")
                              .arg(DurationTextFromSeconds(static_cast<int>(RunClock->Elapsed()))));
  // The notice offers the output folder too; the folder is the one of this run.
  const QString folder = AvSaveDirEdit->text();
  Platform::DesktopNotice().Notify(QStringLiteral("转换完成"), summary, QStringLiteral("打开输出目录"),
                                   [folder] { Shell::OpenDocument(folder); });
  if (CvFshChkBox->isChecked()) PowerOffComputer(8);
}

void TConvMainFunc::DisableFileButtons() {
  // Files may still be added during a run: they join it.
  AddAvFileBtn->setEnabled(!AvFileAdder || !AvFileAdder->IsBusy());
  DelAvFileBtn->setEnabled(false);
  CvAvFileBtn->setEnabled(false);
  ClearAvFileBtn->setEnabled(false);
}

void TConvMainFunc::EnableFileButtons() {
  const bool adding = AvFileAdder && AvFileAdder->IsBusy();
  const bool running = ConvQueue && ConvQueue->IsRunning();
  AddAvFileBtn->setEnabled(!adding);
  DelAvFileBtn->setEnabled(!adding && !running);
  CvAvFileBtn->setEnabled(!adding && !running);
  ClearAvFileBtn->setEnabled(!adding && !running);
}

void TConvMainFunc::ReconvertAvFile(int row) {
  if (ConvQueue->IsRunning() || row < 0 || row >= AvFilesList->RowCount()) return;
  if (AvFilesList->ImageIndex(row) != kIconStopped) return;
  // Waiting again: the next run takes it (with the other waiting rows only).
  TQueueRow record = ListRowRecord(row);
  record.result = TRowResult::Waiting;
  record.reason.clear();
  record.detail.clear();
  ShowRowRecord(row, record);
  AvFilesList->SetRowToolTip(row, QString());
  ScheduleQueueSave();
}

void TConvMainFunc::OpenSourceDir(int row) {
  if (row < 0 || row >= AvFilesList->RowCount()) return;
  Shell::OpenDocument(QFileInfo(AvFilesList->Caption(row)).absolutePath());
}

void TConvMainFunc::OpenOutputFile(int row) {
  if (row < 0 || row >= AvFilesList->RowCount() || AvFilesList->OutputPath(row).isEmpty()) return;
  Shell::OpenDocument(AvFilesList->OutputPath(row));
}
