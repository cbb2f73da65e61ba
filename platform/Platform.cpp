#include "Platform.h"

#include <QCoreApplication>
#include <QObject>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace Platform {

namespace {
QString& ExeDirOverride() {
  static QString dir;
  return dir;
}

QObject* FindIn(QObject* parent, const QString& name) {
  for (QObject* child : parent->children()) {
    if (child->objectName().compare(name, Qt::CaseInsensitive) == 0) return child;
    if (QObject* found = FindIn(child, name)) return found;
  }
  return nullptr;
}
}  // namespace

QString ExeDir() {
  QString dir = ExeDirOverride();
  if (dir.isEmpty()) dir = QCoreApplication::applicationDirPath();
  if (!dir.endsWith(QLatin1Char(kPathSep))) dir += QLatin1Char(kPathSep);
  return dir;
}

void SetExeDir(const QString& dir) { ExeDirOverride() = dir; }

QString ExePath(const QString& fileName) { return ExeDir() + fileName; }

QString AppTitle() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("Vidmora") : name;
}

int UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return int(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
}

qint64 AvailableMemory() {
  // One small read of a file the kernel makes: "MemAvailable:   123456 kB".
  const int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[4096];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return -1;
  text[n] = '\0';
  const char* at = std::strstr(text, "MemAvailable:");
  if (!at) return -1;
  char* end = nullptr;
  const long long kb = std::strtoll(at + std::strlen("MemAvailable:"), &end, 10);
  return end && kb >= 0 ? kb * 1024 : -1;
}

void EnsureUtf8Locale() {
  const char* current = std::setlocale(LC_CTYPE, "");
  auto isUtf8 = [](const char* loc) {
    if (!loc) return false;
    return strcasestr(loc, "UTF-8") != nullptr || strcasestr(loc, "utf8") != nullptr;
  };
  if (isUtf8(current)) return;
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
  // Child processes and Qt's own locale detection see the same choice.
  setenv("LC_CTYPE", "C.UTF-8", 1);
  unsetenv("LC_ALL");
}

QObject* FindComponent(QObject* root, const QString& name) { return root ? FindIn(root, name) : nullptr; }

}  // namespace Platform
