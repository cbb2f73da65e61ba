#pragma once
// File names as the file system holds them: bytes, which need not be UTF-8 (names from zips
// made on Chinese Windows are GBK). Qt turns such bytes into U+FFFD one way only, and skips
// such files in folder listings, so the program holds a path as a QString that keeps every
// byte: valid UTF-8 as its text, each other byte as one lone surrogate U+DC80..U+DCFF. Every
// place a path leaves the program (an open, a stat, a folder listing, a child's argument)
// turns it back into its bytes with NativePath; what the user sees is ShownPath.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace Platform {

// The path as the program holds it, from the file system's bytes (exact both ways).
QString PathFromNative(const QByteArray& bytes);
// The file system's bytes of a path held by the program.
QByteArray NativePath(const QString& path);
// Whether a path holds bytes that are not UTF-8.
bool HasForeignBytes(const QString& path);
// The path as shown, on one line: each name that is not UTF-8 read as GB18030 (the usual
// case, Chinese Windows' code page) where its bytes are that, else with U+FFFD for the bytes
// that are not text; a line break or other control character as a blank.
QString ShownPath(const QString& path);

// What is at a path, following links: a folder, a regular file, something else, or nothing.
enum class TPathKind { kMissing, kFolder, kFile, kOther };
TPathKind PathKind(const QString& path);
// The size in bytes of what is at a path (links followed); -1 when there is nothing.
qint64 FileSize(const QString& path);

// The names of the regular files directly inside folder (links followed), as the program
// holds them, hidden ones left out, in name order.
QStringList FilesInFolder(const QString& folder);

// A folder's entries as the program holds them, hidden ones left out, in name
// order: the regular files (links followed) and the folders (never through a
// link: a link to a folder may lead out of it, or back up into it). *id, when
// given, is the folder's device and inode (so that a walk sees each folder
// once); false when the folder cannot be read.
struct TFolderId {
  quint64 device = 0, inode = 0;
  bool operator==(const TFolderId& o) const { return device == o.device && inode == o.inode; }
};
bool FolderEntries(const QString& folder, QStringList* files, QStringList* folders, TFolderId* id = nullptr);

// Calls each(folderFd, name) for every entry of folder, "." and ".." too, while the folder is
// open (for fstatat, openat, unlinkat on folderFd: no path is looked up again). *id, when
// given, is the folder's device and inode. False when the folder cannot be opened.
bool EachEntry(const QString& folder, const std::function<void(int folderFd, const char* name)>& each,
               TFolderId* id = nullptr);

}  // namespace Platform
