#include "FileNames.h"

#include <QStringDecoder>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

namespace Platform {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // a byte b >= 0x80 that is not UTF-8 is U+DC00 + b

bool IsEscape(char16_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

// The length of the valid UTF-8 sequence at p (at most n bytes there), 0 when none starts there.
int Utf8Length(const unsigned char* p, qsizetype n) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  int length = 0;
  unsigned lowest = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    lowest = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    lowest = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (n < length) return 0;
  unsigned code = c & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  // No overlong forms, no surrogates, nothing beyond Unicode.
  if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

// Control characters (a line break in a name) as blanks, so a name stays on its line.
QString OneLine(QString text) {
  for (QChar& c : text)
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  return text;
}

}  // namespace

QString PathFromNative(const QByteArray& bytes) {
  QString path;
  path.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  for (qsizetype i = 0; i < n;) {
    const int length = Utf8Length(p + i, n - i);
    if (length == 0) {
      path += QChar(char16_t(kEscapeBase + p[i]));
      ++i;
      continue;
    }
    path += QString::fromUtf8(reinterpret_cast<const char*>(p + i), length);
    i += length;
  }
  return path;
}

QByteArray NativePath(const QString& path) {
  QByteArray bytes;
  bytes.reserve(path.size());
  qsizetype start = 0;  // of the text not yet converted
  for (qsizetype i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsEscape(path[i].unicode())) continue;
    bytes += QStringView(path).mid(start, i - start).toUtf8();
    if (i < path.size()) bytes += char(path[i].unicode() - kEscapeBase);
    start = i + 1;
  }
  return bytes;
}

bool HasForeignBytes(const QString& path) {
  return std::any_of(path.begin(), path.end(), [](QChar c) { return IsEscape(c.unicode()); });
}

QString ShownPath(const QString& path) {
  if (!HasForeignBytes(path)) return OneLine(path);
  QStringList shown;
  for (const QString& name : path.split(QLatin1Char('/'))) {
    if (!HasForeignBytes(name)) {
      shown << name;
      continue;
    }
    const QByteArray bytes = NativePath(name);
    QStringDecoder gb18030("GB18030", QStringConverter::Flag::Stateless);
    const QString text = gb18030.isValid() ? gb18030.decode(bytes) : QString();
    shown << (gb18030.isValid() && !gb18030.hasError() ? text : QString::fromUtf8(bytes));
  }
  return OneLine(shown.join(QLatin1Char('/')));
}

qint64 FileSize(const QString& path) {
  struct stat st;
  return ::stat(NativePath(path).constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

TPathKind PathKind(const QString& path) {
  struct stat st;
  if (::stat(NativePath(path).constData(), &st) != 0) return TPathKind::kMissing;
  if (S_ISDIR(st.st_mode)) return TPathKind::kFolder;
  return S_ISREG(st.st_mode) ? TPathKind::kFile : TPathKind::kOther;
}

bool EachEntry(const QString& folder, const std::function<void(int folderFd, const char* name)>& each,
               TFolderId* id) {
  const int fd = ::open(NativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat own;
  if (id && ::fstat(fd, &own) == 0) *id = TFolderId{quint64(own.st_dev), quint64(own.st_ino)};
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) each(fd, entry->d_name);
  ::closedir(dir);
  return true;
}

bool FolderEntries(const QString& folder, QStringList* files, QStringList* folders, TFolderId* id) {
  const bool read = EachEntry(
      folder,
      [&](int fd, const char* entry) {
        const QByteArray name(entry);
        if (name.startsWith('.')) return;
        struct stat st;
        if (::fstatat(fd, entry, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (S_ISDIR(st.st_mode)) {
          if (folders) *folders << PathFromNative(name);
        } else if (files && ::fstatat(fd, entry, &st, 0) == 0 && S_ISREG(st.st_mode)) {
          *files << PathFromNative(name);
        }
      },
      id);
  if (!read) return false;
  if (files) std::sort(files->begin(), files->end());
  if (folders) std::sort(folders->begin(), folders->end());
  return true;
}

QStringList FilesInFolder(const QString& folder) {
  QStringList names;
  FolderEntries(folder, &names, nullptr);
  return names;
}

}  // namespace Platform
