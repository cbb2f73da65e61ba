// Vidmora: a desktop video converter.
#include "ConvLoginFrm.h"
#include "ConvMainFrm.h"
#include "params/DataModule.h"
#include "platform/CommandLine.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "platform/Translations.h"
#include "platform/UserFiles.h"
#include "player/PlayerCore.h"
#include "settings/AppSettings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
bool HaveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

// --help and --version answer without a desktop; true when one was given.
bool AnsweredQuestion(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: %s [FILE|FOLDER]...\n"
          "Converts video files to MP4. The files named, and the video files in the folders\n"
          "named, are added to the list. When Vidmora already runs for this user, they are\n"
          "added to its window and no second window opens.\n",
          argv[0]);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Vidmora %s\n", VIDMORA_VERSION);
      return true;
    }
  }
  return false;
}

// Adds paths to the main window's list, as a drop onto the list does.
void AddToList(const QStringList& paths) {
  if (paths.isEmpty() || !ConvMainForm) return;
  ConvMainForm->AvFilesListDragDrop(paths, 0);
}
}  // namespace

int main(int argc, char** argv) {
  Platform::EnsureUtf8Locale();
  if (AnsweredQuestion(argc, argv)) return 0;
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
  // Qt has taken its own options out of argv by now.
  QStringList args;
  // Paths keep their own bytes, also names that are not UTF-8 (platform/FileNames.h).
  for (int i = 1; i < argc; ++i) args << Platform::PathFromNative(QByteArray(argv[i]));
  QStringList unknown;
  const QStringList files = Platform::StartPaths(args, QDir::currentPath(), &unknown);
  for (const QString& option : unknown) std::fprintf(stderr, "vidmora: unknown option %s\n", qPrintable(option));

  // A second start hands its files to the window that runs and ends before it
  // opens the user's database.
  Platform::TSingleInstance instance;
  switch (instance.Claim(files)) {
    case Platform::TSingleInstance::TClaim::kFirst:
      break;
    case Platform::TSingleInstance::TClaim::kHandedOver:
      return 0;
    case Platform::TSingleInstance::TClaim::kNoAnswer:
      std::fprintf(stderr, "vidmora: another start of Vidmora holds the lock but does not answer\n");
      return 1;
  }

  Platform::LoadQtTranslations();
  UserFiles::Prepare();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  app.setWindowIcon(QIcon(QStringLiteral(":/vidmora.svg")));

  // The database is open before any window exists, and what is wrong with the
  // settings file is said before it too.
  DataMod = new TDataMod();
  TAppSettings().Examine();
  // The main window's creation hides it and shows the splash window.
  new TConvMainForm();
  if (TConvMainForm::ShowMainFormAtStart) ConvMainForm->show();
  // Files named on the command line are added once the message loop runs.
  QTimer::singleShot(0, &app, [files] { AddToList(files); });
  // A later start's files join this window's list, and a run that goes on.
  QObject::connect(&instance, &Platform::TSingleInstance::FilesReceived, &app, [](const QStringList& paths) {
    if (ConvMainForm) ConvMainForm->TakeStartFiles(paths);
  });
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
