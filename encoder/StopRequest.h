// Requests to end a conversion early: "q" on standard input, SIGINT and SIGTERM, and
// SIGHUP, which the program that started the encoder has it sent when that program ends.
// The end of standard input is not a request: a caller that closes it (or gives
// /dev/null) still gets a complete conversion.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace vidmora::encoder {

// "q", SIGINT and SIGTERM are requests alike. The first asks for an orderly stop; the
// second gives up at once: the unfinished file named by SetAbandonPath is removed and the
// program exits with status 255.
bool StopRequested();
void RequestStop();
// Seconds since the first request; 0 when there was none.
double SecondsSinceStopRequest();

// Whether SIGHUP came: the program that started the encoder is gone (or the terminal
// closed). It asks for an orderly stop like "q", but is never counted as the second
// request that gives up, and the file it leaves replaces nothing.
bool ParentGone();

// Installs the handlers of SIGINT, SIGTERM and SIGHUP. SIGPIPE is ignored so that a reader going away
// does not kill a conversion that is writing its file.
void InstallSignalHandlers();
void SetAbandonPath(const std::string& path);  // empty: nothing to remove

// Watches standard input for "q" in a thread of its own, without ever blocking the
// conversion. On a terminal, keys are read without waiting for Enter and the terminal's
// mode is put back when the watcher ends.
class StdinWatcher {
 public:
  StdinWatcher();
  ~StdinWatcher();
  StdinWatcher(const StdinWatcher&) = delete;
  StdinWatcher& operator=(const StdinWatcher&) = delete;

 private:
  void Run();
  std::thread thread_;
  int wake_[2] = {-1, -1};
};

}  // namespace vidmora::encoder
