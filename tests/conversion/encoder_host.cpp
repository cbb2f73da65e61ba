// A program that runs one encoder the way the main window does and passes on
// what it writes, so that a test can end this program by force mid-run.
//   encoder_host ENCODER SOURCE OUTPUT
// Writes "pid N" (the encoder's) first, then the encoder's text as it comes.
#include "conversion/DosConvFunc.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 4) return 2;
  TDosProcess encoder;
  if (!encoder.StartDosProcess(args[1], {QStringLiteral("-ipt"), args[2], QStringLiteral("-s"),
                                          QStringLiteral("640x360"), args[3]}))
    return 1;
  std::printf("pid %lld\n", encoder.Pid());
  std::fflush(stdout);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const QString text = encoder.ReadDosPipe();
    if (!text.isEmpty()) {
      std::printf("%s\n", text.toUtf8().constData());
      std::fflush(stdout);
    }
  });
  QObject::connect(&encoder, &TDosProcess::Ended, &app, &QCoreApplication::quit);
  poll.start(100);
  return app.exec();
}
