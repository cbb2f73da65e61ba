#include "ChildProcess.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Platform {

namespace {

// Signals whose handling a child must not inherit from us.
constexpr int kResetSignals[] = {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD};

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#endif
  (void)pid;
  return -1;
}

// Reaps pid if it has ended; returns its wait status through status.
bool TryReap(pid_t pid, int* status) {
  for (;;) {
    const pid_t r = ::waitpid(pid, status, WNOHANG);
    if (r == pid) return true;
    if (r == 0) return false;
    if (errno == EINTR) continue;
    *status = 0;  // not ours any more: nothing to collect
    return true;
  }
}

void Drain(int fd) {
  char buffer[4096];
  while (BytesWaiting(fd) > 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 && errno != EINTR) break;
  }
}

// Drains what is waiting. Readable with nothing waiting is the end of the
// output: nothing more will come, and the notifier is switched off.
void DrainOrStop(int fd, QSocketNotifier* notifier) {
  if (BytesWaiting(fd) > 0) {
    Drain(fd);
  } else {
    notifier->setEnabled(false);
  }
}

// Takes over a child whose object went while the child still ran: keeps its
// output pipe drained (closing it could end the child on its next write, for
// instance while a stopped encoder is closing its output file) and reaps it
// when it ends.
class Keeper : public QObject {
 public:
  Keeper(pid_t pid, int pidFd, int outRead, int inWrite)
      : pid_(pid), pidFd_(pidFd), outRead_(outRead), inWrite_(inWrite) {
    if (outRead_ >= 0) {
      auto* out = new QSocketNotifier(outRead_, QSocketNotifier::Read, this);
      connect(out, &QSocketNotifier::activated, this, [this, out] {
        DrainOrStop(outRead_, out);
        Check();
      });
    }
    if (pidFd_ >= 0) {
      auto* end = new QSocketNotifier(pidFd_, QSocketNotifier::Read, this);
      connect(end, &QSocketNotifier::activated, this, &Keeper::Check);
    } else {
      auto* timer = new QTimer(this);
      connect(timer, &QTimer::timeout, this, &Keeper::Check);
      timer->start(100);
    }
    Check();
  }
  ~Keeper() override {
    CloseFd(pidFd_);
    CloseFd(outRead_);
    CloseFd(inWrite_);
  }

 private:
  void Check() {
    int status = 0;
    if (done_ || !TryReap(pid_, &status)) return;
    done_ = true;
    deleteLater();
  }
  pid_t pid_;
  int pidFd_, outRead_, inWrite_;
  bool done_ = false;
};

struct SpawnFds {
  int in = -1, out = -1, err = -1;
};

// posix_spawn with the given standard handles; /dev/null for the others.
pid_t SpawnPosix(char* const* args, bool hasSlash, const SpawnFds& fds) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int wanted[3] = {fds.in, fds.out, fds.err};
  for (int target = 0; target < 3; ++target) {
    if (wanted[target] >= 0) {
      posix_spawn_file_actions_adddup2(&actions, wanted[target], target);
    } else {
      posix_spawn_file_actions_addopen(&actions, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t empty;
  sigemptyset(&empty);
  posix_spawnattr_setsigmask(&attr, &empty);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : kResetSignals) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = hasSlash ? posix_spawn(&pid, args[0], &actions, &attr, args, environ)
                          : posix_spawnp(&pid, args[0], &actions, &attr, args, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// A start whose child gets SIGTERM when this program ends: the death signal
// has to be set in the child between fork and exec, which posix_spawn cannot
// do. Everything the child touches is prepared before vfork; the child makes
// system calls only.
pid_t SpawnEndingWithUs(char* const* args, const SpawnFds& fds, int endSignal) {
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) return -1;
  const int in = fds.in >= 0 ? fds.in : devNull;
  const int out = fds.out >= 0 ? fds.out : devNull;
  const int err = fds.err >= 0 ? fds.err : devNull;
  const pid_t parent = ::getpid();

  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  volatile int execErrno = 0;
  const pid_t pid = ::vfork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, endSignal);
    // The program may have ended between vfork and prctl.
    if (::getppid() != parent) ::_exit(127);
    // Raise the three handles above 2 first, so that one dup2 cannot overwrite
    // another that is still to be copied.
    const int hi[3] = {::fcntl(in, F_DUPFD, 3), ::fcntl(out, F_DUPFD, 3), ::fcntl(err, F_DUPFD, 3)};
    for (int target = 0; target < 3; ++target) {
      if (hi[target] < 0 || ::dup2(hi[target], target) < 0) {
        execErrno = errno;
        ::_exit(127);
      }
    }
#ifdef SYS_close_range
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
#endif
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : kResetSignals) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(args[0], args, environ);
    execErrno = errno ? errno : ENOEXEC;
    ::_exit(127);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ::close(devNull);
  if (pid < 0) return -1;
  if (execErrno != 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  return pid;
}

QString FilePart(const QString& path) {
  const int slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace

TChildProcess::TChildProcess(QObject* parent) : QObject(parent) {}

TChildProcess::~TChildProcess() {
  if (pid_ > 0 && !ended_) {
    int status = 0;
    if (!TryReap(pid_, &status)) {
      // The keeper owns the descriptors from here on.
      new Keeper(pid_, pidFd_, outRead_, inWrite_);
      pidFd_ = outRead_ = inWrite_ = -1;
    }
  }
  CloseAll();
}

bool TChildProcess::Start(const QStringList& argv, const Options& options) {
  if (pid_ > 0 || argv.isEmpty() || argv.first().isEmpty()) return false;

  std::vector<QByteArray> encoded;
  encoded.reserve(static_cast<size_t>(argv.size()));
  // A path's own bytes, also where they are not UTF-8 (see FileNames.h).
  for (const QString& arg : argv) encoded.push_back(NativePath(arg));
  std::vector<char*> args;
  for (QByteArray& arg : encoded) args.push_back(arg.data());
  args.push_back(nullptr);
  const bool hasSlash = argv.first().contains(QLatin1Char('/'));

  int out[2] = {-1, -1};
  int in[2] = {-1, -1};
  if (options.captureOutput && ::pipe2(out, O_CLOEXEC) != 0) return false;
  if (options.inputPipe && ::pipe2(in, O_CLOEXEC) != 0) {
    CloseFd(out[0]);
    CloseFd(out[1]);
    return false;
  }
  SpawnFds fds{in[0], out[1], out[1]};
  // The death signal needs a path: a bare name goes the ordinary way.
  const pid_t pid = options.endWithProgram && hasSlash ? SpawnEndingWithUs(args.data(), fds, options.endSignal)
                                                       : SpawnPosix(args.data(), hasSlash, fds);
  // The child holds its own copies now; with ours closed, the output pipe
  // reports its end once the child has ended.
  CloseFd(out[1]);
  CloseFd(in[0]);
  if (pid <= 0) {
    CloseFd(out[0]);
    CloseFd(in[1]);
    return false;
  }
  pid_ = pid;
  outRead_ = out[0];
  inWrite_ = in[1];

  pidFd_ = OpenPidFd(pid_);
  if (pidFd_ >= 0) {
    endNotifier_ = new QSocketNotifier(pidFd_, QSocketNotifier::Read, this);
    connect(endNotifier_, &QSocketNotifier::activated, this, &TChildProcess::OnChildEvent);
  } else {
    pollTimer_ = new QTimer(this);
    connect(pollTimer_, &QTimer::timeout, this, &TChildProcess::OnChildEvent);
    pollTimer_->start(50);
  }
  return true;
}

void TChildProcess::OnChildEvent() {
  int status = 0;
  if (ended_ || !TryReap(pid_, &status)) return;
  Reaped(status);
}

bool TChildProcess::CheckEnded() {
  if (pid_ <= 0) return true;
  if (!ended_) OnChildEvent();
  return ended_;
}

void TChildProcess::Reaped(int status) {
  ended_ = true;
  crashed_ = WIFSIGNALED(status);
  endSignal_ = crashed_ ? WTERMSIG(status) : 0;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (endNotifier_) endNotifier_->setEnabled(false);
  if (pollTimer_) pollTimer_->stop();
  if (killTimer_) killTimer_->stop();
  CloseFd(pidFd_);
  CloseFd(inWrite_);
  emit Finished(exitCode_, crashed_);
}

void TChildProcess::CloseAll() {
  delete endNotifier_;
  endNotifier_ = nullptr;
  delete outNotifier_;
  outNotifier_ = nullptr;
  CloseFd(pidFd_);
  CloseFd(outRead_);
  CloseFd(inWrite_);
}

int TChildProcess::BytesWaiting() const { return Platform::BytesWaiting(outRead_); }

bool TChildProcess::Write(const QByteArray& data) {
  if (inWrite_ < 0 || data.isEmpty() || ended_) return false;
  // Block SIGPIPE for this thread while writing; a pipe whose reader is gone
  // then only reports EPIPE, and the signal it left pending is taken back.
  sigset_t pipeSet, oldSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
  sigset_t pendingBefore;
  sigpending(&pendingBefore);
  const bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;
  const int oldFlags = ::fcntl(inWrite_, F_GETFL);
  if (oldFlags >= 0 && !(oldFlags & O_NONBLOCK)) ::fcntl(inWrite_, F_SETFL, oldFlags | O_NONBLOCK);
  ssize_t written;
  do {
    written = ::write(inWrite_, data.constData(), static_cast<size_t>(data.size()));
  } while (written < 0 && errno == EINTR);
  const int writeErrno = errno;
  if (written < 0 && writeErrno == EPIPE && !wasPending) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  return written > 0;
}

void TChildProcess::Terminate(int graceMs) {
  if (!Running()) return;
  ::kill(pid_, SIGTERM);
  if (!killTimer_) {
    killTimer_ = new QTimer(this);
    killTimer_->setSingleShot(true);
    connect(killTimer_, &QTimer::timeout, this, [this] {
      if (Running()) ::kill(pid_, SIGKILL);
    });
  }
  killTimer_->start(graceMs);
}

void TChildProcess::SetDiscardOutput(bool discard) {
  if (outRead_ < 0) return;
  if (discard && !outNotifier_) {
    outNotifier_ = new QSocketNotifier(outRead_, QSocketNotifier::Read, this);
    connect(outNotifier_, &QSocketNotifier::activated, this, [this] {
      if (outNotifier_) DrainOrStop(outRead_, outNotifier_);
    });
    Drain(outRead_);
  }
  if (outNotifier_) outNotifier_->setEnabled(discard);
}

QStringList TChildProcess::ProcessFileNames(pid_t pid) {
  QStringList names;
  const QString dir = QStringLiteral("/proc/%1/").arg(pid);
  const QString exe = QFileInfo(dir + QStringLiteral("exe")).symLinkTarget();
  if (!exe.isEmpty()) {
    QString name = FilePart(exe);
    // A program file replaced while it runs reads "name (deleted)".
    if (name.endsWith(QStringLiteral(" (deleted)"))) name.chop(10);
    names << name;
  }
  QFile comm(dir + QStringLiteral("comm"));
  if (comm.open(QIODevice::ReadOnly)) {
    const QString name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    if (!name.isEmpty()) names << name;
  }
  QFile cmdline(dir + QStringLiteral("cmdline"));
  if (cmdline.open(QIODevice::ReadOnly)) {
    const QByteArray all = cmdline.readAll();
    const int zero = all.indexOf('\0');
    const QByteArray first = all.left(zero < 0 ? all.size() : zero);
    if (!first.isEmpty()) names << FilePart(QString::fromLocal8Bit(first));
  }
  return names;
}

int BytesWaiting(int fd) {
  if (fd < 0) return 0;
  int count = 0;
  if (::ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count > 0 ? count : 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace Platform
