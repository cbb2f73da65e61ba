#pragma once
// The preview player without its window: the two command lines of the
// external player, the clock's texts, and the player processes this program
// started.
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

namespace Platform {
class TChildProcess;
}

namespace Player {


// The duration label's text for a duration text from the media library
// ("HH:MM:SS.mmm", more hour digits from 100 hours on, or empty when it gave
// none: "02:30:00"), and its whole seconds. False when its hours, minutes or seconds are not numbers; the
// label text is given all the same.
bool ReadDurationText(const QString& text, QString* shown, int* seconds);

// The command line that starts the player on a file from the beginning, and
// the one that starts it at a given second. Paths with blanks are quoted; any
// other path goes in unchanged.
QString StartCommand(const QString& playerPath, std::uint32_t window, const QString& file);
QString SeekCommand(const QString& playerPath, std::uint32_t window, int second, const QString& file);

}  // namespace Player

// The player processes that this program started. Each is started so that it
// ends with the program, is ended without waiting (a terminate signal, then a
// kill signal if it is still there after a second) and is reaped when it ends.
class TPlayerProcesses : public QObject {
  Q_OBJECT
 public:
  static TPlayerProcesses& Instance();

  // Starts a command line (no shell; standard handles on /dev/null) and
  // returns at once with its process id, or -1 when it could not be started.
  long long Start(const QString& commandLine);
  // Ends every started player whose executable file name equals name without
  // regard to ASCII letter case. Processes that this program did not start are
  // never touched. Returns how many were asked to end.
  int EndByName(const QString& name);
  // Process ids of started players that have not ended yet, oldest first.
  QList<long long> Running() const;
  // Kills every player still running and reaps it, waiting for it (at exit).
  void EndAllNow();

 signals:
  // A player has ended and was reaped: nothing of it draws any more.
  void PlayerEnded();

 private:
  TPlayerProcesses() = default;
  QList<Platform::TChildProcess*> players_;
};
