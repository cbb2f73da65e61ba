// The source file list and the properties panel: adding, deleting and clearing
// files, and filling or blanking the panel with the probe's values.
#include "ConvMainFunc.h"
#include "Controls.h"
#include "conversion/BatchClock.h"
#include "conversion/ConvQueue.h"
#include "FileAdder.h"
#include "ListMarks.h"
#include "media/FileFacts.h"
#include "platform/FileNames.h"
#include "settings/AppSettings.h"

#include <QDir>
#include <QElapsedTimer>

#include <QFileInfo>
#include <QLabel>

namespace {

// The file heading is never written; the video and audio headings carry no
// value; every other row shows one value, in the order of TFileProperties.
bool IsHeadingRow(int row) { return row == kPanelVideoHeading || row == kPanelAudioHeading; }

// The panel's note of the file it shows, for the Play button.
constexpr char kShownFile[] = "ShownFile";

}  // namespace

void TConvMainFunc::AddAvFile() {
  if (AvFileAdder && AvFileAdder->IsBusy()) return;
  // The dialog opens where the last pick was made, across restarts too.
  const TAppSettings settings;
  const QString last = settings.LastAddDir();
  OpenDialog->InitialDir = !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
  if (!OpenDialog->Execute()) return;
  const QString folder = QFileInfo(OpenDialog->FileName).absolutePath();
  if (folder != last) settings.StoreLastAddDir(folder);
  // Files picked one by one are taken as chosen, whatever their kind ("所有文件").
  AddAvFiles(OpenDialog->Files, 0, true);
}

void TConvMainFunc::AddAvFiles(const QStringList& paths, int notLocal, bool anyKind) {
  // During a run too: the files join it. Folders bring their whole trees; the
  // rows come as their probes finish, in the order given.
  if (!AvFileAdder->IsBusy()) AvFileAdder->Reset();
  AvFileAdder->Add(paths, notLocal, anyKind);
  // The list takes no other change until the addition is over.
  DisableFileButtons();
  if (!ConvQueue->IsRunning()) MsgStatusPanel->setText(QStringLiteral("正在添加文件…"));
}

void TConvMainFunc::AddProbedRows(const QVector<TFileRow>& rows) {
  TFileAdder& adder = *AvFileAdder;
  for (const TFileRow& row : rows) AddFileRow(row);
  // Rows added during a run join it, after the rows before them.
  if (ConvQueue->IsRunning() && AvFilesList->RowCount() > ConvQueue->Rows().size()) {
    QVector<TQueueRow> joining;
    QVector<int> durations;
    for (int r = ConvQueue->Rows().size(); r < AvFilesList->RowCount(); ++r) {
      joining << ListRowRecord(r);
      int seconds = 0;
      durations << (TConvQueue::ParseDuration(joining.last().durationText, &seconds) ? seconds : -1);
    }
    if (ConvQueue->Append(joining)) {
      adder.Joined += joining.size();
      RunClock->Append(durations);
      ShowRunClock();
    }
  }
  ScheduleQueueSave();
  if (adder.IsBusy())
    MsgStatusPanel->setText(
        QStringLiteral("正在添加文件: 已添加 %1 个, 还有 %2 个").arg(adder.Added).arg(adder.Remaining()));
}

void TConvMainFunc::EndAddition() {
  TFileAdder& adder = *AvFileAdder;
  // During a run only the Add button comes back.
  EnableFileButtons();
  // The panel shows the last file added (one probe, not one per file); during a
  // run it keeps showing the file converted.
  if (!adder.LastAdded.isEmpty() && !ConvQueue->IsRunning()) ShowAvParams(adder.LastAdded);
  QStringList said;
  if (adder.Joined > 0)
    said << QStringLiteral("已添加 %1 个文件, 将在本次转换中依次转换").arg(adder.Joined);
  else if (adder.Added > 1 || (adder.Added == 1 && ConvQueue->IsRunning()))
    said << QStringLiteral("已添加 %1 个文件").arg(adder.Added);
  if (adder.Ignored > 0) said << QStringLiteral("已忽略 %1 个不是视频的文件").arg(adder.Ignored);
  if (!adder.Refused.isEmpty()) said << adder.Refused;
  if (!said.isEmpty()) {
    // During a run the progress would replace it at once: it stays a while.
    if (ConvQueue->IsRunning()) {
      SayForAWhile(said.join(QStringLiteral(", ")));
    } else {
      MsgStatusPanel->setText(said.join(QStringLiteral(", ")));
    }
  } else if (MsgStatusPanel->text().startsWith(QStringLiteral("正在添加文件"))) {
    MsgStatusPanel->clear();
  }
  adder.Reset();
}

int TConvMainFunc::AddFileRow(const TFileRow& row) {
  const int r = AvFilesList->AddRow(row.path, kIconWaiting, row.SubItems());
  TQueueRow record;
  record.subFolder = row.subFolder;
  record.pictureWidth = row.width;
  record.pictureHeight = row.height;
  AvFilesList->SetRowData(r, QVariant::fromValue(record));
  return r;
}

void TConvMainFunc::DeleteAvFile() {
  // Every selected row goes; the rows below move up.
  const QList<int> rows = AvFilesList->SelectedRows();
  // Not during a run: the run's rows keep their places.
  if (ConvQueue->IsRunning()) return;
  for (auto it = rows.crbegin(); it != rows.crend(); ++it) AvFilesList->DeleteRow(*it);
  if (!rows.isEmpty()) ScheduleQueueSave();
  // The panel never shows a file that is no longer listed.
  const QString shown = AvParamsList->property(kShownFile).toString();
  bool listed = false;
  for (int r = 0; r < AvFilesList->RowCount() && !listed; ++r) listed = AvFilesList->Caption(r) == shown;
  if (!listed) ClearAvParams();
}

void TConvMainFunc::ClearAvFiles() {
  if (AvFilesList->RowCount() == 0 || ConvQueue->IsRunning()) return;
  AvFilesList->ClearRows();
  ClearAvParams();
  ScheduleQueueSave();
}

void TConvMainFunc::ShowSelectedParams() {
  // Of several selected rows, the one clicked last (the current one).
  const QList<int> selected = AvFilesList->SelectedRows();
  if (selected.isEmpty()) return;
  const int current = AvFilesList->CurrentRow();
  ShowAvParams(AvFilesList->Caption(selected.contains(current) ? current : selected.first()));
}

void TConvMainFunc::ShowCurrentParams() {
  const int row = AvFilesList->CurrentRow();
  if (row >= 0) ShowAvParams(AvFilesList->Caption(row));
}

void TConvMainFunc::ShowAvParams(const QString& path) {
  const std::optional<TFileProperties> properties = ProbeFileProperties(path);
  if (!properties) return;
  int next = 0;
  for (int row = kPanelFirstValue; row <= kPanelLastValue; ++row) {
    AvParamsList->RemoveSubItems(row);
    if (!IsHeadingRow(row)) AvParamsList->SetSubItem(row, 0, properties->values.value(next++));
  }
  // The channels in words; the library's own account under them.
  const QString channels = AvParamsList->SubItem(kPanelChannels, 0);
  AvParamsList->SetSubItemToolTip(kPanelChannels, 0, ToolTipWithDetail(channels, properties->channelDetail));
  AvParamsList->setProperty(kShownFile, path);
}

void TConvMainFunc::ClearAvParams() {
  for (int row = kPanelFirstValue; row <= kPanelLastValue; ++row) {
    AvParamsList->RemoveSubItems(row);
    if (!IsHeadingRow(row)) AvParamsList->SetSubItem(row, 0, QString());
  }
  AvParamsList->setProperty(kShownFile, QString());
}

int TConvMainFunc::ShownRow() {
  const QString shown = AvParamsList->property(kShownFile).toString();
  const int current = AvFilesList->CurrentRow();
  if (!shown.isEmpty()) {
    if (current >= 0 && AvFilesList->Caption(current) == shown) return current;
    for (int r = 0; r < AvFilesList->RowCount(); ++r) {
      if (AvFilesList->Caption(r) == shown) return r;
    }
  }
  return AvFilesList->SelectedRow();
}
