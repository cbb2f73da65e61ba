// Opens the main window with three sample files added through the Add button
// (the open dialog answered in advance) and keeps it open for a few seconds, so
// that a screenshot of the list and the filled panel can be taken.
// Usage: media_screenshot [seconds]
#include "MediaSamples.h"
#include "tests/support/TestSupport.h"
#include "app/ConvMainFrm.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? atoi(argv[1]) : 5;
  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  for (const QString& path : {MediaSamples::Avi(), MediaSamples::Chinese(), MediaSamples::Mp4()}) {
    dialogs.fileAnswers.push_back(path);
    window.form()->AddAvFileBtnClick();
    TestSupport::WaitForAddition(window.form());
  }
  window.form()->move(0, 0);
  window.form()->show();
  QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
  return app.exec();
}
