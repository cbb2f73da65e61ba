#include "PlayMainFunc.h"

#include "PlayMainFrm.h"
#include "media/MediaInfoDll.h"
#include "platform/AppError.h"
#include "platform/CommandLine.h"
#include "platform/Platform.h"
#include "platform/ProcessList.h"

#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QWidget>

namespace {

const QString kZeroTime = QStringLiteral("00:00:00");
// Shown, and counted as the length, when the media library reports no duration.
const QString kUnknownDuration = QStringLiteral("02:30:00");

// The decimal number in text, or an error naming the text (the event stops).
int ToInt(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  if (!ok) throw TAppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return value;
}

}  // namespace

TPlayMainFunc::TPlayMainFunc() {
  if (!PlayMainForm) return;
  // Asking for the handle creates the panel's native window if needed.
  PlayWndHandle = static_cast<std::uint32_t>(PlayMainForm->RzPlayPanel->winId());
  PlayerPath = Platform::ExePath(QString::fromLatin1(Platform::kPlayerFile));
  RzLabBgTime = PlayMainForm->RzLabBgTime;
  RzLabEdTime = PlayMainForm->RzLabEdTime;
  SkinTrkBar = PlayMainForm->SkinTrkBar;
  PlayTimer = PlayMainForm->PlayTimer;
}

QString TPlayMainFunc::CommandHead() const {
  // Paths with blanks are quoted the same way as on the encoder's command line;
  // any other path goes in unchanged.
  return Platform::QuoteArg(PlayerPath) + QStringLiteral("  -slave -identify -wid ") +
         QString::number(PlayWndHandle) + QStringLiteral(" -colorkey 0x101010");
}

QString TPlayMainFunc::BuildStartCommand(const QString& file) {
  return CommandHead() + QStringLiteral(" -framedrop -autosync 100 -vf screenshot ") +
         Platform::QuoteArg(file);
}

QString TPlayMainFunc::BuildSeekCommand(const QString& file) {
  return CommandHead() + QStringLiteral(" -framedrop -autosync 100 -vf screenshot -ss ") +
         FormatTime(SkinTrkBar->value()) + QStringLiteral(" ") + Platform::QuoteArg(file);
}

void TPlayMainFunc::StartPlay(const QString& file) {
  KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
  const QString command = BuildStartCommand(file);
  SkinTrkBar->setValue(0);
  LoadDuration(file);
  PlayTimer->start();
  // A player that is missing or fails to start is not reported: the clock runs.
  Platform::StartDetached(command);
}

void TPlayMainFunc::StopPlay() {
  PlayTimer->stop();
  RzLabBgTime->setText(kZeroTime);
  RzLabEdTime->setText(kZeroTime);
  SkinTrkBar->setValue(0);
  KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
}

void TPlayMainFunc::LoadDuration(const QString& file) {
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return;
  ApplyDurationText(ProbeDuration(file, QString()));
}

void TPlayMainFunc::ApplyDurationText(const QString& text) {
  const QString shown = text.isEmpty() ? kUnknownDuration : text.left(8);
  RzLabEdTime->setText(shown);
  const int hours = ToInt(shown.mid(0, 2));
  const int minutes = ToInt(shown.mid(3, 2));
  const int seconds = ToInt(shown.mid(6, 2));
  SkinTrkBar->setMaximum(hours * 3600 + minutes * 60 + seconds);
}

QString TPlayMainFunc::FormatTime(int seconds) {
  if (seconds < 0) seconds = 0;
  const int hours = seconds / 3600;
  const int minutes = (seconds / 60) % 60;
  const int rest = seconds % 60;
  return QStringLiteral("%1:%2:%3")
      .arg(hours, 2, 10, QLatin1Char('0'))
      .arg(minutes, 2, 10, QLatin1Char('0'))
      .arg(rest, 2, 10, QLatin1Char('0'));
}

void TPlayMainFunc::StepClock() {
  SkinTrkBar->setValue(SkinTrkBar->value() + 1);
  RzLabBgTime->setText(FormatTime(SkinTrkBar->value()));
  if (SkinTrkBar->value() >= SkinTrkBar->maximum()) {
    // The player is left alone: it ends by itself at the end of the file.
    RzLabBgTime->setText(kZeroTime);
    RzLabEdTime->setText(kZeroTime);
    SkinTrkBar->setValue(0);
    PlayTimer->stop();
  }
}

void TPlayMainFunc::SeekPlay(const QString& file) {
  if (!PlayTimer->isActive()) {
    SkinTrkBar->setValue(0);
    return;
  }
  KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
  RzLabBgTime->setText(FormatTime(SkinTrkBar->value()));
  Platform::StartDetached(BuildSeekCommand(file));
}

void TPlayMainFunc::KillProcessByName(const QString& name) {
  // Only players that this program started are ended; a player the user runs
  // elsewhere under the same name is none of our business.
  Platform::EndStartedByName(name);
}
