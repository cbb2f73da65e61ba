// The conversion queue as the main window shows it. The queue itself
// (conversion/ConvQueue) owns the run; these operations start, poll and stop
// it, and mirror what it reports into the list, the gauge, the status text,
// the hidden position edit AvListStat and the timer AvMsgTimer.
#include "ConvMainFunc.h"

#include "Controls.h"
#include "conversion/ConvQueue.h"
#include "platform/AppError.h"
#include "platform/CommandLine.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

namespace {

// Icons of a row's status.
constexpr int kIconConverting = 2;
constexpr int kIconFinished = 5;
constexpr int kIconStopped = 11;

QString FileNameOf(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

void TConvMainFunc::StartConvQueue() {
  if (AvFilesList->RowCount() == 0 || ConvQueue->IsRunning()) return;
  DisableFileButtons();
  AvMsgTimer->start();
  QVector<TQueueRow> rows;
  rows.reserve(AvFilesList->RowCount());
  for (int r = 0; r < AvFilesList->RowCount(); ++r) {
    TQueueRow row;
    row.source = AvFilesList->Caption(r);
    row.durationText = AvFilesList->SubItem(r, 2);
    rows << row;
  }
  // The first file starts inside this call.
  ConvQueue->Start(rows);
}

TConvJob TConvMainFunc::ConvCurrentFile() {
  TConvJob job;
  const int p = ConvQueue->Position();
  if (p < 0 || p >= AvFilesList->RowCount()) return job;
  ShowAvParams(AvFilesList->Caption(p));
  AvFilesList->SetImageIndex(p, kIconConverting);
  job.commandLine = BuildConvCommand();
  // The output path is the line's last argument.
  const QStringList argv = Platform::SplitCommandLine(job.commandLine);
  job.output = argv.isEmpty() ? QString() : argv.last();
  return job;
}

void TConvMainFunc::PollConvOutput() { ConvQueue->Poll(); }

void TConvMainFunc::ShowQueuePosition(int position) {
  // A mirror of the queue: nothing is bound to its change event.
  AvListStat->SetText(QString::number(position));
}

void TConvMainFunc::ShowConvProgress(int row, const QString& text) {
  Q_UNUSED(row);
  MsgStatusPanel->setText(text);
}

void TConvMainFunc::ShowConvPercent(int row, qint64 percent) {
  CvStatusGauge->setValue(static_cast<int>(qBound(qint64(0), percent, qint64(100))));
  AvFilesList->SetSubItem(row, 3, QString::number(percent) + QLatin1Char('%'));
}

void TConvMainFunc::ShowRowResult(int row) {
  if (row < 0 || row >= AvFilesList->RowCount() || row >= ConvQueue->Rows().size()) return;
  const TQueueRow& r = ConvQueue->Rows().at(row);
  switch (r.result) {
    case TRowResult::Converted:
      MsgStatusPanel->clear();
      CvStatusGauge->setValue(0);
      AvFilesList->SetImageIndex(row, kIconFinished);
      AvFilesList->SetSubItem(row, 3, QStringLiteral("100%"));
      break;
    case TRowResult::Failed:
      AvFilesList->SetImageIndex(row, kIconStopped);
      CvStatusGauge->setValue(0);
      MsgStatusPanel->setText(QStringLiteral("转换失败: ") + FileNameOf(r.source));
      break;
    case TRowResult::Skipped:
      AvFilesList->SetImageIndex(row, kIconStopped);
      MsgStatusPanel->setText(QStringLiteral("输出文件与源文件相同，已跳过: ") + FileNameOf(r.source));
      CvStatusGauge->setValue(0);
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
  if (stopped) {
    MsgStatusPanel->clear();
    CvStatusGauge->setValue(0);
    return;
  }
  if (CvFshChkBox->isChecked()) PowerOffComputer(8);
}

int TConvMainFunc::GetAvDuration() {
  const int p = AvListStat->Text().toInt();
  const QString d = AvFilesList->SubItem(p, 2);
  int seconds = 0;
  if (!TConvQueue::ParseDuration(d, &seconds)) {
    throw TAppError(QStringLiteral("'%1' is not a valid duration").arg(d));
  }
  return seconds;
}

int TConvMainFunc::ParseProgressTime(const QString& text) {
  int seconds = 0;
  if (!TConvQueue::ParseProgressTime(text, &seconds)) {
    throw TAppError(QStringLiteral("no valid time in the progress text"));
  }
  return seconds;
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
