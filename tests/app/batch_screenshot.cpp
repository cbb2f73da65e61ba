// Opens the main window as the program does, adds the files given in one pick
// and converts them with the real encoder, for a screenshot of a running batch
// with its second status panel; ends after some seconds.
// Usage: batch_screenshot <seconds> <file>...
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "platform/Platform.h"
#include "platform/Translations.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) return 2;
  const int seconds = std::atoi(argv[1]);
  QStringList files;
  for (int i = 2; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
  Platform::SetExeDir(TestSupport::BuiltAppDir());
  Platform::LoadQtTranslations();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  form->move(0, 0);
  form->show();
  dialogs.filesAnswers.push_back(files);
  form->AddAvFileBtnClick();
  QTimer::singleShot(300, [form] { form->CvAvFileBtnClick(); });
  QTimer::singleShot(seconds * 1000, [form] {
    form->StopCvAvBtnClick();
    QApplication::quit();
  });
  return app.exec();
}
