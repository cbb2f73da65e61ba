// A small program that starts one player the way the preview does and ends on
// the termination signals the way the program does; prints the player's pid.
#include "platform/CommandLine.h"
#include "platform/QuitSignals.h"
#include "player/PlayerCore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 2;
  QObject::connect(Platform::TQuitSignals::Install(), &Platform::TQuitSignals::Received, &app,
                   [] { QCoreApplication::quit(); });
  const long long pid = TPlayerProcesses::Instance().Start(
      Platform::QuoteArg(QString::fromLocal8Bit(argv[1])) + QStringLiteral(" clip.mp4"));
  std::printf("%lld\n", pid);
  std::fflush(stdout);
  const int result = app.exec();
  TPlayerProcesses::Instance().EndAllNow();
  return result;
}
