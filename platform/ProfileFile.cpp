#include "ProfileFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// Blanks as the profile functions see them (never the ideographic space, which
// may well end a folder name).
bool IsBlank(QChar c) {
  return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
         c == QLatin1Char('\n') || c == QLatin1Char('\v') || c == QLatin1Char('\f');
}
bool IsBlankByte(char c) { return IsBlank(QLatin1Char(c)); }

QString Trim(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.mid(begin, end - begin);
}

QString TrimRight(const QString& text) {
  qsizetype end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.left(end);
}

bool IsQuote(QChar c) { return c == QLatin1Char('"') || c == QLatin1Char('\''); }

QString Unquote(const QString& value) {
  if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
    return value.mid(1, value.size() - 2);
  }
  return value;
}

QString Limit(const QString& text) {
  if (text.size() <= kProfileValueMax) return text;
  QString cut = text.left(kProfileValueMax);
  // Never leave half of a surrogate pair behind.
  if (cut.back().isHighSurrogate()) cut.chop(1);
  return cut;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// One line of the file. Offsets are into the whole text when the line comes
// from ParseLines, relative to the line itself when it comes from ParseLine.
struct Line {
  enum Kind { Blank, Comment, Section, Key, Other };
  Kind kind = Other;
  qsizetype begin = 0;       // first byte
  qsizetype contentEnd = 0;  // end of the text, before the line break
  qsizetype next = 0;        // first byte of the next line
  qsizetype equals = -1;     // position of '=' in a key line, -1 when it has none
  QString name;              // section or key name, blanks removed
  QString value;             // a key's value as read (blanks and quotes removed)
};

// Classifies the text of one line (without its '\n'; a '\r' before it is
// ignored). The value of a key line is decoded only when wantValue is set.
Line ParseLine(QByteArrayView raw, bool wantValue = true) {
  Line line;
  if (raw.endsWith('\r')) raw.chop(1);
  line.contentEnd = raw.size();
  line.next = raw.size();
  const QString text = Trim(QString::fromUtf8(raw));
  if (text.isEmpty()) {
    line.kind = Line::Blank;
  } else if (text.front() == QLatin1Char(';')) {
    line.kind = Line::Comment;
  } else if (text.front() == QLatin1Char('[')) {
    const qsizetype close = text.lastIndexOf(QLatin1Char(']'));
    if (close > 0) {
      line.kind = Line::Section;
      line.name = Trim(text.mid(1, close - 1));
    }
  } else {
    line.kind = Line::Key;
    const qsizetype eq = raw.indexOf('=');
    if (eq >= 0) {
      line.equals = eq;
      line.name = Trim(QString::fromUtf8(raw.first(eq)));
      if (wantValue) line.value = Unquote(Trim(QString::fromUtf8(raw.sliced(eq + 1))));
    } else {
      line.name = text;
    }
  }
  return line;
}

QList<Line> ParseLines(const QByteArray& data) {
  QList<Line> lines;
  qsizetype pos = data.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
  while (pos < data.size()) {
    const qsizetype nl = data.indexOf('\n', pos);
    const qsizetype end = nl < 0 ? data.size() : nl;
    Line line = ParseLine(QByteArrayView(data).sliced(pos, end - pos));
    line.begin = pos;
    line.contentEnd += pos;
    if (line.equals >= 0) line.equals += pos;
    line.next = nl < 0 ? data.size() : nl + 1;
    pos = line.next;
    lines.append(line);
  }
  return lines;
}

// Where a key sits: the first section of that name, the first key of that name
// in it, and the last key line of the section (-1 for each one not found).
struct Place {
  qsizetype section = -1;
  qsizetype key = -1;
  qsizetype lastKey = -1;
};

Place Locate(const QList<Line>& lines, const QString& section, const QString& key) {
  Place place;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Section) {
      if (place.section >= 0) break;  // the end of the section that matched
      if (SameName(line.name, section)) place.section = i;
      continue;
    }
    if (place.section < 0 || line.kind != Line::Key) continue;
    place.lastKey = i;
    if (place.key < 0 && SameName(line.name, key)) place.key = i;
  }
  return place;
}

bool HasLineBreak(const QString& text) {
  return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// The value as it must be written so that a read gives it back unchanged.
QString EncodeValue(const QString& value) {
  if (value.isEmpty()) return value;
  const bool blankAround = IsBlank(value.front()) || IsBlank(value.back());
  const bool quotedAround = Unquote(value) != value;
  if (blankAround || quotedAround) return QLatin1Char('"') + value + QLatin1Char('"');
  return value;
}

QByteArray LineBreakOf(const QByteArray& data) {
  const qsizetype nl = data.indexOf('\n');
  if (nl > 0 && data[nl - 1] == '\r') return QByteArrayLiteral("\r\n");
  return QByteArrayLiteral("\n");
}

// A file descriptor that is closed when it goes out of scope (unless Close()
// already did, and reported how that went).
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Opens path when it is a regular file and not a link (the callers open the
// file a link leads to by its own name). Opening never blocks: a named pipe in
// the file's place is refused, as is any other kind of file. st receives the
// file's status.
Fd OpenRegular(const QByteArray& path, int flags, struct stat* st) {
  Fd fd(::open(path.constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!fd.valid()) return fd;
  if (::fstat(fd.get(), st) != 0 || !S_ISREG(st->st_mode)) return Fd();
  return fd;
}

QStringList g_systemFolders;

// The user and group whose rights this process's file accesses have: the
// effective ones, unless the file-system ids were set apart from them. An
// invalid id changes nothing and gives the current one back.
uid_t FileUser() { return uid_t(::setfsuid(uid_t(-1))); }
gid_t FileGroup() { return gid_t(::setfsgid(gid_t(-1))); }

bool InMyGroups(gid_t gid) {
  if (FileGroup() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(size_t(count), 0);
  const int got = ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[size_t(i)] == gid) return true;
  }
  return false;
}

// Another user's file that its owner let this user write (by group or for
// everyone); the administrator's power to write anything does not count.
bool SharedWithMe(const struct stat& st) {
  return (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && InMyGroups(st.st_gid));
}

bool Under(const QString& path, const QString& folder) {
  if (folder == QLatin1String("/")) return true;
  return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Whether a file (its real path) lies in one of the system's folders.
bool InSystemFolder(const QString& real) {
  const QStringList folders = SystemFolders();
  // Some systems keep the home folders under /var: a user's own files there
  // are no system files.
  const QString home = QDir(QDir::homePath()).canonicalPath();
  if (!home.isEmpty() && !folders.contains(home) && home != QLatin1String("/") && Under(real, home))
    return false;
  for (const QString& folder : folders) {
    if (Under(real, folder)) return true;
  }
  return false;
}

// The folder part of a path.
QByteArray FolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return QByteArrayLiteral(".");
  return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// Whether folder is a folder that this user owns.
bool MyFolder(const QByteArray& folder) {
  struct stat st {};
  return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == FileUser();
}

// What the functions may do with a file, and which file that is.
struct Admission {
  ProfileFileState state = ProfileFileState::Missing;
  bool link = false;
  QByteArray target;  // the file read and written
  struct stat st {};  // its status, when it exists
};

Admission Admit(const QString& file) {
  Admission a;
  a.target = QFile::encodeName(file);
  if (::lstat(a.target.constData(), &a.st) != 0) {
    a.state = errno == ENOENT || errno == ENOTDIR ? ProfileFileState::Missing : ProfileFileState::Unreadable;
    return a;
  }
  if (S_ISLNK(a.st.st_mode)) {
    a.link = true;
    char* real = ::realpath(a.target.constData(), nullptr);
    if (!real) {
      a.state = ProfileFileState::BrokenLink;
      return a;
    }
    a.target = QByteArray(real);
    std::free(real);
    if (::stat(a.target.constData(), &a.st) != 0) {
      a.state = ProfileFileState::BrokenLink;
      return a;
    }
    if (InSystemFolder(QFile::decodeName(a.target))) {
      a.state = ProfileFileState::LinkIntoSystem;
      return a;
    }
  }
  if (!S_ISREG(a.st.st_mode)) {
    a.state = ProfileFileState::NotRegular;
  } else if (a.st.st_uid != FileUser() && (a.link || !SharedWithMe(a.st))) {
    // A link is followed to the user's own file only.
    a.state = ProfileFileState::OtherOwner;
  } else if (a.st.st_size > kProfileFileMax) {
    a.state = ProfileFileState::TooLarge;
  } else if ((a.st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
             ::faccessat(AT_FDCWD, a.target.constData(), W_OK, AT_EACCESS) != 0) {
    // The file's owner decides: one that nobody may write (made read-only on
    // purpose, which binds the administrator too), or that this user may not
    // write (an immutable file, a read-only file system), is never replaced.
    a.state = ProfileFileState::ReadOnly;
  } else {
    a.state = ProfileFileState::Usable;
  }
  return a;
}

bool Readable(const Admission& a) {
  return a.state == ProfileFileState::Usable || a.state == ProfileFileState::ReadOnly;
}

// Opens the admitted file for reading; nothing when it is no longer the file
// that was examined (replaced in between).
Fd OpenAdmitted(const Admission& a, struct stat* st) {
  Fd fd = OpenRegular(a.target, O_RDONLY, st);
  if (fd.valid() && (st->st_dev != a.st.st_dev || st->st_ino != a.st.st_ino)) return Fd();
  return fd;
}

// Appends up to 64 KiB read from fd to data: the count read, 0 at the end of
// the file, -1 on a read error.
ssize_t ReadMore(int fd, QByteArray* data) {
  constexpr qsizetype kChunk = 64 * 1024;
  const qsizetype old = data->size();
  data->resize(old + kChunk);
  ssize_t got;
  do {
    got = ::read(fd, data->data() + old, kChunk);
  } while (got < 0 && errno == EINTR);
  data->resize(old + qMax<ssize_t>(got, 0));
  return got;
}

// Reads a file of at most kProfileFileMax bytes line by line.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  // The next line without its '\n'; false at the end of the file, on a read
  // error and once more than kProfileFileMax bytes have come (a file that
  // grew after it was opened).
  bool Next(QByteArrayView* line) {
    for (;;) {
      const qsizetype nl = buffer_.indexOf('\n', pos_);
      if (nl >= 0) {
        *line = QByteArrayView(buffer_).sliced(pos_, nl - pos_);
        pos_ = nl + 1;
        return true;
      }
      if (eof_) {
        if (pos_ >= buffer_.size()) return false;
        *line = QByteArrayView(buffer_).sliced(pos_);
        pos_ = buffer_.size();
        return true;
      }
      Fill();
      if (failed_) return false;
    }
  }

 private:
  void Fill() {
    buffer_.remove(0, pos_);
    pos_ = 0;
    const ssize_t got = ReadMore(fd_, &buffer_);
    if (got < 0) {
      failed_ = true;
    } else if (got == 0) {
      eof_ = true;
    } else {
      total_ += got;
      if (total_ > kProfileFileMax) failed_ = true;
    }
  }

  int fd_;
  QByteArray buffer_;
  qsizetype pos_ = 0;
  qint64 total_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

// The whole file, when it holds at most kProfileFileMax bytes.
bool ReadAll(int fd, QByteArray* data) {
  data->clear();
  for (;;) {
    const ssize_t got = ReadMore(fd, data);
    if (got < 0 || data->size() > kProfileFileMax) return false;
    if (got == 0) return true;
  }
}

bool WriteAll(int fd, const QByteArray& data, off_t offset) {
  const char* p = data.constData();
  qsizetype left = data.size();
  while (left > 0) {
    const ssize_t done = ::pwrite(fd, p, size_t(left), offset);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (done == 0) return false;
    p += done;
    left -= done;
    offset += done;
  }
  return true;
}

// A file system that cannot sync a file (some special ones) is no failure.
bool Sync(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP; }

// Writes data into a new file beside target and renames it over target. Sets
// *folderRefused when the folder takes no new file.
bool WriteReplacing(const QByteArray& target, const QByteArray& data, const struct stat* old,
                    bool* folderRefused) {
  *folderRefused = false;
  QByteArray temp;
  Fd fd;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temp =
        target + '.' + QByteArray::number(QRandomGenerator::global()->generate() % 0x1000000u, 16) + ".tmp";
    // A new file gets the usual permissions (the umask applies); a replaced
    // one keeps its own.
    fd = Fd(::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
    if (!fd.valid() && errno != EEXIST) {
      *folderRefused = errno == EACCES || errno == EPERM;
      return false;
    }
  }
  if (!fd.valid()) return false;
  bool ok = true;
  if (old && ::fchmod(fd.get(), old->st_mode & 07777) != 0) ok = false;
  ok = ok && WriteAll(fd.get(), data, 0) && Sync(fd.get());
  ok = fd.Close() && ok;
  ok = ok && ::rename(temp.constData(), target.constData()) == 0;
  if (!ok) ::unlink(temp.constData());
  return ok;
}

// Writes data over the existing file target, whose contents are previous.
// The space is reserved before the first byte changes, so a full disk refuses
// the write up front; when a later step fails, the previous contents are put
// back.
bool WriteInPlace(const QByteArray& target, const struct stat& examined, const QByteArray& previous,
                  const QByteArray& data) {
  struct stat st {};
  Fd fd = OpenRegular(target, O_WRONLY, &st);
  if (!fd.valid() || st.st_dev != examined.st_dev || st.st_ino != examined.st_ino) return false;
  if (data.size() > previous.size()) {
    const int reserved = ::posix_fallocate(fd.get(), 0, off_t(data.size()));
    if (reserved != 0) {
      // A reservation that failed half way may have made the file longer.
      (void)::ftruncate(fd.get(), off_t(previous.size()));
      return false;
    }
  }
  bool ok = WriteAll(fd.get(), data, 0) && ::ftruncate(fd.get(), off_t(data.size())) == 0 && Sync(fd.get());
  if (!ok) {
    WriteAll(fd.get(), previous, 0);
    if (::ftruncate(fd.get(), off_t(previous.size())) == 0) Sync(fd.get());
  }
  return fd.Close() && ok;
}

// Whether data is the text of a profile file (see CheckProfileFile).
bool LooksLikeProfileText(const QByteArray& data) {
  for (const char c : data) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && !IsBlankByte(c)) || u == 0x7f) return false;
  }
  bool inSection = false;
  for (const Line& line : ParseLines(data)) {
    if (line.kind == Line::Other) return false;  // "[name" cut off before its ']'
    inSection = inSection || line.kind == Line::Section;
    // A word on a line of its own is a key without a value inside a section;
    // before any section it is no part of a profile file.
    if (!inSection && line.kind == Line::Key && line.equals < 0 && !line.name.startsWith(QLatin1Char('#')))
      return false;
  }
  return true;
}

}  // namespace

QStringList SystemFolders() {
  if (!g_systemFolders.isEmpty()) return g_systemFolders;
  return {QStringLiteral("/bin"),   QStringLiteral("/boot"),   QStringLiteral("/dev"),
          QStringLiteral("/etc"),   QStringLiteral("/lib"),    QStringLiteral("/lib32"),
          QStringLiteral("/lib64"), QStringLiteral("/libx32"), QStringLiteral("/proc"),
          QStringLiteral("/run"),   QStringLiteral("/sbin"),   QStringLiteral("/srv"),
          QStringLiteral("/sys"),   QStringLiteral("/usr"),    QStringLiteral("/var")};
}

void SetSystemFoldersForTests(const QStringList& folders) { g_systemFolders = folders; }

bool SharedWithThisUser(const QString& file) {
  struct stat st {};
  return ::stat(QFile::encodeName(file).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
         st.st_uid != FileUser() && SharedWithMe(st);
}

QString SetProfileFileAside(const QString& file) {
  const QByteArray path = QFile::encodeName(file);
  if (!MyFolder(FolderOf(path))) return QString();
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString aside = file + QStringLiteral(".broken-") + stamp;
  for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
    aside = file + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
  if (::rename(path.constData(), QFile::encodeName(aside).constData()) != 0) return QString();
  return aside;
}

ProfileFileCheck CheckProfileFile(const QString& file) {
  const Admission a = Admit(file);
  ProfileFileCheck check;
  check.state = a.state;
  check.link = a.link;
  check.target = QFile::decodeName(a.target);
  if (!Readable(a)) return check;
  struct stat st {};
  Fd fd = OpenAdmitted(a, &st);
  QByteArray data;
  if (!fd.valid() || !ReadAll(fd.get(), &data)) {
    check.state = data.size() > kProfileFileMax ? ProfileFileState::TooLarge : ProfileFileState::Unreadable;
  } else if (!LooksLikeProfileText(data)) {
    check.state = ProfileFileState::Damaged;
  }
  return check;
}

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& file) {
  const QString fallback = Limit(TrimRight(defaultValue));
  const Admission admitted = Admit(file);
  if (!Readable(admitted)) return fallback;
  struct stat st {};
  Fd fd = OpenAdmitted(admitted, &st);
  if (!fd.valid() || st.st_size > kProfileFileMax) return fallback;

  const QString sectionName = Trim(section);
  const QString keyName = Trim(key);
  LineReader reader(fd.get());
  QByteArrayView raw;
  bool inSection = false;
  bool first = true;
  while (reader.Next(&raw)) {
    if (first && raw.startsWith(kUtf8Bom)) raw = raw.sliced(kUtf8Bom.size());
    first = false;
    const Line line = ParseLine(raw, /*wantValue=*/false);
    if (line.kind == Line::Section) {
      // Only the first section of the name counts: its end ends the search.
      if (inSection) break;
      inSection = SameName(line.name, sectionName);
    } else if (inSection && line.kind == Line::Key && SameName(line.name, keyName)) {
      return Limit(ParseLine(raw).value);
    }
  }
  return fallback;
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file) {
  const QString sectionName = Trim(section);
  const QString keyName = Trim(key);
  if (sectionName.isEmpty() || keyName.isEmpty()) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (sectionName.contains(QLatin1Char(']'))) return false;
  if (keyName.contains(QLatin1Char('=')) || keyName.front() == QLatin1Char(';') ||
      keyName.front() == QLatin1Char('[')) {
    return false;
  }
  // A longer value would be stored in full and read back cut.
  if (value.size() > kProfileValueMax) return false;

  // A link is followed only to a file of the user's own: that file gets the
  // new contents.
  const Admission admitted = Admit(file);
  if (admitted.state != ProfileFileState::Usable && admitted.state != ProfileFileState::Missing) return false;
  const QByteArray& target = admitted.target;
  const bool existed = admitted.state == ProfileFileState::Usable;
  // Temporaries are made only in a folder of the user's, and a new file only there.
  const bool ownFolder = MyFolder(FolderOf(target));
  if (!existed && !ownFolder) return false;
  QByteArray data;
  struct stat old {};
  if (existed) {
    // Without the old contents every other line would be lost.
    Fd fd = OpenAdmitted(admitted, &old);
    if (!fd.valid() || old.st_size > kProfileFileMax || !ReadAll(fd.get(), &data)) return false;
  }
  const QByteArray previous = data;

  const QList<Line> lines = ParseLines(data);
  const Place place = Locate(lines, sectionName, keyName);
  const QByteArray eol = LineBreakOf(data);
  const QByteArray encoded = EncodeValue(value).toUtf8();

  if (place.key >= 0) {
    const Line& line = lines[place.key];
    QByteArray prefix;
    if (line.equals >= 0) {
      // Keep the key as written and the blanks around '='.
      qsizetype valueStart = line.equals + 1;
      while (valueStart < line.contentEnd && IsBlankByte(data[valueStart])) ++valueStart;
      prefix = data.mid(line.begin, valueStart - line.begin);
    } else {
      qsizetype end = line.contentEnd;
      while (end > line.begin && IsBlankByte(data[end - 1])) --end;
      prefix = data.mid(line.begin, end - line.begin) + '=';
    }
    data.replace(line.begin, line.contentEnd - line.begin, prefix + encoded);
  } else {
    const QByteArray entry = keyName.toUtf8() + '=' + encoded;
    if (place.section >= 0) {
      const Line& after = lines[place.lastKey >= 0 ? place.lastKey : place.section];
      if (after.next == data.size() && !data.endsWith('\n')) {
        // The last line of the file, without a line break of its own.
        data.insert(after.next, eol + entry);
      } else {
        data.insert(after.next, entry + eol);
      }
    } else {
      if (!data.isEmpty() && data != kUtf8Bom && !data.endsWith('\n')) data += eol;
      data += '[' + sectionName.toUtf8() + ']' + eol + entry + eol;
    }
  }

  if (data.size() > kProfileFileMax) return false;

  bool folderRefused = !ownFolder;
  if (ownFolder && WriteReplacing(target, data, existed ? &old : nullptr, &folderRefused)) return true;
  // A writable file in a folder that is not the user's, or that takes no new
  // files (an installation folder with a settings file made writable for its
  // users), is written in place rather than refused.
  if (folderRefused && existed) return WriteInPlace(target, old, previous, data);
  return false;
}

}  // namespace Platform
