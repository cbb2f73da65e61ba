#include "OutputNames.h"

#include "encoder/OutputNaming.h"
#include "encoder/TempName.h"
#include "platform/ChildProcess.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace {

QString Clean(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

bool Lstat(const QString& path, struct stat* st) {
  return ::lstat(Platform::NativePath(path).constData(), st) == 0;
}

// What the names of one run must stay clear of.
class TNames {
 public:
  explicit TNames(const QStringList& sources) {
    for (const QString& s : sources) {
      sourcePaths_.insert(Clean(s));
      struct stat st;
      // A link among the sources protects the file it leads to.
      if (::stat(Platform::NativePath(s).constData(), &st) == 0) sourceFiles_.insert({st.st_dev, st.st_ino});
    }
  }
  bool IsSource(const QString& path) const {
    if (sourcePaths_.contains(Clean(path))) return true;
    struct stat st;
    return ::stat(Platform::NativePath(path).constData(), &st) == 0 &&
           sourceFiles_.contains({st.st_dev, st.st_ino});
  }
  // Names already given to this run. Compared without regard to case, so that
  // a folder on a file system that ignores case cannot fold two into one.
  bool InRun(const QString& path) const { return inRun_.contains(Clean(path).toCaseFolded()); }
  void Reserve(const QString& path) { inRun_.insert(Clean(path).toCaseFolded()); }
  // Something that may be replaced: a file or a link, not a folder or a device.
  static bool Replaceable(const QString& path) {
    struct stat st;
    return Lstat(path, &st) && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
  }
  // Taken whatever the user answers.
  bool Held(const QString& path) const {
    return IsSource(path) || InRun(path) || (PathInUse(path) && !Replaceable(path));
  }
  bool Taken(const QString& path) const { return Held(path) || PathInUse(path); }

 private:
  QSet<QString> sourcePaths_;
  QSet<std::pair<dev_t, ino_t>> sourceFiles_;
  QSet<QString> inRun_;
};

}  // namespace

bool PathInUse(const QString& path) {
  struct stat st;
  return Lstat(path, &st);
}

QString OutputBaseName(const QString& baseName) {
  QString name = baseName;
  for (QChar& c : name)
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      c = QLatin1Char(' ');
  return name;
}

QString OutputSubFolder(const QString& subFolder) {
  QStringList parts;
  for (const QString& part : subFolder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    if (part == QLatin1String(".") || part == QLatin1String("..")) continue;
    // Named as the output's own name is: a folder's name that is not UTF-8 read as
    // the user sees it, never with bytes the folder cannot be made of.
    parts << OutputBaseName(Platform::ShownPath(part));
  }
  return parts.join(QLatin1Char('/'));
}

QString NextFreeName(const QString& path, const std::function<bool(const QString&)>& taken) {
  // The encoder's rule, on the name's bytes: both sides number a name alike.
  const auto named = [](const std::string& native) {
    return Platform::PathFromNative(QByteArray::fromStdString(native));
  };
  return named(vidmora::naming::NextFreeName(Platform::NativePath(path).toStdString(),
                                             [&](const std::string& name) { return taken(named(name)); }));
}

QVector<TOutputPlan> PlanOutputs(const QStringList& wanted, const QStringList& sources, bool replaceExisting,
                                 const QStringList& reserved) {
  TNames names(sources);
  for (const QString& name : reserved)
    if (!name.isEmpty()) names.Reserve(name);
  QVector<TOutputPlan> plan;
  plan.reserve(wanted.size());
  const auto held = [&names](const QString& p) { return names.Held(p); };
  const auto taken = [&names](const QString& p) { return names.Taken(p); };
  for (const QString& own : wanted) {
    TOutputPlan row;
    if (!replaceExisting) {
      row.output = taken(own) ? NextFreeName(own, taken) : own;
      names.Reserve(row.output);
    } else {
      // The name this row ends up with: clear of sources, folders and the
      // earlier rows, but an existing file may stand there.
      const QString target = held(own) ? NextFreeName(own, held) : own;
      names.Reserve(target);
      if (PathInUse(target)) {
        row.output = NextFreeName(own, taken);
        row.replaces = target;
        names.Reserve(row.output);
      } else {
        row.output = target;
      }
    }
    plan << row;
  }
  return plan;
}

int CountReplaced(const QVector<TOutputPlan>& plan) {
  int n = 0;
  for (const TOutputPlan& row : plan) n += row.replaces.isEmpty() ? 0 : 1;
  return n;
}

bool IsEncoderTempName(const QByteArray& fileName, long* pid) {
  long id = 0;
  if (!vidmora::tempname::Parse(fileName.toStdString(), &id)) return false;
  if (pid) *pid = id;
  return true;
}

namespace {

// Whether an encoder runs under this process id (a process that took the id
// since is no encoder).
bool EncoderRuns(long pid) {
  if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return false;
  return Platform::TChildProcess::ProcessFileNames(static_cast<pid_t>(pid))
      .contains(QString::fromLatin1(Platform::kEncoderFile));
}

}  // namespace

QStringList RemoveStaleTemps(const QString& folder) {
  QStringList removed;
  Platform::EachEntry(folder, [&](int dirFd, const char* entry) {
    const QByteArray name(entry);
    long pid = 0;
    if (!IsEncoderTempName(name, &pid) || EncoderRuns(pid)) return;
    struct stat st;
    // Plain files of this user only, never what a link leads to.
    if (::fstatat(dirFd, entry, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return;
    // The lock an encoder holds on its temporary for its whole life.
    const int fd = ::openat(dirFd, entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat opened;
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
    if (same && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(dirFd, entry, 0) == 0)
      removed << Platform::PathFromNative(name);
    ::close(fd);
  });
  return removed;
}
