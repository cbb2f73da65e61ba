#pragma once
// Profile files: INI text read and written one value at a time.
//
// A file is a sequence of lines. "[name]" starts a section; "key=value" lines
// inside a section give its values; lines starting with ';' are comments.
// Section and key names match without regard to letter case; the first
// matching section and, within it, the first matching key count.
// Nothing is kept open between calls, and only regular files are opened (a
// named pipe or a device in the file's place is never read from or written to).
//
// A file is read and written only when it is this user's: a regular file the
// user owns (or one another user shared by giving this user's group or
// everyone write permission), or a link to a regular file the user owns that
// lies outside the system's folders. A link that leads anywhere else is left
// as it is and reads as no file; nothing is written through it.
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Platform {

// The most characters a read returns.
inline constexpr int kProfileValueMax = 2047;
// The largest profile file, in bytes. A larger file reads as missing and is
// never written: a settings file of a few lines does not grow this big unless
// something else has filled it.
inline constexpr qint64 kProfileFileMax = 1024 * 1024;

// What a profile file is, as the functions below see it.
enum class ProfileFileState {
  Missing,         // nothing there (or its folder is missing): reads give the defaults
  Usable,          // read and written
  ReadOnly,        // read, never written: no write permission, immutable, or a read-only file system
  NotRegular,      // a folder, a pipe, a device or a socket
  OtherOwner,      // another user's file, not shared with this user
  BrokenLink,      // a link that leads to nothing
  LinkIntoSystem,  // a link into a system folder
  TooLarge,        // larger than kProfileFileMax
  Unreadable,      // it cannot be read (no read permission, a read error)
  Damaged,         // not the text of a profile file (see CheckProfileFile)
};

struct ProfileFileCheck {
  ProfileFileState state = ProfileFileState::Missing;
  bool link = false;  // the file's own name is a link
  QString target;     // the file that is read and written: where the link leads, or the file itself
};

// Examines file as the reads and writes below would, and reads it whole (it
// is at most kProfileFileMax bytes) to tell whether it is the text of a profile
// file: Damaged when it holds control characters other than blanks and line
// breaks (random bytes), a section line without its ']' (a file cut off in
// it), or, before the first section, a line that is neither blank, a comment
// (';' or '#') nor "key=value" (some other kind of text). Bytes that are not
// UTF-8 are no damage (older files were written in other code pages). Never
// blocks, never writes.
ProfileFileCheck CheckProfileFile(const QString& file);

// Whether file is another user's regular file that its owner shared with
// this user: writable for this user's group or for everyone (the
// administrator's power to write anything does not count).
bool SharedWithThisUser(const QString& file);

// Moves a damaged file out of the way: renames file (a link itself, not the
// file it leads to) to "<name>.broken-<date and time>" in its folder, when that
// folder is the user's. Returns the new path, or "" when it was not moved.
QString SetProfileFileAside(const QString& file);

// The folders a link may never lead into: /bin, /boot, /dev, /etc, /lib,
// /lib32, /lib64, /libx32, /proc, /run, /sbin, /srv, /sys, /usr and /var (a
// file in the user's home folder never counts as one of them, even where the
// home folder lies under one). Tests name others; an empty list restores these.
QStringList SystemFolders();
void SetSystemFoldersForTests(const QStringList& folders);

// The value of key in section of file: blanks around it removed, and one pair
// of matching quotes ('...' or "...") around the whole value removed. When the
// file, the section or the key is missing, the default with its trailing blanks
// removed. At most kProfileValueMax characters either way. The file is read
// line by line up to the end of the section that holds the key.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& file);

// Sets key in section of file to value, creating the file, the section or the
// key as needed. Every other line of the file stays exactly as it was (its
// bytes and its line ending). Only a Missing or Usable file is written, and a
// missing one only in a folder of this user's. The new contents replace the
// file in one step (a temporary file in the same folder, written, synced and
// renamed over it), so a failed or interrupted write never leaves a
// half-written file; the file keeps its permissions, and a link stays a link
// (the file it leads to gets the new contents). Only in a folder of this
// user's is a temporary made; elsewhere (a shared file in another user's
// folder, a link's file in a shared folder), and where the folder takes no new
// files, the file is written in place: the space for the new contents is
// reserved first, and when a step fails all the same the previous contents are
// written back. A value that would read back differently (blanks or quotes around it)
// is written in double quotes. A file that has no write permission for anyone,
// or none for this user, is left alone (its owner made it read-only). Returns
// false when the file cannot be written
// (every write, the sync and the close are checked), when it or the new
// contents would be larger than kProfileFileMax, for a value longer than a
// read returns (kProfileValueMax), and for names or values that cannot be
// stored on one line (a line break in any of them, a ']' in the section name,
// a '=' in the key, an empty name). On false the file is as it was.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file);

}  // namespace Platform
