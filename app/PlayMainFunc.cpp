#include "PlayMainFunc.h"

#include "PlayMainFrm.h"
#include "media/DurationText.h"
#include "media/MediaInfoDll.h"
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "player/PlayerCore.h"

#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <cmath>

namespace {

const QString kZeroTime = QStringLiteral("00:00:00");

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

QString TPlayMainFunc::BuildStartCommand(const QString& file) {
  return Player::StartCommand(PlayerPath, PlayWndHandle, file);
}

QString TPlayMainFunc::BuildSeekCommand(const QString& file) {
  return Player::SeekCommand(PlayerPath, PlayWndHandle, SkinTrkBar->value(), file);
}

void TPlayMainFunc::StartPlay(const QString& file) {
  KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
  const QString command = BuildStartCommand(file);
  SkinTrkBar->setValue(0);
  LoadDuration(file);
  PlayTimer->start();
  // A player that is missing or fails to start is not reported: the clock runs.
  TPlayerProcesses::Instance().Start(command);
}

void TPlayMainFunc::StopPlay() {
  ResetClock();
  KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
}

void TPlayMainFunc::ResetClock() {
  PlayTimer->stop();
  RzLabBgTime->setText(kZeroTime);
  RzLabEdTime->setText(kZeroTime);
  SkinTrkBar->setValue(0);
}

void TPlayMainFunc::LoadDuration(const QString& file) {
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return;
  ApplyDurationText(ProbeDuration(file, QString()));
}

void TPlayMainFunc::ApplyDurationText(const QString& text) {
  QString shown;
  int seconds = 0;
  const bool ok = Player::ReadDurationText(text, &shown, &seconds);
  RzLabEdTime->setText(shown);
  if (!ok) throw TAppError(QStringLiteral("“%1” 不是有效的整数").arg(shown));
  SkinTrkBar->setMaximum(seconds);
}

QString TPlayMainFunc::FormatTime(int seconds) { return DurationTextFromSeconds(seconds); }

void TPlayMainFunc::StepClock() {
  // Where the player says its picture is, while it says so (it starts at a
  // key frame, which may lie well after the second asked for); otherwise one
  // second on.
  const std::optional<double> reported = TPlayerProcesses::Instance().RecentPosition();
  ShowPosition(reported ? ReportedSecond(*reported) : SkinTrkBar->value() + 1);
}

void TPlayMainFunc::FollowPlayer() {
  if (!PlayTimer || !PlayTimer->isActive()) return;
  const std::optional<double> reported = TPlayerProcesses::Instance().RecentPosition();
  if (reported && ReportedSecond(*reported) != SkinTrkBar->value()) ShowPosition(ReportedSecond(*reported));
}

int TPlayMainFunc::ReportedSecond(double position) {
  // A picture a little before a whole second (time stamps of pictures that
  // wait for later ones) counts as that second.
  return static_cast<int>(std::floor(position + 0.2));
}

void TPlayMainFunc::ShowPosition(int second) {
  // The thumb the user holds is not taken from under the mouse.
  if (SkinTrkBar->isSliderDown()) return;
  SkinTrkBar->setValue(second);
  RzLabBgTime->setText(FormatTime(SkinTrkBar->value()));
  if (SkinTrkBar->value() >= SkinTrkBar->maximum()) {
    // The player is left alone: it ends by itself at the end of the file.
    ResetClock();
  }
}

void TPlayMainFunc::SeekPlay(const QString& file) {
  if (!PlayTimer->isActive()) {
    SkinTrkBar->setValue(0);
    return;
  }
  KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
  RzLabBgTime->setText(FormatTime(SkinTrkBar->value()));
  TPlayerProcesses::Instance().Start(BuildSeekCommand(file));
}

void TPlayMainFunc::KillProcessByName(const QString& name) {
  // Only players that this program started are ended; a player the user runs
  // elsewhere under the same name is none of our business. Ending does not
  // wait: the player is reaped when it has gone.
  TPlayerProcesses::Instance().EndByName(name);
}
