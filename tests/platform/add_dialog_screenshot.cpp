// Opens the main window as the program does (translations, style sheet) and
// clicks the Add button, so that a screenshot of the open dialog can be taken;
// ends after a few seconds. Usage: add_dialog_screenshot [seconds]
#include "app/ConvMainFrm.h"
#include "platform/Platform.h"
#include "platform/Translations.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QToolButton>
#include <QTimer>

#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
  Platform::SetExeDir(TestSupport::BuiltAppDir());
  Platform::LoadQtTranslations();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  TestSupport::TempAppDir appDir;
  TestSupport::MainWindowFixture window;
  window.form()->move(0, 0);
  window.form()->show();
  QTimer::singleShot(300, [&] { window.form()->AddAvFileBtn->click(); });
  QTimer::singleShot(seconds * 1000, [] {
    if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
    QApplication::quit();
  });
  return app.exec();
}
