// Opens the main window on an installation folder whose list was kept (a batch cut off
// by a kill, say), for screenshots of the rows it shows again; with "tip ROW" it shows
// that row's tool tip, with "convert" it converts the waiting rows with the slow codec at a
// large picture size, to show the run's progress. Ends after some seconds without closing the
// window, so the kept list stays as it was shown.
// Usage: keep_screenshot <installation folder> <seconds> [tip ROW | convert]
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "platform/Platform.h"
#include "platform/Translations.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QToolTip>

#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) return 2;
  Platform::SetExeDir(QString::fromLocal8Bit(argv[1]));
  const int seconds = std::atoi(argv[2]);
  const QString mode = argc > 3 ? QString::fromLatin1(argv[3]) : QString();
  Platform::LoadQtTranslations();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  form->move(0, 0);
  form->show();
  if (mode == QLatin1String("tip") && argc > 4) {
    const int row = std::atoi(argv[4]);
    QTimer::singleShot(500, [form, row] {
      TListViewEx* list = form->AvFilesList;
      const QRect cell = list->visualRect(list->model()->index(row, 4));
      QToolTip::showText(list->viewport()->mapToGlobal(cell.center()), list->topLevelItem(row)->toolTip(4),
                         list->viewport());
    });
  } else if (mode == QLatin1String("convert")) {
    form->CmbExVideo[1]->SetItemIndex(1);
    form->CmbExVideo[3]->SetItemIndex(5);
    QTimer::singleShot(300, [form] { form->CvAvFileBtnClick(); });
  }
  QTimer::singleShot(seconds * 1000, [] { QApplication::quit(); });
  return app.exec();
}
