#include "TestSupport.h"

#include "app/ConvLoginFrm.h"
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/FileAdder.h"
#include "params/DataModule.h"
#include "platform/AppError.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

namespace TestSupport {

MainWindowFixture::MainWindowFixture(int busyWaitMs) {
  QCoreApplication::setApplicationName(QStringLiteral("Vidmora"));
  DataMod = new TDataMod();
  if (busyWaitMs >= 0) DataMod->DataBase.SetTimeOut(busyWaitMs);
  new TConvMainForm();
  if (ConvLoginForm) ConvLoginForm->LoginTimer->stop();
  RunEvent([] {
    TConvMainFunc func;
    func.EndSplash();
  });
}

MainWindowFixture::~MainWindowFixture() {
  delete ConvMainForm;
  delete ConvLoginForm;
  ConvLoginForm = nullptr;
  delete DataMod;
  DataMod = nullptr;
}

TConvMainForm* MainWindowFixture::form() const { return ConvMainForm; }

bool WaitForAddition(TConvMainForm* form, int timeoutMs) {
  return QTest::qWaitFor([form] { return !form->AvFileAdder->IsBusy(); }, timeoutMs);
}

}  // namespace TestSupport
