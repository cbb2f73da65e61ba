// Stopping a run, and powering the computer off after one.
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "conversion/DosConvFunc.h"
#include "platform/PowerControl.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

void TConvMainFunc::StopConvQueue() {
  if (AvFilesList->RowCount() == 0 || !AvMsgTimer->isActive()) return;
  // The encoder ends itself on "q" and closes its output file; an encoder that
  // has gone already simply does not read it.
  SendDosQuitKey();
  const int p = AvListStat->Text().toInt();
  // In the finishing tick the position is the row count and names no row.
  if (p >= 0 && p < AvFilesList->RowCount()) AvFilesList->SetImageIndex(p, 11);
  EnableFileButtons();
  AvMsgTimer->stop();
  MsgStatusPanel->clear();
  CvStatusGauge->setValue(0);
  AvListStat->SetText(QStringLiteral("-1"));
}

void TConvMainFunc::PowerOffComputer(unsigned flags) {
  Q_UNUSED(flags);  // always a power-off request
  Platform::IPowerControl& power = Platform::PowerControl();
  // Without the right to power off, or when the system refuses, the program
  // ends itself quietly and the computer stays on.
  if (!power.CanPowerOff()) {
    power.RequestQuit();
    return;
  }
  if (!power.PowerOff()) power.RequestQuit();
}
