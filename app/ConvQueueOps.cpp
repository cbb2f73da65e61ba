// The conversion queue as the main window shows it. The queue itself
// (conversion/ConvQueue) owns the run; these operations start, poll and stop
// it, and mirror what it reports into the list, the gauge, the status text,
// the hidden position edit AvListStat and the timer AvMsgTimer.
#include "ConvMainFunc.h"

#include "Controls.h"
#include "FileAdder.h"
#include "ListMarks.h"
#include "conversion/BatchClock.h"
#include "conversion/ConvQueue.h"
#include "media/DurationText.h"
#include "conversion/OutputNames.h"
#include "platform/AppError.h"
#include "platform/DesktopNotice.h"
#include "platform/FileNames.h"
#include "platform/Shell.h"
#include "settings/AppSettings.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

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

// The progress column of a row that failed.
const QString kFailedText = QStringLiteral("失败");

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

// Where a stopped row's unfinished file was saved and how much it holds. The
// encoder finishes the file after the stop, so this is what it holds at the stop.
QString StoppedText(const TQueueRow& r) {
  const QString where = QDir::toNativeSeparators(r.output);
  if (r.convertedSeconds <= 0)
    return QStringLiteral("已停止: %1 尚未转换任何内容，没有保存文件").arg(FileNameOf(r.source));
  const int s = static_cast<int>(r.convertedSeconds);
  const QString held = QStringLiteral("%1:%2:%3")
                           .arg(s / 3600, 2, 10, QLatin1Char('0'))
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'));
  // A stopped file that was to replace an existing one stays beside it.
  if (!r.replaces.isEmpty())
    return QStringLiteral("已停止: 未完成的文件保存为 %1 (已转换 %2)，原有的 %3 未改动")
        .arg(where, held, FileNameOf(r.replaces));
  return QStringLiteral("已停止: 未完成的文件保存为 %1 (已转换 %2)").arg(where, held);
}

}  // namespace

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
  // The rows that wait (added since, or put back with 重新转换) are the run;
  // when none waits, every row is converted again.
  bool anyWaiting = false;
  for (int r = 0; r < AvFilesList->RowCount(); ++r) anyWaiting |= AvFilesList->ImageIndex(r) == kIconWaiting;
  QVector<TQueueRow> rows;
  QVector<int> durations;
  rows.reserve(AvFilesList->RowCount());
  for (int r = 0; r < AvFilesList->RowCount(); ++r) {
    TQueueRow row;
    row.source = AvFilesList->Caption(r);
    row.durationText = AvFilesList->SubItem(r, 2);
    row.convert = !anyWaiting || AvFilesList->ImageIndex(r) == kIconWaiting;
    if (row.convert) {
      int seconds = 0;
      durations << (TConvQueue::ParseDuration(row.durationText, &seconds) ? seconds : -1);
    }
    rows << row;
  }
  RunClock->Start(durations, NowMs());
  ShowRunClock();
  // The outputs are chosen, then the first file starts inside this call.
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
    wanted << GetOutputPath(rows[i].source);
  }
  QVector<TOutputPlan> plan = PlanOutputs(wanted, sources, true);
  if (CountReplaced(plan) > 0) {
    // Enter keeps both; Esc cancels; replacing takes a deliberate choice.
    const int answer =
        Shell::Question(AvFilesList->window(), AppTitle, ReplaceQuestion(plan),
                        {QStringLiteral("替换"), QStringLiteral("保留两者"), QStringLiteral("取消")}, kAnswerKeepBoth);
    if (answer != kAnswerReplace && answer != kAnswerKeepBoth) return false;
    if (answer == kAnswerKeepBoth) plan = PlanOutputs(wanted, sources, false);
  }
  for (int k = 0; k < planned.size(); ++k) {
    rows[planned[k]].output = plan[k].output;
    rows[planned[k]].replaces = plan[k].replaces;
  }
  return true;
}

TConvJob TConvMainFunc::ConvCurrentFile(int p) {
  if (p < 0 || p >= AvFilesList->RowCount()) return TConvJob();
  ShowAvParams(AvFilesList->Caption(p));
  AvFilesList->SetImageIndex(p, kIconConverting);
  // What an earlier run said of this row goes.
  AvFilesList->SetRowToolTip(p, QString());
  if (AvFilesList->SubItem(p, 3) == kFailedText) AvFilesList->SetSubItem(p, 3, QStringLiteral("0%"));
  return BuildConvJob(p);
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

void TConvMainFunc::ShowConvProgress(int row, const QString& text) {
  MsgStatusPanel->setText(text);
  int seconds = 0;
  if (TConvQueue::ParseProgressTime(text, &seconds)) {
    RunClock->Progress(RunIndexOf(row), seconds, NowMs());
    ShowRunClock();
  }
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
  CvStatusGauge->setValue(static_cast<int>(qBound(qint64(0), percent, qint64(100))));
  AvFilesList->SetSubItem(row, 3, QString::number(percent) + QLatin1Char('%'));
}

void TConvMainFunc::ShowRowResult(int row) {
  if (row < 0 || row >= AvFilesList->RowCount() || row >= ConvQueue->Rows().size()) return;
  const TQueueRow& r = ConvQueue->Rows().at(row);
  if (r.result != TRowResult::Waiting && r.result != TRowResult::Converting) {
    RunClock->FileDone(RunIndexOf(row), r.result == TRowResult::Converted, NowMs());
  }
  switch (r.result) {
    case TRowResult::Converted: {
      AvFilesList->SetOutputPath(row, r.output);
      CvStatusGauge->setValue(0);
      AvFilesList->SetImageIndex(row, r.warning.isEmpty() ? kIconFinished : kIconFinishedWithWarning);
      AvFilesList->SetSubItem(row, 3, QStringLiteral("100%"));
      QString saved = QStringLiteral("输出文件: ") + QDir::toNativeSeparators(r.output);
      if (!r.tracks.isEmpty()) saved += QLatin1Char('\n') + r.tracks;
      AvFilesList->SetRowToolTip(row, r.warning.isEmpty() ? saved : r.warning + QLatin1Char('\n') + saved);
      // A name other than the planned one is told at once; so is a caveat.
      QStringList told;
      if (!r.planned.isEmpty() && r.output != r.planned && r.replaces.isEmpty())
        told << QStringLiteral("%1 已保存为 %2 (原定的名字 %3 已被占用或不被文件系统接受)")
                    .arg(FileNameOf(r.source), QDir::toNativeSeparators(r.output), FileNameOf(r.planned));
      if (!r.warning.isEmpty()) told << FileNameOf(r.source) + QStringLiteral(": ") + r.warning;
      MsgStatusPanel->setText(told.join(QStringLiteral("；")));
      break;
    }
    case TRowResult::Failed:
    case TRowResult::Skipped:
      // The reason stays on the row, and in the status text until the next
      // file shows its progress.
      AvFilesList->SetImageIndex(row, kIconStopped);
      AvFilesList->SetSubItem(row, 3, kFailedText);
      // The sentence for the user first, the technical account under it.
      AvFilesList->SetRowToolTip(row, r.detail.isEmpty() ? r.reason : r.reason + QLatin1Char('\n') + r.detail);
      CvStatusGauge->setValue(0);
      MsgStatusPanel->setText(QStringLiteral("转换失败: ") + FileNameOf(r.source) +
                              (r.reason.isEmpty() ? QString() : QStringLiteral(": ") + r.reason));
      break;
    case TRowResult::Stopped:
      // Its percentage column keeps the last value shown.
      AvFilesList->SetImageIndex(row, kIconStopped);
      break;
    case TRowResult::Waiting:
    case TRowResult::Converting:
      break;
  }
}

void TConvMainFunc::EndConvRun(bool stopped) {
  EnableFileButtons();
  AvMsgTimer->stop();
  CvStatusGauge->setValue(0);
  int converted = 0, failed = 0, warned = 0;
  QString kept;
  for (const TQueueRow& r : ConvQueue->Rows()) {
    if (r.result == TRowResult::Converted) ++converted;
    if (r.result == TRowResult::Converted && !r.warning.isEmpty()) ++warned;
    if (r.result == TRowResult::Failed || r.result == TRowResult::Skipped) ++failed;
    if (r.result == TRowResult::Stopped) kept = StoppedText(r);
  }
  if (stopped) {
    MsgStatusPanel->setText(kept);
    RunStatusPanel->clear();
    return;
  }
  QString summary = QStringLiteral("完成 %1 个, 失败 %2 个").arg(converted).arg(failed);
  if (warned > 0) summary += QStringLiteral(", 其中 %1 个有警告").arg(warned);
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
  AddAvFileBtn->setEnabled(false);
  DelAvFileBtn->setEnabled(false);
  CvAvFileBtn->setEnabled(false);
  ClearAvFileBtn->setEnabled(false);
}

void TConvMainFunc::EnableFileButtons() {
  AddAvFileBtn->setEnabled(true);
  DelAvFileBtn->setEnabled(true);
  CvAvFileBtn->setEnabled(true);
  ClearAvFileBtn->setEnabled(true);
}

void TConvMainFunc::ReconvertAvFile(int row) {
  if (ConvQueue->IsRunning() || row < 0 || row >= AvFilesList->RowCount()) return;
  if (AvFilesList->ImageIndex(row) != kIconStopped) return;
  // Waiting again: the next run takes it (with the other waiting rows only).
  AvFilesList->SetImageIndex(row, kIconWaiting);
  AvFilesList->SetSubItem(row, 3, QStringLiteral("0%"));
  AvFilesList->SetRowToolTip(row, QString());
}

void TConvMainFunc::OpenSourceDir(int row) {
  if (row < 0 || row >= AvFilesList->RowCount()) return;
  Shell::OpenDocument(QFileInfo(AvFilesList->Caption(row)).absolutePath());
}

void TConvMainFunc::OpenOutputFile(int row) {
  if (row < 0 || row >= AvFilesList->RowCount() || AvFilesList->OutputPath(row).isEmpty()) return;
  Shell::OpenDocument(AvFilesList->OutputPath(row));
}
