#include "ProcessList.h"

#include "CommandLine.h"
#include "Process.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Platform {

namespace {

// Processes started by StartDetached and not reaped yet. Since we are their
// parent and have not reaped them, none of these ids can have been reused by
// another process.
QList<long long>& Started() {
  static QList<long long> list;
  return list;
}

// True when the child has ended and was reaped now (or is gone already).
bool ReapOne(long long pid) {
  int status = 0;
  const pid_t r = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
  if (r == static_cast<pid_t>(pid)) return true;
  if (r < 0 && errno == ECHILD) return true;  // reaped elsewhere
  return false;
}

QString FilePart(const QString& path) {
  const int slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? path : path.mid(slash + 1);
}

// ASCII-only upper-case folding: "a" to "z" and nothing else.
QString AsciiUpper(const QString& text) {
  QString out = text;
  for (QChar& c : out) {
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  }
  return out;
}

}  // namespace

long long StartDetached(const QString& commandLine) {
  ReapStarted();
  const QStringList args = SplitCommandLine(commandLine);
  if (args.isEmpty()) return -1;

  // Standard handles on /dev/null; nothing else of ours (the encoder's pipes,
  // the display connection) reaches the player.
  const pid_t pid = SpawnUnlisted(args, -1, -1, -1);
  if (pid <= 0) return -1;
  Started().append(pid);
  return pid;
}

void ReapStarted() {
  QList<long long>& list = Started();
  for (int i = list.size() - 1; i >= 0; --i) {
    if (ReapOne(list[i])) list.removeAt(i);
  }
}

QList<long long> StartedProcesses() {
  ReapStarted();
  return Started();
}

QStringList ProcessFileNames(long long pid) {
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
    const QByteArray first = all.left(all.indexOf('\0') < 0 ? all.size() : all.indexOf('\0'));
    if (!first.isEmpty()) names << FilePart(QString::fromLocal8Bit(first));
  }
  return names;
}

int EndStartedByName(const QString& name) {
  ReapStarted();
  const QString wanted = AsciiUpper(name);
  QList<long long> ending;
  for (long long pid : Started()) {
    const QStringList names = ProcessFileNames(pid);
    for (const QString& candidate : names) {
      if (AsciiUpper(candidate) == wanted) {
        ending << pid;
        break;
      }
    }
  }
  for (long long pid : ending) ::kill(static_cast<pid_t>(pid), SIGTERM);

  // A player takes a moment to let go of its window and its sound device.
  QList<long long> left = ending;
  QElapsedTimer clock;
  clock.start();
  while (!left.isEmpty() && clock.elapsed() < 1000) {
    for (int i = left.size() - 1; i >= 0; --i) {
      if (ReapOne(left[i])) left.removeAt(i);
    }
    if (!left.isEmpty()) QThread::msleep(10);
  }
  for (long long pid : left) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    int status = 0;
    while (::waitpid(static_cast<pid_t>(pid), &status, 0) < 0 && errno == EINTR) {
    }
  }
  QList<long long>& list = Started();
  for (long long pid : ending) list.removeAll(pid);
  return ending.size();
}

}  // namespace Platform
