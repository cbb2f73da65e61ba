// The main window as a program of its own, converting the files it is given with the
// encoder of its installation folder, so that a test can end it by force mid-run.
//   window_host APPDIR FILE...
// A large picture size keeps each file busy for a while. Writes
// "started ROW PID" when a row's encoder starts (its process id), "progress ROW SECONDS"
// as a row converts, and "ended" when the run is over.
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "app/FileAdder.h"
#include "conversion/ConvQueue.h"
#include "conversion/DosConvFunc.h"
#include "platform/Platform.h"
#include "tests/support/TestSupport.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3) return 2;
  Platform::SetExeDir(args[1]);
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  form->CmbExVideo[3]->SetItemIndex(5);
  form->AvFilesListDragDrop(args.mid(2), 0);
  // A large addition goes on in slices; the run starts once it is over.
  while (form->AvFileAdder->IsBusy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QObject::connect(form->ConvQueue, &TConvQueue::RowStarted, [form](int row) {
    std::printf("started %d %lld\n", row,
                form->ConvQueue->Encoder() ? form->ConvQueue->Encoder()->Pid() : -1LL);
    std::fflush(stdout);
  });
  QObject::connect(form->ConvQueue, &TConvQueue::RowProgress, [form](int row) {
    std::printf("progress %d %.2f\n", row, form->ConvQueue->Rows().at(row).convertedSeconds);
    std::fflush(stdout);
  });
  QObject::connect(form->ConvQueue, &TConvQueue::RunEnded, [] {
    std::printf("ended\n");
    std::fflush(stdout);
  });
  form->CvAvFileBtnClick();
  return app.exec();
}
