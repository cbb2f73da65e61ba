#include "ConvMainFunc.h"

#include "ConvLoginFrm.h"
#include "ConvMainFrm.h"
#include "Controls.h"
#include "FileAdder.h"
#include "ListMarks.h"
#include "conversion/BatchClock.h"
#include "conversion/ConvQueue.h"
#include "params/DataModule.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

namespace {
template <typename T>
T* Lookup(const char* name) {
  return qobject_cast<T*>(Platform::FindComponent(ConvMainForm, QString::fromLatin1(name)));
}
}  // namespace

TConvMainFunc::TConvMainFunc() {
  Query = DataMod ? &DataMod->PramQuery : nullptr;
  ParamCtrls[0] = Lookup<QWidget>("AvSaveDirEdit");
  for (int i = 1; i <= kVideoSelectors; ++i) {
    ParamCtrls[kTagVdoCodec + i - 1] = Lookup<QWidget>(QStringLiteral("CmbExVideo%1").arg(i).toLatin1().constData());
  }
  for (int i = 1; i <= kAudioSelectors; ++i) {
    ParamCtrls[kTagAdoCodec + i - 1] = Lookup<QWidget>(QStringLiteral("CmbExAudio%1").arg(i).toLatin1().constData());
  }
  OpenDialog = Lookup<TOpenDialog>("OpenDialog");
  AvFilesList = Lookup<TListViewEx>("AvFilesList");
  AvParamsList = Lookup<TListViewEx>("AvParamsList");
  AddAvFileBtn = Lookup<QWidget>("AddAvFileBtn");
  DelAvFileBtn = Lookup<QWidget>("DelAvFileBtn");
  CvAvFileBtn = Lookup<QWidget>("CvAvFileBtn");
  StopCvAvBtn = Lookup<QWidget>("StopCvAvBtn");
  ClearAvFileBtn = Lookup<QWidget>("ClearAvFileBtn");
  AvListStat = Lookup<TStatEdit>("AvListStat");
  AvSaveDirEdit = Lookup<QLineEdit>("AvSaveDirEdit");
  MsgStatusPanel = Lookup<QLabel>("MsgStatusPanel");
  RunStatusPanel = Lookup<QLabel>("RunStatusPanel");
  AvFileAdder = Lookup<TFileAdder>("AvFileAdder");
  RunClock = ConvMainForm ? ConvMainForm->RunClock.get() : nullptr;
  CvStatusGauge = Lookup<QProgressBar>("CvStatusGauge");
  AvMsgTimer = Lookup<QTimer>("AvMsgTimer");
  ConvQueue = Lookup<TConvQueue>("ConvQueue");
  BatchStore = ConvMainForm ? ConvMainForm->BatchStore.get() : nullptr;
  AvSaveTimer = Lookup<QTimer>("AvSaveTimer");
  CvFshChkBox = Lookup<QCheckBox>("CvFshChkBox");
  CmbSubMode = Lookup<QComboBox>("CmbSubMode");
  CmbConcurrent = Lookup<QComboBox>("CmbConcurrent");
  AppTitle = Platform::AppTitle();
}

TComboBoxEx* TConvMainFunc::Selector(int tag) const {
  if (tag < kTagVdoCodec || tag > kTagAdoFreq) return nullptr;
  return qobject_cast<TComboBoxEx*>(ParamCtrls[tag]);
}

void TConvMainFunc::ShowAppTitle() {
  if (ConvMainForm) ConvMainForm->setWindowTitle(AppTitle);
}

void TConvMainFunc::ShowSplash() {
  TConvMainForm::ShowMainFormAtStart = false;
  if (!ConvLoginForm) ConvLoginForm = new TConvLoginForm();
  ConvLoginForm->show();
}

void TConvMainFunc::EndSplash() {
  if (ConvLoginForm) ConvLoginForm->hide();
  if (ConvMainForm) ConvMainForm->show();
}
