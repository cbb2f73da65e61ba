// The source file list and the properties panel: adding, deleting and clearing
// files, and filling or blanking the panel with the probe's values.
#include "ConvMainFunc.h"
#include "Controls.h"
#include "conversion/ConvQueue.h"
#include "media/FileFacts.h"

#include <QFileInfo>
#include <QLabel>

namespace {

// Icon of a row as added: waiting.
constexpr int kIconWaiting = 4;

// Panel rows: 0 is the "file" heading and never written; 5 and 11 are the video
// and audio headings and carry no value; every other row from 1 to 15 shows one
// value, in the order of TFileProperties.
constexpr int kFirstPanelRow = 1;
constexpr int kLastPanelRow = 15;
bool IsHeadingRow(int row) { return row == 5 || row == 11; }

}  // namespace

void TConvMainFunc::AddAvFile() {
  if (!OpenDialog->Execute()) return;
  AddAvFilePath(OpenDialog->FileName);
}

bool TConvMainFunc::AddAvFilePath(const QString& path) {
  // A pipe, device or socket is never probed (opening it could wait forever).
  const QString refused = NotASourceReason(path);
  if (!refused.isEmpty()) {
    MsgStatusPanel->setText(refused);
    return true;
  }
  const std::optional<TFileRow> row = ProbeFileRow(path);
  if (!row) return false;
  // The new row is appended unselected; the panel shows it all the same.
  AvFilesList->AddRow(row->path, kIconWaiting, row->SubItems());
  ShowAvParams(path);
  return true;
}

void TConvMainFunc::AddDroppedFiles(const QStringList& paths, int notLocal) {
  // The list keeps its rows during a run, as the Add button is disabled then.
  if (ConvQueue->IsRunning()) return;
  const QString filter = OpenDialog->Filter;
  int ignored = notLocal;
  QStringList files;
  for (const QString& path : paths) {
    const QFileInfo info(path);
    if (info.isDir()) {
      files << FilesMatchingFilter(path, filter, &ignored);
    } else if (info.isFile() && MatchesFileFilter(info.fileName(), filter)) {
      files << path;
    } else {
      ++ignored;
    }
  }
  for (const QString& file : files) {
    if (!AddAvFilePath(file)) break;
  }
  if (ignored > 0) MsgStatusPanel->setText(QStringLiteral("已忽略 %1 个不是视频的文件").arg(ignored));
}

void TConvMainFunc::DeleteAvFile() {
  const int row = AvFilesList->SelectedRow();
  if (row >= 0) AvFilesList->DeleteRow(row);
  // While rows remain the panel keeps what it shows, even the removed file.
  if (AvFilesList->RowCount() == 0) ClearAvParams();
}

void TConvMainFunc::ClearAvFiles() {
  if (AvFilesList->RowCount() == 0) return;
  AvFilesList->ClearRows();
  ClearAvParams();
}

void TConvMainFunc::ShowSelectedParams() {
  const int row = AvFilesList->SelectedRow();
  if (row >= 0) ShowAvParams(AvFilesList->Caption(row));
}

void TConvMainFunc::ShowAvParams(const QString& path) {
  const std::optional<TFileProperties> properties = ProbeFileProperties(path);
  if (!properties) return;
  int next = 0;
  for (int row = kFirstPanelRow; row <= kLastPanelRow; ++row) {
    AvParamsList->RemoveSubItems(row);
    if (!IsHeadingRow(row)) AvParamsList->SetSubItem(row, 0, properties->values.value(next++));
  }
}

void TConvMainFunc::ClearAvParams() {
  for (int row = kFirstPanelRow; row <= kLastPanelRow; ++row) {
    AvParamsList->RemoveSubItems(row);
    if (!IsHeadingRow(row)) AvParamsList->SetSubItem(row, 0, QString());
  }
}
