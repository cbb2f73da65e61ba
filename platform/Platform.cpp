#include "Platform.h"

#include <QCoreApplication>
#include <QObject>

#include <clocale>
#include <cstdlib>
#include <cstring>

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
