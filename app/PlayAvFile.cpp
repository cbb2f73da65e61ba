#include "PlayMainFrm.h"
#include "PlayMainFunc.h"
#include "ConvMainFunc.h"
#include "Controls.h"
#include "conversion/ConvQueue.h"
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/Shell.h"

#include <QLabel>
#include <QTimer>

#include <memory>

void TConvMainFunc::PlayAvFile() {
  const QString caption = QStringLiteral("提示");
  if (ConvQueue->IsRunning()) {
    Shell::MessageBox(AvFilesList->window(), QStringLiteral("正在转换视频文件,无法播放"), caption);
    return;
  }
  // The file played is the one whose properties are shown.
  const int row = ShownRow();
  if (row < 0) {
    Shell::MessageBox(AvFilesList->window(), QStringLiteral("请选择要播放的视频文件"), caption);
    return;
  }
  // The window is owned by the application, shown modally, and freed as soon as
  // its modal loop returns.
  std::unique_ptr<TPlayMainForm> form(new TPlayMainForm(nullptr));
  PlayMainForm = form.get();
  form->RzLabFile->setText(AvFilesList->Caption(row));
  {
    ModalScope modal;
    form->exec();
  }
  // The modal loop can also end without the window's close event (the application
  // quitting while the window is open): no player of this window outlives it.
  TPlayMainFunc().KillProcessByName(QString::fromLatin1(Platform::kPlayerFile));
  form.reset();
  PlayMainForm = nullptr;
}
