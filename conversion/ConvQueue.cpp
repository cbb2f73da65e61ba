// The conversion queue: converts every row of the file list in turn and shows
// the running file's progress. Its state lives in the window: the position in
// AvListStat, the running flag in AvMsgTimer and the four file buttons.
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "conversion/DosConvFunc.h"
#include "platform/AppError.h"
#include "platform/CommandLine.h"
#include "platform/Process.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <sys/stat.h>

namespace {

const QString kProgressMark = QStringLiteral("frame=");
const QString kSummaryMark = QStringLiteral("global headers:");

// Icons of a row's status.
constexpr int kIconConverting = 2;
constexpr int kIconFinished = 5;
constexpr int kIconStopped = 11;

// Blanks and control characters at both ends go.
QString TrimControls(const QString& text) {
  int begin = 0;
  int end = text.size();
  while (begin < end && text[begin].unicode() <= 0x20) ++begin;
  while (end > begin && text[end - 1].unicode() <= 0x20) --end;
  return text.mid(begin, end - begin);
}

int ToInt(const QString& text, bool* ok) {
  bool good = false;
  const int value = TrimControls(text).toInt(&good, 10);
  *ok = good;
  return good ? value : 0;
}

// Whole seconds after the first "time=", the fraction dropped.
int TryParseProgressTime(const QString& text, bool* ok) {
  const int k = text.indexOf(QLatin1String("time="));
  if (k < 0) {
    *ok = false;
    return 0;
  }
  QString collected;
  for (int i = k + 5; i < text.size() && text[i] != QLatin1Char('.'); ++i) collected += text[i];
  return ToInt(collected, ok);
}

// Seconds of a "hh:mm:ss" duration text.
int TryParseDuration(const QString& d, bool* ok) {
  bool okH = false, okM = false, okS = false;
  const int seconds =
      ToInt(d.mid(6, 2), &okS) + ToInt(d.mid(3, 2), &okM) * 60 + ToInt(d.mid(0, 2), &okH) * 3600;
  *ok = okH && okM && okS;
  return seconds;
}

// Whether both paths name one existing file (the same device and inode, so
// links and other spellings of the path count too).
bool SameFile(const QString& a, const QString& b) {
  struct stat sa, sb;
  if (::stat(QFile::encodeName(a).constData(), &sa) != 0) return false;
  if (::stat(QFile::encodeName(b).constData(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString FileNameOf(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

void TConvMainFunc::StartConvQueue() {
  if (AvFilesList->RowCount() == 0 || AvMsgTimer->isActive()) return;
  DisableFileButtons();
  AvMsgTimer->start();
  AvListStat->SetText(QStringLiteral("0"));
}

void TConvMainFunc::ConvCurrentFile() {
  const int p = AvListStat->Text().toInt();
  if (p < 0 || p >= AvFilesList->RowCount()) return;
  const QString source = AvFilesList->Caption(p);
  ShowAvParams(source);
  AvFilesList->SetImageIndex(p, kIconConverting);
  const QString line = BuildConvCommand();
  // The output path is the line's last argument. An output that names the
  // source file itself would destroy the source: that row is not converted.
  const QStringList argv = Platform::SplitCommandLine(line);
  const QString output = argv.isEmpty() ? QString() : argv.last();
  if (SameFile(source, output)) {
    AvFilesList->SetImageIndex(p, kIconStopped);
    MsgStatusPanel->setText(QStringLiteral("输出文件与源文件相同，已跳过: ") + FileNameOf(source));
    CvStatusGauge->setValue(0);
    AvListStat->SetText(QString::number(p + 1));
    return;
  }
  StartDosProcess(line);
}

void TConvMainFunc::PollConvOutput() {
  const int p = AvListStat->Text().toInt();
  const int rows = AvFilesList->RowCount();
  // Only a position that names a row is worked on; in the finishing tick the
  // text read names no row and is dropped.
  const bool onRow = p >= 0 && p < rows;
  // Asked before the read: an encoder that had ended by then has all of its
  // output in the pipe already.
  const bool ended = onRow && DosProcessEnded();
  const QString text = ReadDosPipe(OutReadPipe);
  ReapDosProcesses();

  bool summarySeen = false;
  if (onRow && !text.isEmpty()) {
    if (text.startsWith(kProgressMark)) {
      // The status bar shows every progress text as read, before it is parsed.
      MsgStatusPanel->setText(text);
      // A text whose time or the row's duration does not read as a number
      // leaves the gauge and the row as they are for this tick; the summary
      // test below still runs.
      bool okElapsed = false, okTotal = false;
      const int total = TryParseDuration(AvFilesList->SubItem(p, 2), &okTotal);
      const int elapsed = TryParseProgressTime(text, &okElapsed);
      if (okElapsed && okTotal) {
        // A file shorter than one second has no percentage until its summary.
        const qint64 percent = total > 0 ? static_cast<qint64>(elapsed) * 100 / total : 0;
        CvStatusGauge->setValue(static_cast<int>(qBound(qint64(0), percent, qint64(100))));
        AvFilesList->SetSubItem(p, 3, QString::number(percent) + QLatin1Char('%'));
      }
    }
    if (text.contains(kSummaryMark)) {
      summarySeen = true;
      MsgStatusPanel->clear();
      CvStatusGauge->setValue(0);
      AvFilesList->SetImageIndex(p, kIconFinished);
      AvFilesList->SetSubItem(p, 3, QStringLiteral("100%"));
      AvListStat->SetText(QString::number(AvListStat->Text().toInt() + 1));
    }
  }
  // The encoder has ended, everything it wrote has been read and no summary
  // came: the file failed. The row shows stopped and the run goes on.
  if (ended && !summarySeen && Platform::BytesWaiting(OutReadPipe) == 0) {
    AvFilesList->SetImageIndex(p, kIconStopped);
    CvStatusGauge->setValue(0);
    MsgStatusPanel->setText(QStringLiteral("转换失败: ") + FileNameOf(AvFilesList->Caption(p)));
    AvListStat->SetText(QString::number(p + 1));
  }

  if (p >= rows) {
    EnableFileButtons();
    AvMsgTimer->stop();
    if (CvFshChkBox->isChecked()) PowerOffComputer(8);
  }
}

int TConvMainFunc::GetAvDuration() {
  const int p = AvListStat->Text().toInt();
  const QString d = AvFilesList->SubItem(p, 2);
  bool ok = false;
  const int seconds = TryParseDuration(d, &ok);
  if (!ok) throw TAppError(QStringLiteral("'%1' is not a valid duration").arg(d));
  return seconds;
}

int TConvMainFunc::ParseProgressTime(const QString& text) {
  bool ok = false;
  const int seconds = TryParseProgressTime(text, &ok);
  if (!ok) throw TAppError(QStringLiteral("no valid time in the progress text"));
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
