// Stopping a run, and powering the computer off after one.
#include "ConvMainFunc.h"

#include "Controls.h"
#include "conversion/ConvQueue.h"
#include "platform/AppError.h"
#include "platform/PowerControl.h"
#include "platform/Shell.h"

void TConvMainFunc::StopConvQueue(bool closing) {
  if (AvFilesList->RowCount() == 0 || !ConvQueue->IsRunning()) return;
  // The encoder gets its quit key; the queue reports the stopped row and the
  // end of the run, which the window shows.
  ConvQueue->Stop(closing);
}

bool TConvMainFunc::ConfirmClose() {
  if (!ConvQueue->IsRunning()) return true;
  // Enter and Esc keep the run: only a deliberate choice ends it.
  const int answer = Shell::Question(AvFilesList->window(), AppTitle, QStringLiteral("正在转换, 确定停止并退出吗?"),
                                     {QStringLiteral("停止并退出"), QStringLiteral("继续转换")}, 1);
  return answer == 0;
}

namespace {

void ReportPowerOffRefused() {
  QString reason = Platform::PowerControl().Refusal();
  if (reason.isEmpty()) reason = QStringLiteral("系统拒绝了关机请求");
  ShowAppError(QStringLiteral("无法关闭计算机: ") + reason);
}

}  // namespace

void TConvMainFunc::PowerOffComputer(unsigned flags) {
  Q_UNUSED(flags);  // always a power-off request
  // The questions to the system are answered later, from the event loop: the
  // window stays responsive meanwhile. Without the right to power off, or when
  // the system refuses, the user is told why and the program stays open, with
  // the finished batch on the screen.
  Platform::PowerControl().AskCanPowerOff([](bool can) {
    if (!can) {
      ReportPowerOffRefused();
      return;
    }
    Platform::PowerControl().AskPowerOff([](bool accepted) {
      if (!accepted) ReportPowerOffRefused();
    });
  });
}
