#pragma once
// The preview player without its window: the two command lines of the
// external player, the clock's texts, and the player processes this program
// started.
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

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

// What one line of the player's output says: the file's start time
// ("ID_START_TIME=1.50", the time of its first picture), or the time of the
// picture it shows ("V:   6.5 ...", or "A:   6.5 ..." for a file without
// pictures) in the file's own time stamps. The player can only start at a key
// frame: after "-ss 6" it shows whichever picture it found, and these lines
// say which.
struct TPlayerReport {
  std::optional<double> startTime;
  std::optional<double> position;
};
TPlayerReport ReadPlayerLine(const QByteArray& line);

}  // namespace Player

// The player processes that this program started. Each is started so that it
// ends with the program, is ended without waiting (a terminate signal, then a
// kill signal if it is still there after a second) and is reaped when it ends.
class TPlayerProcesses : public QObject {
  Q_OBJECT
 public:
  static TPlayerProcesses& Instance();

  // Starts a command line (no shell; standard input on /dev/null, its output
  // read for the position reports) and returns at once with its process id,
  // or -1 when it could not be started.
  long long Start(const QString& commandLine);
  // Ends every started player whose executable file name equals name without
  // regard to ASCII letter case. Processes that this program did not start are
  // never touched. Returns how many were asked to end.
  int EndByName(const QString& name);
  // Process ids of started players that have not ended yet, oldest first.
  QList<long long> Running() const;
  // Kills every player still running and reaps it, waiting for it (at exit).
  void EndAllNow();
  // Where the picture of the player started last is, in seconds from the
  // beginning of the file, as the player itself last reported it within the
  // last withinMs milliseconds; nothing when it has not (not started yet,
  // ended, stalled, or a player that says nothing). Reports of players
  // started before it never count.
  std::optional<double> RecentPosition(int withinMs = 1000) const;

 signals:
  // A player has ended and was reaped: nothing of it draws any more.
  void PlayerEnded();
  // The player started last has reported where its picture is.
  void PositionReported();

 private:
  TPlayerProcesses() = default;
  // Reads what a player wrote and takes its reports.
  void ReadOutput(Platform::TChildProcess* player);

  struct TOutput {
    QByteArray pending;  // the start of a line not yet ended
    double startTime = 0;
  };
  QList<Platform::TChildProcess*> players_;
  QHash<Platform::TChildProcess*, TOutput> outputs_;
  Platform::TChildProcess* newest_ = nullptr;
  std::optional<double> position_;  // the newest player's latest report
  QElapsedTimer reportedAt_;        // when it came
};
