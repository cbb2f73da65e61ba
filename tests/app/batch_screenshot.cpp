// Opens the main window as the program does, adds the files given in one pick
// and converts them with the real encoder, for a screenshot of a running batch
// with its second status panel; ends after some seconds. With "menu" before
// the seconds, it shows the context menu of the second row instead, with the
// keyboard's focus on the Convert button. With "at N", N files are converted at
// once (同时转换).
// Usage: batch_screenshot [menu] [at N] <seconds> <file>...
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "platform/Platform.h"
#include "platform/Translations.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QTabWidget>
#include <QFile>
#include <QMenu>
#include <QToolButton>
#include <QTimer>

#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int first = 1;
  const bool menu = argc > 1 && QLatin1String(argv[1]) == QLatin1String("menu");
  if (menu) ++first;
  int at = 0;
  if (argc > first + 1 && QLatin1String(argv[first]) == QLatin1String("at")) {
    at = std::atoi(argv[first + 1]);
    first += 2;
  }
  if (argc < first + 2) return 2;
  const int seconds = std::atoi(argv[first]);
  QStringList files;
  for (int i = first + 1; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
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
  if (at > 0) {
    form->CmbConcurrent->setCurrentIndex(form->CmbConcurrent->findData(at));
    form->CmbConcurrentChange();
    // The setting shows on its tab.
    form->ParamsPageControl->setCurrentWidget(form->TabShtOther);
  }
  dialogs.filesAnswers.push_back(files);
  form->AddAvFileBtnClick();
  TestSupport::WaitForAddition(form);
  if (menu) {
    QTimer::singleShot(300, [form] {
      form->activateWindow();
      form->CvAvFileBtn->setFocus(Qt::TabFocusReason);
      TListViewEx* list = form->AvFilesList;
      list->SelectRow(1);
      QMenu* rowMenu = form->BuildRowMenu(1);
      rowMenu->popup(list->viewport()->mapToGlobal(list->visualItemRect(list->topLevelItem(1)).center()));
    });
  } else {
    QTimer::singleShot(300, [form] { form->CvAvFileBtnClick(); });
  }
  QTimer::singleShot(seconds * 1000, [form] {
    form->StopCvAvBtnClick();
    QApplication::quit();
  });
  return app.exec();
}
