#pragma once
// Checks on this test's child processes through /proc.
#include <QDir>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace ProcessCheck {

// Children of this process as (pid, state letter) pairs.
inline QList<QPair<long long, char>> Children() {
  QList<QPair<long long, char>> children;
  const QByteArray self = QByteArray::number(static_cast<long long>(getpid()));
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool isPid = false;
    const long long pid = entry.toLongLong(&isPid);
    if (!isPid) continue;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0) continue;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() > 1 && fields[1] == self) children.append({pid, fields[0].at(0)});
  }
  return children;
}

// Zombie children of this process: ended, never reaped.
inline int Zombies() {
  int count = 0;
  for (const auto& child : Children()) count += child.second == 'Z';
  return count;
}

// Whether a child of ours with this pid still exists (running or a zombie).
inline bool IsChild(long long pid) {
  for (const auto& child : Children()) {
    if (child.first == pid) return true;
  }
  return false;
}

inline int OpenFdCount() {
  return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

}  // namespace ProcessCheck
