#pragma once
// Files on their way into the list. A large addition (a folder of a thousand
// videos) is probed a slice at a time, between other events, so the window
// keeps answering and shows how far it has come; a small one is done in the
// event that asked for it.
#include <QObject>
#include <QStringList>

#include <functional>

class TFileAdder : public QObject {
  Q_OBJECT
 public:
  explicit TFileAdder(QObject* owner);

  QStringList Pending;  // files still to be probed and added, in order
  int Added = 0;        // rows added by this addition so far
  int Joined = 0;       // of them, rows that joined a run that goes on
  int Ignored = 0;      // items of this addition that are no video files
  int Slices = 0;       // slices run by this addition
  QString LastAdded;    // the file of the last row added
  QString Refused;      // why the last file that cannot be a source was refused
  // How long one slice may probe before it lets other events in.
  int SliceMs = 20;

  bool IsBusy() const { return !Pending.isEmpty(); }
  // Runs OnSlice once the events waiting now have been handled.
  void ScheduleSlice();
  // Forgets the addition that has ended.
  void Reset();
  std::function<void()> OnSlice;
};
