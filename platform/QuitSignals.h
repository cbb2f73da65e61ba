#pragma once
// The termination signals (SIGTERM, SIGHUP, SIGINT) as a Qt signal: the
// handler only writes into a pipe, and the program reacts on its own thread,
// so that it can end through its normal close path.
#include <QObject>

class QSocketNotifier;

namespace Platform {

class TQuitSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers once; later calls give the same object.
  static TQuitSignals* Install();

 signals:
  void Received(int signal);

 private:
  TQuitSignals();
  void Take();
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace Platform
