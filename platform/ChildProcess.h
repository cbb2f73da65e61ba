#pragma once
// One child process and everything of it that this program holds: its process
// id and the program's ends of its pipes. The owner learns of the child's end
// through Finished, at which point the child has been reaped and its pipe ends
// closed (after the output was taken). No child is ever left a zombie: an
// object that is destroyed while its child still runs hands the child to a
// keeper that reaps it once it ends.
#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <csignal>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace Platform {

class TChildProcess : public QObject {
  Q_OBJECT
 public:
  struct Options {
    // Standard output and error go into one pipe that the owner reads.
    bool captureOutput = false;
    // Standard input is a pipe that the owner may write into.
    bool inputPipe = false;
    // The child is sent endSignal when this program ends, however it ends.
    bool endWithProgram = false;
    int endSignal = SIGKILL;  // a child that has something to save asks for another
  };

  explicit TChildProcess(QObject* parent = nullptr);
  ~TChildProcess() override;
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Starts argv[0] (a path; a bare name is looked up in PATH) with the argument
  // vector as given, no shell involved. Handles not asked for are /dev/null;
  // nothing else of ours reaches the child. False when it could not be started
  // (a missing program, no pipe): then nothing runs and Finished never comes.
  // An object starts one child in its life.
  bool Start(const QStringList& argv, const Options& options);

  pid_t Pid() const { return pid_; }
  bool Running() const { return pid_ > 0 && !ended_; }
  bool Ended() const { return ended_; }
  // Exit status when the child exited; -1 when it ended by a signal.
  int ExitCode() const { return exitCode_; }
  bool Crashed() const { return crashed_; }
  // The signal that ended the child, 0 when it exited by itself.
  int EndSignal() const { return endSignal_; }

  // Bytes waiting unread in the output pipe.
  int BytesWaiting() const;
  // The program's read end of the output pipe (-1 when none or closed).
  int OutputFd() const { return outRead_; }

  // Writes into the child's input pipe without blocking or SIGPIPE; false when
  // the child is gone or there is no input pipe.
  bool Write(const QByteArray& data);

  // Asks the child to end (SIGTERM) and kills it (SIGKILL) if it is still
  // there after graceMs. Never waits; Finished follows when it has ended.
  void Terminate(int graceMs = 1000);

  // While set, output is read and dropped as it arrives, so that a child nobody
  // reads any more never blocks on a full pipe.
  void SetDiscardOutput(bool discard);

  // Whether the child has ended; checks at once without waiting (and reaps it
  // when it has), for callers that cannot wait for the event loop.
  bool CheckEnded();

  // The executable file names a process goes by: the file name part of the
  // program it runs (/proc/<pid>/exe), its command name and the file name part
  // of its first argument.
  static QStringList ProcessFileNames(pid_t pid);

 signals:
  // The child has ended and has been reaped. The output pipe is still open, so
  // the owner can read what the child wrote last; it is closed when the object
  // goes.
  void Finished(int exitCode, bool crashed);

 private:
  void OnChildEvent();
  void Reaped(int status);
  void CloseAll();

  pid_t pid_ = -1;
  int pidFd_ = -1;
  int outRead_ = -1;
  int inWrite_ = -1;
  bool ended_ = false;
  bool crashed_ = false;
  int endSignal_ = 0;
  int exitCode_ = -1;
  QSocketNotifier* endNotifier_ = nullptr;
  QSocketNotifier* outNotifier_ = nullptr;
  QTimer* pollTimer_ = nullptr;  // where no pidfd can be had
  QTimer* killTimer_ = nullptr;
};

// Number of bytes waiting unread in a pipe; 0 when empty or on error.
int BytesWaiting(int fd);

// Closes a descriptor if it is open and sets it to -1.
void CloseFd(int& fd);

}  // namespace Platform
