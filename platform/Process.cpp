#include "Process.h"

#include <QList>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Platform {

namespace {

// Children started by SpawnProcess that have not been collected yet.
std::set<pid_t>& LiveChildren() {
  static std::set<pid_t> children;
  return children;
}

// Collects one child if it has ended; true when it has (or is not ours).
bool TryReap(pid_t pid) {
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r == 0) return false;
    if (errno == EINTR) continue;
    // ECHILD: somebody else collected it, or it was never ours.
    return true;
  }
}

}  // namespace

pid_t SpawnProcess(const QStringList& argv, int stdinFd, int stdoutFd, int stderrFd) {
  ReapChildren();
  const pid_t pid = SpawnUnlisted(argv, stdinFd, stdoutFd, stderrFd);
  if (pid > 0) LiveChildren().insert(pid);
  return pid;
}

pid_t SpawnUnlisted(const QStringList& argv, int stdinFd, int stdoutFd, int stderrFd) {
  if (argv.isEmpty() || argv.first().isEmpty()) return -1;

  QList<QByteArray> encoded;
  encoded.reserve(argv.size());
  for (const QString& arg : argv) encoded << arg.toUtf8();
  std::vector<char*> args;
  args.reserve(encoded.size() + 1);
  for (QByteArray& arg : encoded) args.push_back(arg.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int fds[3] = {stdinFd, stdoutFd, stderrFd};
  for (int target = 0; target < 3; ++target) {
    if (fds[target] >= 0) {
      posix_spawn_file_actions_adddup2(&actions, fds[target], target);
    } else {
      posix_spawn_file_actions_addopen(&actions, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Nothing of ours but the three standard handles reaches the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t empty;
  sigemptyset(&empty);
  posix_spawnattr_setsigmask(&attr, &empty);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const bool hasSlash = argv.first().contains(QLatin1Char('/'));
  const int rc = hasSlash ? posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ)
                          : posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    // glibc reports a failed exec here, after having collected the child.
    return -1;
  }
  return pid;
}

void ReapChildren() {
  std::set<pid_t>& children = LiveChildren();
  for (auto it = children.begin(); it != children.end();) {
    if (TryReap(*it)) {
      it = children.erase(it);
    } else {
      ++it;
    }
  }
}

bool ChildHasEnded(pid_t pid) {
  if (pid <= 0) return true;
  std::set<pid_t>& children = LiveChildren();
  auto it = children.find(pid);
  if (it == children.end()) return true;
  if (!TryReap(pid)) return false;
  children.erase(it);
  return true;
}

int BytesWaiting(int fd) {
  if (fd < 0) return 0;
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count > 0 ? count : 0;
}

bool WriteToPipe(int fd, const QByteArray& data) {
  if (fd < 0 || data.isEmpty()) return false;
  // Block SIGPIPE for this thread while writing; a pipe whose reader is gone
  // then only reports EPIPE, and the signal it left pending is taken back.
  sigset_t pipeSet, oldSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
  sigset_t pendingBefore;
  sigpending(&pendingBefore);
  const bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;

  const int oldFlags = fcntl(fd, F_GETFL);
  if (oldFlags >= 0 && !(oldFlags & O_NONBLOCK)) fcntl(fd, F_SETFL, oldFlags | O_NONBLOCK);
  ssize_t written;
  do {
    written = ::write(fd, data.constData(), static_cast<size_t>(data.size()));
  } while (written < 0 && errno == EINTR);
  const int writeErrno = errno;
  if (oldFlags >= 0 && !(oldFlags & O_NONBLOCK)) fcntl(fd, F_SETFL, oldFlags);

  if (written < 0 && writeErrno == EPIPE && !wasPending) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  return written > 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace Platform
