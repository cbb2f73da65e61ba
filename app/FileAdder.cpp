#include "FileAdder.h"

#include <QTimer>

TFileAdder::TFileAdder(QObject* owner) : QObject(owner) { setObjectName(QStringLiteral("AvFileAdder")); }

void TFileAdder::ScheduleSlice() {
  QTimer::singleShot(0, this, [this] {
    if (OnSlice && IsBusy()) OnSlice();
  });
}

void TFileAdder::Reset() {
  Pending.clear();
  Added = 0;
  Joined = 0;
  Ignored = 0;
  Slices = 0;
  LastAdded.clear();
  Refused.clear();
}
