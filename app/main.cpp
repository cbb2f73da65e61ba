// Vidmora: a desktop video converter.
#include "ConvLoginFrm.h"
#include "ConvMainFrm.h"
#include "params/DataModule.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/Translations.h"
#include "platform/UserFiles.h"
#include "player/PlayerCore.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {
bool HaveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}
}  // namespace

int main(int argc, char** argv) {
  Platform::EnsureUtf8Locale();
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "Vidmora needs a graphical desktop, and none was found (DISPLAY is not set).\n"
                 "Start it from a desktop session, or on a machine without one run:\n"
                 "  xvfb-run -a %s\n",
                 argv[0]);
    return 2;
  }
  // The preview player draws into a native X11 window of ours.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if ((!platform || !*platform) && std::getenv("DISPLAY")) qputenv("QT_QPA_PLATFORM", "xcb");

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vidmora"));
  Platform::LoadQtTranslations();
  UserFiles::Prepare();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  app.setWindowIcon(QIcon(QStringLiteral(":/vidmora.svg")));

  // The database is open before any window exists.
  DataMod = new TDataMod();
  // The main window's creation hides it and shows the splash window.
  new TConvMainForm();
  if (TConvMainForm::ShowMainFormAtStart) ConvMainForm->show();
  // SIGTERM, SIGHUP and SIGINT end the program the way closing its window
  // does: the preview window closes first, a running conversion is stopped.
  QObject::connect(Platform::TQuitSignals::Install(), &Platform::TQuitSignals::Received, &app, [] {
    TConvMainForm::QuitWithoutAsking = true;
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (ConvMainForm) ConvMainForm->close();
    QApplication::quit();
  });
  const int result = app.exec();
  // No player outlives the program.
  TPlayerProcesses::Instance().EndAllNow();
  delete ConvMainForm;
  delete ConvLoginForm;
  delete DataMod;
  DataMod = nullptr;
  return result;
}
