// The source file list and the properties panel: adding, deleting and clearing
// files, and filling or blanking the panel. The media facts come from the probe.
#include "ConvMainFunc.h"
#include "Controls.h"
#include "media/MediaInfoDll.h"

namespace {

// What a new file row and the panel show when the library gives no duration.
const QString kListDurationFallback = QStringLiteral("02:00:00");

// Panel rows: 0 is the "file" heading and never written; 5 and 11 are the video
// and audio headings and carry no value; every other row from 1 to 15 shows one
// probe value.
constexpr int kFirstPanelRow = 1;
constexpr int kLastPanelRow = 15;
bool IsHeadingRow(int row) { return row == 5 || row == 11; }

// The panel's values in row order (rows 1-4, 6-10, 12-15).
const QVector<MediaQuery> kPanelQueries = {
    MediaQuery::DisplayName,  MediaQuery::Extension,    MediaQuery::Size,         MediaQuery::Duration,
    MediaQuery::VideoCodec,   MediaQuery::VideoBitRate, MediaQuery::PictureSize,  MediaQuery::FrameRate,
    MediaQuery::AspectRatio,  MediaQuery::AudioCodec,   MediaQuery::AudioBitRate, MediaQuery::Channels,
    MediaQuery::SamplingRate,
};

}  // namespace

void TConvMainFunc::AddAvFile() {
  if (!OpenDialog->Execute()) return;
  const QString path = OpenDialog->FileName;
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return;
  const QStringList facts = ProbeMediaFile(
      path, {MediaQuery::Extension, MediaQuery::Size, MediaQuery::Duration}, kListDurationFallback);
  // The new row is appended unselected; the panel shows it all the same.
  AvFilesList->AddRow(path, 4, {facts.value(0), facts.value(1), facts.value(2), QStringLiteral("0%")});
  ShowAvParams(path);
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
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return;
  const QStringList facts = ProbeMediaFile(path, kPanelQueries, kListDurationFallback);
  int next = 0;
  for (int row = kFirstPanelRow; row <= kLastPanelRow; ++row) {
    AvParamsList->RemoveSubItems(row);
    if (!IsHeadingRow(row)) AvParamsList->SetSubItem(row, 0, facts.value(next++));
  }
}

void TConvMainFunc::ClearAvParams() {
  for (int row = kFirstPanelRow; row <= kLastPanelRow; ++row) {
    AvParamsList->RemoveSubItems(row);
    if (!IsHeadingRow(row)) AvParamsList->SetSubItem(row, 0, QString());
  }
}
